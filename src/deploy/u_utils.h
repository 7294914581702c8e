#pragma once
// Small file, path, cursor and log helpers shared by the deployment code.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace skelder::deploy {

// The path with the platform's separator appended unless it already ends with one; an empty
// path gives the separator alone.
std::string AddBackslash(const std::string& path);

// Creates a new, empty, uniquely named file whose name begins with "TTS" in the system's
// temporary directory and returns its full path; the caller deletes it. Raises on failure.
std::string MakeTempFileName();

// Clears the read-only attribute of an existing file, keeping its other attributes. Exact name;
// a symbolic link is left alone (its target's mode is not ours to change).
void ClearReadOnly(const std::string& file);

// Nested busy cursor for the whole screen: the first BeginBusy remembers the cursor, the last
// EndBusy puts it back.
void BeginBusy();
void EndBusy();
int BusyDepth();

// Keeps the busy cursor on for a scope, so every way out of the scope restores it.
class BusyScope {
 public:
  BusyScope() { BeginBusy(); }
  ~BusyScope() { End(); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
  void End() {
    if (active_) {
      active_ = false;
      EndBusy();
    }
  }

 private:
  bool active_ = true;
};

// The helpers below take deployed content's paths (the check-out folder, locations): exact names.
bool DirectoryExists(const std::string& path);
// Makes the directory and any missing parents; false when some level cannot be made.
bool ForceDirectories(const std::string& path);

// Opens the relative folder `rel` (not empty) below the opened location one level at a time,
// making what is missing, never through a symbolic link: a level that is a link is refused, so
// nothing is written outside the location (its own path may be a link: that is the user's
// choice). On failure `where` is the path of the level that stopped it.
enum class TSubfolderResult { Ready, Link, Failed };
TSubfolderResult OpenSubfolders(const platform::Folder& location, const std::string& locationPath,
                                const std::string& rel, platform::Folder& folder, std::string& where);

// Last-write time as the packed 32-bit local date and time; -1 for a missing file or a directory.
int32_t FileAge(const std::string& path);

// The add-in library's own full path.
std::string ModuleFileName();
// The module path with its extension replaced by ".log".
std::string LogFileName();
// Appends the text and CR LF, creating the file first. Never fails its caller: a line that
// cannot be written is dropped.
void AppendToLog(const std::string& path, const std::string& text);

// A log kept open from one line to the next, for a run that writes thousands of them. Each line
// reaches the system whole before Append returns, so what was logged survives a crash of the
// process and the file can be read while the run goes on. Like AppendToLog it never fails its
// caller. Close it before deleting the file.
class TLogWriter {
 public:
  TLogWriter() = default;
  TLogWriter(const TLogWriter&) = delete;
  TLogWriter& operator=(const TLogWriter&) = delete;
  ~TLogWriter() { Close(); }

  void Append(const std::string& path, const std::string& text);
  void Close();

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
};

// A decimal 32-bit integer: optional sign, digits, nothing else; none otherwise or out of range.
std::optional<int32_t> ParseInt32(std::string_view text);

// Splits at CR LF, CR or LF. A line end at the very end of the text adds no empty line.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace skelder::deploy
