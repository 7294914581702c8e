#pragma once
// The parts of a file's path. A name never holds "\" or "/" (such names are refused before they
// reach a path), so both separate on every platform; on Windows ":" ends a drive as well.
#include <string>
#include <string_view>

namespace skelder::platform {

#ifdef _WIN32
inline constexpr std::string_view kNameDelimiters = "\\/:";
#else
inline constexpr std::string_view kNameDelimiters = "\\/";
#endif

// What follows the last delimiter: the file's own name.
inline std::string ExtractFileName(std::string_view path) {
  const size_t at = path.find_last_of(kNameDelimiters);
  return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}

// The extension with its dot, from the last dot of the last component; empty when it has none.
inline std::string ExtractFileExt(std::string_view path) {
  const size_t dot = path.find_last_of('.');
  const size_t at = path.find_last_of(kNameDelimiters);
  if (dot == std::string_view::npos || (at != std::string_view::npos && dot < at)) return {};
  return std::string(path.substr(dot));
}

// The path with its extension replaced by `extension` (which carries its dot, or is empty), or
// `extension` appended when it has none.
inline std::string ChangeFileExt(std::string_view path, std::string_view extension) {
  const size_t ext = ExtractFileExt(path).size();
  return std::string(path.substr(0, path.size() - ext)) + std::string(extension);
}

}  // namespace skelder::platform
