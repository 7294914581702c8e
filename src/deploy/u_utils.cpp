#include "deploy/u_utils.h"

#include <cstdio>

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

}  // namespace skelder::deploy
