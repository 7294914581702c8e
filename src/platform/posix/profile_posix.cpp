// Profile files on POSIX, read and written by the rules of the Windows profile API. The file is
// shared with the host and other add-ins, so a write touches only the one line it must and keeps
// every other byte, line ends included.
#include "platform/profile.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/profile_names.h"

namespace skelder::platform {
namespace {

struct Line {
  std::string text;  // without its line end
  std::string end;   // "\r\n", "\n", "\r" or "" for a last line without one
};

using profile_names::Trim;
using profile_names::Unquote;

std::optional<std::vector<Line>> Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  const std::string data = buffer.str();
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < data.size()) {
    size_t stop = data.find_first_of("\r\n", pos);
    if (stop == std::string::npos) {
      lines.push_back({data.substr(pos), ""});
      break;
    }
    size_t endLength = (data[stop] == '\r' && stop + 1 < data.size() && data[stop + 1] == '\n') ? 2 : 1;
    lines.push_back({data.substr(pos, stop - pos), data.substr(stop, endLength)});
    pos = stop + endLength;
  }
  return lines;
}

// "[name]" (blanks allowed around); the section's name, trimmed.
std::optional<std::string> SectionName(const std::string& text) {
  std::string t = Trim(text);
  if (t.empty() || t[0] != '[') return std::nullopt;
  size_t close = t.find(']');
  return Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

// "key=value"; comments (";") and lines without "=" are no entries.
struct Entry {
  std::string key;
  std::string value;
};
std::optional<Entry> ParseEntry(const std::string& text) {
  std::string t = Trim(text);
  if (t.empty() || t[0] == ';' || t[0] == '[') return std::nullopt;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return std::nullopt;
  Entry entry{Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))};
  if (entry.key.empty()) return std::nullopt;
  return entry;
}

// Lines [begin, end) of the first section of that name; begin is the header line.
struct SectionRange {
  size_t header;
  size_t end;
};
std::optional<SectionRange> FindSection(const std::vector<Line>& lines, const std::string& section) {
  std::string wanted = Trim(section);
  for (size_t i = 0; i < lines.size(); ++i) {
    auto name = SectionName(lines[i].text);
    if (!name || !EqualsIgnoringAsciiCase(*name, wanted)) continue;
    size_t j = i + 1;
    while (j < lines.size() && !SectionName(lines[j].text)) ++j;
    return SectionRange{i, j};
  }
  return std::nullopt;
}

std::optional<size_t> FindKey(const std::vector<Line>& lines, const SectionRange& range, const std::string& key) {
  std::string wanted = Trim(key);
  for (size_t i = range.header + 1; i < range.end; ++i) {
    auto entry = ParseEntry(lines[i].text);
    if (entry && EqualsIgnoringAsciiCase(entry->key, wanted)) return i;
  }
  return std::nullopt;
}

// The lines of a file about to be written: empty for a new file; none when the file may not
// be written, or exists but cannot be read (it must not be replaced by a file of one entry).
std::optional<std::vector<Line>> LoadForWrite(const std::string& path) {
  auto attributes = ReadFileAttributes(path);
  if (attributes && (*attributes & (kAttrReadOnly | kAttrDirectory))) return std::nullopt;
  auto loaded = Load(path);
  if (!loaded && attributes) return std::nullopt;
  return loaded ? loaded : std::vector<Line>{};
}

// The file a path names once symbolic links are followed (a relative link from the link's own
// folder); the path itself when it is no link. A loop of links ends after 40 steps, as the
// system's own lookup does, and the write then fails at the link.
std::filesystem::path FollowLinks(std::filesystem::path path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hops) {
    fs::path next = fs::read_symlink(path, ec);
    if (ec) break;
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  return path;
}

