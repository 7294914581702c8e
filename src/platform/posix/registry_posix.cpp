// The current user's registry on POSIX: one INI file, a section per key.
#include <filesystem>
#include <system_error>

#include "platform/ascii.h"
#include "platform/environment.h"
#include "platform/profile.h"
#include "platform/registry.h"

namespace skelder::platform::registry {
namespace {

// "\Software\Vorn\Ardmoor" is the section "Software\Vorn\Ardmoor".
std::string SectionOf(const std::string& key) {
  size_t begin = key.find_first_not_of('\\');
  if (begin == std::string::npos) return {};
  size_t end = key.find_last_not_of('\\');
  return key.substr(begin, end - begin + 1);
}

}  // namespace

std::string BackingFile() { return UserApplicationDataDir() + "Vorn/registry.ini"; }

bool KeyExists(const std::string& key) {
  std::string section = SectionOf(key);
  return !section.empty() && ProfileFile(BackingFile()).SectionExists(section);
}

bool CreateKey(const std::string& key) {
  std::string section = SectionOf(key);
  if (section.empty()) return false;
  std::string file = BackingFile();
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
  return ProfileFile(file).CreateSection(section);
}

std::optional<std::string> ReadString(const std::string& key, const std::string& value) {
  std::string section = SectionOf(key);
  if (section.empty()) return std::nullopt;
  // Read through the section so that an empty value differs from a missing one.
  for (const auto& [name, data] : ProfileFile(BackingFile()).ReadSection(section)) {
    // Registry data is kept exactly as written, quotes included.
    if (EqualsIgnoringAsciiCase(name, value)) return data;
  }
  return std::nullopt;
}

bool WriteString(const std::string& key, const std::string& value, const std::string& data) {
  if (!KeyExists(key)) return false;
  return ProfileFile(BackingFile()).WriteString(SectionOf(key), value, data);
}

}  // namespace skelder::platform::registry
