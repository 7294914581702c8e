#pragma once
// Text as the settings, records and replies hold it: decimal numbers and lines.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace skelder::platform {

// A decimal 32-bit integer: optional sign, digits, nothing else; none otherwise or out of range.
std::optional<int32_t> ParseInt32(std::string_view text);

// Splits at CR LF, CR or LF. A line end at the very end of the text adds no empty line.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace skelder::platform