// Writes the lines to a temporary file beside the profile and renames it over the profile, so
// a reader never sees half a file and a failed write leaves the old one. A profile that is a
// symbolic link stays one: the file it points to is replaced.
bool Save(const std::string& path, const std::vector<Line>& lines) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path target = FollowLinks(path);
  std::string dir = target.has_parent_path() ? target.parent_path().string() : std::string(".");
  std::string tmp = CreateUniqueTempFile(dir, "." + target.filename().string() + ".");
  if (tmp.empty()) return false;
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    for (const Line& line : lines) out << line.text << line.end;
    out.flush();
    if (!out) {
      fs::remove(tmp, ec);
      return false;
    }
  }
  fs::perms perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
  auto status = fs::status(target, ec);
  if (!ec && fs::exists(status)) perms = status.permissions();
  fs::permissions(tmp, perms, ec);
  if (!RenameFile(tmp, target.string())) {
    fs::remove(tmp, ec);
    return false;
  }
  return true;
}

}  // namespace

std::string ProfileFile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const {
  auto lines = Load(ResolvePath(path_));
  if (!lines) return defaultValue;
  auto range = FindSection(*lines, section);
  if (!range) return defaultValue;
  auto index = FindKey(*lines, *range, key);
  if (!index) return defaultValue;
  return Unquote(ParseEntry((*lines)[*index].text)->value);
}

std::vector<std::pair<std::string, std::string>> ProfileFile::ReadSection(const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> result;
  auto lines = Load(ResolvePath(path_));
  if (!lines) return result;
  auto range = FindSection(*lines, section);
  if (!range) return result;
  for (size_t i = range->header + 1; i < range->end; ++i) {
    auto entry = ParseEntry((*lines)[i].text);
    if (!entry) continue;
    bool seen = false;
    for (const auto& [k, v] : result) seen = seen || EqualsIgnoringAsciiCase(k, entry->key);
    if (!seen) result.emplace_back(entry->key, Unquote(entry->value));
  }
  return result;
}

bool ProfileFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  if (!profile_names::ValidEntry(section, key, value)) return false;
  std::string name = Trim(key);
  std::string sectionName = Trim(section);

  std::string path = ResolvePath(path_);
  auto loaded = LoadForWrite(path);
  if (!loaded) return false;
  std::vector<Line>& lines = *loaded;

  // Lines added after a last line without a line end need one first.
  auto terminateLast = [&]() {
    if (!lines.empty() && lines.back().end.empty()) lines.back().end = "\r\n";
  };

  auto range = FindSection(lines, section);
  if (!range) {
    terminateLast();
    lines.push_back({"[" + sectionName + "]", "\r\n"});
    lines.push_back({name + "=" + value, "\r\n"});
    return Save(path, lines);
  }
  if (auto index = FindKey(lines, *range, key)) {
    Line& line = lines[*index];
    line.text = ParseEntry(line.text)->key + "=" + value;
    return Save(path, lines);
  }
  // After the section's last non-blank line, so blank lines before the next section stay there.
  size_t insertAt = range->header + 1;
  for (size_t i = range->header + 1; i < range->end; ++i) {
    if (!Trim(lines[i].text).empty()) insertAt = i + 1;
  }
  if (lines[insertAt - 1].end.empty()) lines[insertAt - 1].end = "\r\n";
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), Line{name + "=" + value, "\r\n"});
  return Save(path, lines);
}

bool ProfileFile::SectionExists(const std::string& section) const {
  auto lines = Load(ResolvePath(path_));
  return lines && FindSection(*lines, section).has_value();
}

bool ProfileFile::CreateSection(const std::string& section) {
  if (!profile_names::ValidSection(section)) return false;
  std::string path = ResolvePath(path_);
  auto loaded = LoadForWrite(path);
  if (!loaded) return false;
  std::vector<Line>& lines = *loaded;
  if (FindSection(lines, section)) return true;
  if (!lines.empty() && lines.back().end.empty()) lines.back().end = "\r\n";
  lines.push_back({"[" + Trim(section) + "]", "\r\n"});
  return Save(path, lines);
}

bool ProfileFile::DeleteKey(const std::string& section, const std::string& key) {
  std::string path = ResolvePath(path_);
  auto lines = Load(path);
  if (!lines) return !PathExists(path);
  auto range = FindSection(*lines, section);
  if (!range) return true;
  auto index = FindKey(*lines, *range, key);
  if (!index) return true;
  auto attributes = ReadFileAttributes(path);
  if (attributes && (*attributes & kAttrReadOnly)) return false;
  lines->erase(lines->begin() + static_cast<std::ptrdiff_t>(*index));
  return Save(path, *lines);
}

}  // namespace skelder::platform
