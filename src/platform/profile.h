#pragma once
// Profile (INI) files with the rules of the Windows profile API: section and key names compare
// without letter case, the first occurrence wins, a write replaces the value in place or appends
// the key at the end of its section (or a new section at the end of the file) and leaves every
// other line alone; writing creates the file. Each call reads the file afresh. On Windows the
// system's profile API does the work; on POSIX the same rules are implemented here. Both refuse
// what would write another entry than the one asked for (line breaks, "=" in a key).
#include <string>
#include <utility>
#include <vector>

namespace skelder::platform {

class ProfileFile {
 public:
  explicit ProfileFile(std::string path) : path_(std::move(path)) {}

  const std::string& Path() const { return path_; }

  std::string ReadString(const std::string& section, const std::string& key, const std::string& defaultValue) const;
  // Every "key=value" entry of the section (its first occurrence), in file order.
  std::vector<std::pair<std::string, std::string>> ReadSection(const std::string& section) const;
  bool WriteString(const std::string& section, const std::string& key, const std::string& value);
  bool DeleteKey(const std::string& section, const std::string& key);
  // Whether a section of that name exists, even without entries.
  bool SectionExists(const std::string& section) const;
  // Appends an empty "[section]" when none of that name exists; creates the file.
  bool CreateSection(const std::string& section);

 private:
  std::string path_;
};

}  // namespace skelder::platform
