#include "deploy/u_utils.h"

#include <cstdio>
#include <limits>

#include "platform/exception.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/toolkit.h"

namespace skelder::deploy {

namespace {

constexpr char kSep = platform::kPathSeparator;

// Cursor shown before the outermost BeginBusy; only meaningful while depth > 0.
int g_busyDepth = 0;
platform::Cursor g_savedCursor = platform::Cursor::Default;

// The directory part of a path without its trailing separator; the root keeps its separator.
std::string ParentDirectory(const std::string& path) {
  const auto pos = path.rfind(kSep);
  if (pos == std::string::npos) return {};
  if (pos == 0) return std::string(1, kSep);
  return path.substr(0, pos);
}

}  // namespace

std::string AddBackslash(const std::string& path) {
  if (!path.empty() && path.back() == kSep) return path;
  return path + kSep;
}

std::string MakeTempFileName() {
  const std::string dir = platform::TempDirectory();
  std::string name = platform::CreateUniqueTempFile(dir, "TTS");
  if (name.empty()) throw Exception("Could not create a temporary file in " + dir);
  return name;
}

void ClearReadOnly(const std::string& file) {
  if (platform::GetEntryKind(file) != platform::EntryKind::File) return;
  const auto attributes = platform::ReadFileAttributes(file, platform::Lookup::Exact);
  if (attributes && (*attributes & platform::kAttrReadOnly) != 0)
    platform::WriteFileAttributes(file, *attributes & ~platform::kAttrReadOnly, platform::Lookup::Exact);
}

void BeginBusy() {
  auto& toolkit = platform::CurrentToolkit();
  if (g_busyDepth == 0) g_savedCursor = toolkit.GetCursor();
  ++g_busyDepth;
  toolkit.SetCursor(platform::Cursor::HourGlass);
  toolkit.NudgeMouse();
}

void EndBusy() {
  auto& toolkit = platform::CurrentToolkit();
  // An unmatched EndBusy must not push the depth below zero, or the next BeginBusy would not
  // remember the cursor it has to restore.
  if (g_busyDepth > 0) --g_busyDepth;
  if (g_busyDepth < 1) toolkit.SetCursor(g_savedCursor);
  toolkit.NudgeMouse();
}

int BusyDepth() { return g_busyDepth; }

bool DirectoryExists(const std::string& path) { return platform::DirectoryExists(path, platform::Lookup::Exact); }

bool ForceDirectories(const std::string& path) {
  std::string dir = path;
  if (!dir.empty() && dir.back() == kSep) dir.pop_back();
#if defined(_WIN32)
  if (dir.size() < 3) return true;  // a drive ("C:") or nothing
#endif
  if (dir.empty() || dir == std::string(1, kSep)) return true;
  if (DirectoryExists(dir)) return true;
  const std::string parent = ParentDirectory(dir);
  if (parent == dir) return true;
  if (!ForceDirectories(parent)) return false;
  // Someone else may have made it in the meantime; what counts is that it exists.
  return platform::MakeDirectory(dir, platform::Lookup::Exact) || DirectoryExists(dir);
}

TSubfolderResult OpenSubfolders(const platform::Folder& location, const std::string& locationPath,
                                const std::string& rel, platform::Folder& folder, std::string& where) {
  std::string path = AddBackslash(locationPath);
  const platform::Folder* parent = &location;
  platform::Folder level;
  size_t start = 0;
  while (start < rel.size()) {
    size_t end = rel.find(kSep, start);
    if (end == std::string::npos) end = rel.size();
    if (end > start) {
      const std::string name = rel.substr(start, end - start);
      path += name;
      platform::Folder next;
      const platform::EntryKind kind = parent->OpenSubfolder(name, next);
      if (kind != platform::EntryKind::Directory) {
        where = path;
        return kind == platform::EntryKind::Link ? TSubfolderResult::Link : TSubfolderResult::Failed;
      }
      level = std::move(next);
      parent = &level;
      path += kSep;
    }
    start = end + 1;
  }
  folder = std::move(level);
  where.clear();
  return TSubfolderResult::Ready;
}

int32_t FileAge(const std::string& path) { return platform::FileAge(path, platform::Lookup::Exact); }

std::string ModuleFileName() { return platform::ModuleFileName(); }

std::string LogFileName() { return platform::ChangeFileExt(ModuleFileName(), ".log"); }

void AppendToLog(const std::string& path, const std::string& text) {
  TLogWriter log;
  log.Append(path, text);
}

void TLogWriter::Append(const std::string& path, const std::string& text) {
  try {
    if (file_ && path != path_) Close();
    if (!file_) {
      file_ = std::fopen(path.c_str(), "ab");
      if (!file_) return;
      path_ = path;
    }
    // One buffer per line, flushed at once: the line goes out in one write.
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text).append("\r\n");
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
      // A full disk or a vanished share: start afresh with the next line.
      Close();
    }
  } catch (...) {
    // The log is a courtesy; losing a line must never stop a deployment.
  }
}

void TLogWriter::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  path_.clear();
}

std::optional<int32_t> ParseInt32(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  int64_t value = 0;
  const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                 : std::numeric_limits<int32_t>::max();
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > limit) return std::nullopt;
  }
  return static_cast<int32_t>(negative ? -value : value);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') continue;
    lines.emplace_back(text, start, i - start);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text, start, std::string::npos);
  return lines;
}

}  // namespace skelder::deploy
