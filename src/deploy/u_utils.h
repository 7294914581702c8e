#pragma once
// The deployment's shared helpers: a path with its separator, the temporary file, the read-only
// attribute, the busy cursor, and the subfolders below a location (the log is deploy_log.h).
#include <cstdint>
#include <string>

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

// Opens the relative folder `rel` (not empty) below the opened location one level at a time,
// making what is missing, never through a symbolic link: a level that is a link is refused, so
// nothing is written outside the location (its own path may be a link: that is the user's
// choice). On failure `where` is the path of the level that stopped it.
enum class TSubfolderResult { Ready, Link, Failed };
TSubfolderResult OpenSubfolders(const platform::Folder& location, const std::string& locationPath,
                                const std::string& rel, platform::Folder& folder, std::string& where);

}  // namespace skelder::deploy
