#pragma once
// Files and directories. Paths are 8-bit strings with the platform's separator. Where a file of
// the exact name does not exist, lookups find one whose name differs only in letter case in the
// same directory, the way Windows finds files.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace skelder::platform {

#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Windows-style attribute bits; the POSIX backend maps the read-only bit onto the owner's write
// permission and reports directories with kAttrDirectory.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrNormal = 0x80;

// The path as it exists on disk: the path itself when it exists, else the same directory's
// entry whose last component differs only in letter case, else the path unchanged.
std::string ResolvePath(const std::string& path);

std::optional<uint32_t> ReadFileAttributes(const std::string& path);
bool WriteFileAttributes(const std::string& path, uint32_t attributes);

bool FileExists(const std::string& path);       // exists and is not a directory
bool DirectoryExists(const std::string& path);  // attributes readable and carry the directory bit
bool PathExists(const std::string& path);

bool MakeDirectory(const std::string& path);  // one level; false when it fails or exists
bool RemoveEmptyDirectory(const std::string& path);  // empty directory only
bool RemoveFile(const std::string& path);
// Deletes a directory and everything in it; silent, best effort; true when it is gone.
bool DeleteTree(const std::string& path);
// Atomic replace where the platform has it.
bool RenameFile(const std::string& from, const std::string& to);

// Copies contents, attributes and last-write time; streams in chunks. On failure returns false
// and stores the system error number ("Error Code: %d") in *errorCode when given.
bool CopyFileWithTimes(const std::string& source, const std::string& target, bool failIfExists,
              int* errorCode = nullptr);

// Last-write time in seconds since 1970-01-01 UTC (with nanoseconds), none when unreadable.
struct FileTime {
  int64_t seconds = 0;
  int32_t nanoseconds = 0;
};
std::optional<FileTime> GetLastWriteTime(const std::string& path);
bool SetLastWriteTime(const std::string& path, FileTime time);

// The file's last-write time in local time packed as a 32-bit DOS date and time (date in the
// upper 16 bits); -1 for a missing file, a directory, or a time the packed form cannot hold.
int32_t FileAge(const std::string& path);
// Packs a time the same way; -1 outside 1980..2107.
int32_t PackLocalTime(FileTime time);

std::optional<uint64_t> GetFileSize(const std::string& path);

// The system's temporary directory, with a trailing separator.
std::string TempDirectory();
// Creates a new, empty, uniquely named file "<prefix><hex digits>.tmp" in `directory`,
// exclusively, and returns its full path; empty on failure.
std::string CreateUniqueTempFile(const std::string& directory, const std::string& prefix);

// Full path of the module (shared library or program) that contains this code.
std::string ModuleFileName();

// The last system error number of the calling thread (errno, or GetLastError on Windows).
int LastErrorCode();

// An open file as it is, whatever its name has come to mean since it was opened (removed,
// replaced, or another file's name in another letter case): whether it is a regular file and
// its size. None when the system cannot tell.
struct OpenFileFacts {
  bool regular = false;
  int64_t size = 0;
};
std::optional<OpenFileFacts> GetOpenFileFacts(std::FILE* file);
// Cuts or grows the open file itself; false on failure (errno / the system error set).
bool SetOpenFileSize(std::FILE* file, int64_t size);

}  // namespace skelder::platform
