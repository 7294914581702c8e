// Profile files on Windows: the system's own profile API, so the host's add-in list is read and
// written exactly as the host and every other add-in read and write it. The API looks for a file
// named without a full path in the Windows folder, so every path is made absolute first; it cuts
// an answer to the caller's buffer, so buffers grow until the answer fits.
#include <windows.h>

#include <optional>
#include <vector>

#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/profile_names.h"
#include "platform/win32/win32_text.h"

namespace skelder::platform {
namespace {

using profile_names::Trim;
using profile_names::Unquote;

// A profile answer larger than this is not read at all rather than read in part.
constexpr size_t kLargestAnswer = 64u << 20;

// A profile answer's length: a string cut to the buffer is size - 1 long and a list size - 2, so
// an answer is whole only with two (three) bytes of the buffer left.
constexpr size_t kStringSpare = 2;
constexpr size_t kListSpare = 3;

template <typename Get>
std::optional<std::string> ReadWhole(size_t spare, Get get) {
  std::vector<char> buffer(1024);
  const auto length = CallWithRoom(buffer, spare, kLargestAnswer, get);
  if (!length) return std::nullopt;
  return std::string(buffer.data(), *length);
}

// The zero-separated strings of a list answer.
std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  size_t pos = 0;
  while (pos < list.size()) {
    const size_t end = list.find('\0', pos);
    const size_t stop = end == std::string::npos ? list.size() : end;
    if (stop > pos) items.push_back(list.substr(pos, stop - pos));
    pos = stop + 1;
  }
  return items;
}

std::optional<std::string> RawSection(const std::string& path, const std::string& section) {
  const std::string name = Trim(section);
  return ReadWhole(kListSpare, [&](char* buffer, DWORD size) {
    return ::GetPrivateProfileSectionA(name.c_str(), buffer, size, path.c_str());
  });
}

// The section's entries as the API hands them over ("key=value" lines), with what the POSIX
// backend does not count as an entry left out: comments, lines without "=", later occurrences.
std::vector<std::pair<std::string, std::string>> Entries(const std::string& path, const std::string& section) {
  std::vector<std::pair<std::string, std::string>> result;
  const auto raw = RawSection(path, section);
  if (!raw) return result;
  for (const std::string& line : SplitList(*raw)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Trim(std::string_view(line).substr(0, eq));
    if (key.empty() || key[0] == ';' || key[0] == '[') continue;
    bool seen = false;
    for (const auto& entry : result) seen = seen || EqualsIgnoringAsciiCase(entry.first, key);
    if (!seen) result.emplace_back(std::move(key), Unquote(Trim(std::string_view(line).substr(eq + 1))));
  }
  return result;
}

// The system refuses a read-only file by itself, except where the file system lets the user
// write anyway (an administrator's, or wine's as root): the attribute decides, as for copies.
bool Writable(const std::string& path) {
  const auto attributes = ReadFileAttributes(path);
  return !attributes || !(*attributes & kAttrReadOnly);
}

bool HasKey(const std::string& path, const std::string& section, const std::string& key) {
  const std::string wanted = Trim(key);
  for (const auto& entry : Entries(path, section))
    if (EqualsIgnoringAsciiCase(entry.first, wanted)) return true;
  return false;
}

}  // namespace

std::string ProfileFile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const {
  const std::string path = FullPathName(path_);
  const std::string sectionName = Trim(section), keyName = Trim(key);
  // The API would hand back the default with its trailing blanks cut; it is asked with none, and
  // an empty answer tells an empty value from a missing key by the section's entries.
  const auto value = ReadWhole(kStringSpare, [&](char* buffer, DWORD size) {
    return ::GetPrivateProfileStringA(sectionName.c_str(), keyName.c_str(), "", buffer, size, path.c_str());
  });
  if (!value) return defaultValue;
  if (!value->empty() || HasKey(path, section, key)) return *value;
  return defaultValue;
}

std::vector<std::pair<std::string, std::string>> ProfileFile::ReadSection(const std::string& section) const {
  return Entries(FullPathName(path_), section);
}

bool ProfileFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  if (!profile_names::ValidEntry(section, key, value)) return false;
  const std::string path = FullPathName(path_);
  if (!Writable(path)) return false;
  return ::WritePrivateProfileStringA(Trim(section).c_str(), Trim(key).c_str(), value.c_str(), path.c_str()) != 0;
}

bool ProfileFile::DeleteKey(const std::string& section, const std::string& key) {
  const std::string path = FullPathName(path_);
  // Nothing to delete: nothing is written, and a missing file is not made.
  if (!HasKey(path, section, key)) return true;
  if (!Writable(path)) return false;
  return ::WritePrivateProfileStringA(Trim(section).c_str(), Trim(key).c_str(), nullptr, path.c_str()) != 0;
}

bool ProfileFile::SectionExists(const std::string& section) const {
  const std::string path = FullPathName(path_);
  const auto names = ReadWhole(kListSpare, [&](char* buffer, DWORD size) {
    return ::GetPrivateProfileSectionNamesA(buffer, size, path.c_str());
  });
  if (!names) return false;
  const std::string wanted = Trim(section);
  for (const std::string& name : SplitList(*names))
    if (EqualsIgnoringAsciiCase(Trim(name), wanted)) return true;
  return false;
}

bool ProfileFile::CreateSection(const std::string& section) {
  if (!profile_names::ValidSection(section)) return false;
  if (SectionExists(section)) return true;
  const std::string path = FullPathName(path_);
  if (!Writable(path)) return false;
  // Writing a section's entries as an empty list does not make the section everywhere; removing
  // its only key leaves it, empty. A section that did not exist has no key to lose.
  const std::string name = Trim(section);
  return ::WritePrivateProfileStringA(name.c_str(), "_", "", path.c_str()) != 0 &&
         ::WritePrivateProfileStringA(name.c_str(), "_", nullptr, path.c_str()) != 0;
}

}  // namespace skelder::platform
