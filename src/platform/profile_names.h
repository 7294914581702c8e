#pragma once
// What both profile backends refuse to write, and how they trim names and unquote values: a line break, or a key
// that a reader would split differently, would write another entry than the one asked for.
#include <string>
#include <string_view>

namespace skelder::platform::profile_names {

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

inline std::string Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

// A value as the profile API returns it: one pair of matching quotes around it goes.
inline std::string Unquote(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

inline bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

inline bool ValidSection(std::string_view section) {
  const std::string name = Trim(section);
  return !HasLineBreak(section) && !name.empty() && name.find(']') == std::string::npos;
}

inline bool ValidEntry(std::string_view section, std::string_view key, std::string_view value) {
  const std::string name = Trim(key);
  return ValidSection(section) && !HasLineBreak(key) && !HasLineBreak(value) && !name.empty() &&
         name.find('=') == std::string::npos && name[0] != '[' && name[0] != ';';
}

}  // namespace skelder::platform::profile_names
