#pragma once
// Files and directories. Paths are 8-bit strings with the platform's separator.
//
// Two ways of finding a name (Lookup): the add-in's own fixed names (the host libraries,
// KVOAddins.dat, the registry stand-in, the log) are found the way Windows finds them: where a
// file of the exact name does not exist, one whose name differs only in letter case in the same
// directory is taken (AnyCase, the default). Deployed content (the check-out folder, the files
// and folders at a location) is read and written under its exact names (Exact): on a
// case-sensitive file system "Page.html" and "page.html" are two files.
//
// Whatever the lookup, nothing here writes through a symbolic link at the last component of a
// path: a copy or a replacing write replaces the link itself, and attributes are never changed
// on a link's target.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace skelder::platform {

#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// How much of a path is its root: the leading separator ("/", or "\\" for the current drive on
// Windows), or on Windows a drive's "C:\\"; 0 for a relative path. A root keeps its separator.
inline size_t PathRootLength(const std::string& path) {
  if (kPathSeparator == '\\' && path.size() >= 3 && path[1] == ':' && path[2] == kPathSeparator &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
    return 3;
  return !path.empty() && path[0] == kPathSeparator ? 1 : 0;
}

// Windows-style attribute bits; the POSIX backend maps the read-only bit onto the owner's write
// permission and reports directories with kAttrDirectory.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrNormal = 0x80;

enum class Lookup { AnyCase, Exact };

// The path as it exists on disk: the path itself when it exists, else the same directory's
// entry whose last component differs only in letter case, else the path unchanged.
std::string ResolvePath(const std::string& path);

std::optional<uint32_t> ReadFileAttributes(const std::string& path, Lookup lookup = Lookup::AnyCase);
// A symbolic link is left as it is (true): its target is not ours to change.
bool WriteFileAttributes(const std::string& path, uint32_t attributes, Lookup lookup = Lookup::AnyCase);

// exists and is not a directory
bool FileExists(const std::string& path, Lookup lookup = Lookup::AnyCase);
// attributes readable and carry the directory bit
bool DirectoryExists(const std::string& path, Lookup lookup = Lookup::AnyCase);
bool PathExists(const std::string& path, Lookup lookup = Lookup::AnyCase);

// What the name itself is, exact name, a link not followed.
enum class EntryKind { Missing, File, Directory, Link, Other };
EntryKind GetEntryKind(const std::string& path);
// The names in a directory (without "." and ".."); empty when it cannot be read.
std::vector<std::string> DirectoryEntries(const std::string& path);

// one level; false when it fails or exists
bool MakeDirectory(const std::string& path, Lookup lookup = Lookup::AnyCase);
// Makes the directory and any missing parents. One final separator is dropped; a path shorter than
// three characters on Windows (a drive), the root, an existing directory and a path that is its
// own parent count as made; false when some level cannot be made.
bool ForceDirectories(const std::string& path, Lookup lookup = Lookup::AnyCase);
bool RemoveEmptyDirectory(const std::string& path);  // empty directory only
bool RemoveFile(const std::string& path, Lookup lookup = Lookup::AnyCase);
// Deletes a directory and everything in it; silent, best effort; true when it is gone.
bool DeleteTree(const std::string& path);
// Atomic replace where the platform has it.
bool RenameFile(const std::string& from, const std::string& to);

// Copies contents, attributes and last-write time; streams in chunks. On failure returns false
// and stores the system error number ("Error Code: %d") in *errorCode when given. The copy is
// written beside the target under a hidden partial name (PartialFileName) and renamed over it.
bool CopyFileWithTimes(const std::string& source, const std::string& target, bool failIfExists,
                       int* errorCode = nullptr, Lookup lookup = Lookup::AnyCase);

// Replaces the file's contents with `data` the way a copy does (partial name beside it, then a
// rename over the name itself), exact name. Refuses a directory (EISDIR) and a read-only file
// (EACCES), as Windows does. False with *errorCode on failure.
bool ReplaceFileContents(const std::string& path, const std::string& data, int* errorCode = nullptr);

// Reads a regular file of at most `maxBytes`, exact name, never through a link at the last
// component and never waiting on a FIFO or a device.
enum class ReadResult { Ok, Missing, NotRegular, TooLarge, Failed };
ReadResult ReadRegularFile(const std::string& path, uint64_t maxBytes, std::string& contents);

// Partial files: a copy in progress is ".<name>.partial-XXXXXX" beside its target, locked by its
// writer for as long as it writes. True for a name of that form.
bool IsPartialFileName(const std::string& name);
// What a partial file's name starts with for a target named `name`; kPartialRandomLength letters
// and digits follow.
std::string PartialFileStem(const std::string& name);
inline constexpr size_t kPartialRandomLength = 6;
// Removes the partial files in `directory` that no live writer holds (left by a process that
// was killed); the partial files of copies still running are left alone. Returns how many.
int RemoveAbandonedPartialFiles(const std::string& directory);

// An exclusive lock on a directory held by this process until Release or destruction; the
// operating system drops it when the process ends, so a killed process never leaves it locked.
// Nothing is written into the directory. The path may be a link to the directory.
class DirectoryLock {
 public:
  enum class Result { Locked, Busy, Unsupported };
  DirectoryLock() = default;
  ~DirectoryLock() { Release(); }
  DirectoryLock(DirectoryLock&& other) noexcept : fd_(other.fd_) { other.fd_ = kNone; }
  DirectoryLock& operator=(DirectoryLock&& other) noexcept;
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  // Busy: another holder has it (another process, or another lock of this one). Unsupported:
  // the directory cannot be opened or its file system has no such locks (errno tells).
  Result TryLock(const std::string& path);
  bool Held() const { return fd_ != kNone; }
  void Release();

 private:
  friend bool CreateLockedDirectory(const std::string& path, DirectoryLock& lock);
  // A descriptor on POSIX, a handle on Windows.
  static constexpr intptr_t kNone = -1;
  intptr_t fd_ = kNone;
};

// A directory opened once and then used by name, for deployed content: what is done through it
// stays inside that directory, whatever is renamed or linked meanwhile along the path that led
// to it. Names are exact, one component each.
class Folder {
 public:
  Folder() = default;
  ~Folder() { Close(); }
  Folder(Folder&& other) noexcept : fd_(other.fd_), lock_(other.lock_), path_(std::move(other.path_)) {
    other.fd_ = kNone;
    other.lock_ = kNone;
  }
  Folder& operator=(Folder&& other) noexcept;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // A path that is a link to a directory is followed: the caller chose the path.
  bool Open(const std::string& path);
  bool IsOpen() const { return fd_ != kNone; }
  void Close();

  // Opens the subfolder `name`, making it when missing, never through a link: Directory when
  // `sub` is open; otherwise what is there instead (Link, File, Other), or Missing when it could
  // not be made.
  EntryKind OpenSubfolder(const std::string& name, Folder& sub) const;
  EntryKind Kind(const std::string& name) const;
  // As CopyFile (replacing) and ReplaceFileContents, into this folder under `name`.
  bool CopyFileIn(const std::string& source, const std::string& name, int* errorCode) const;
  bool ReplaceFileContents(const std::string& name, const std::string& data, int* errorCode) const;
  ReadResult ReadRegularFile(const std::string& name, uint64_t maxBytes, std::string& contents) const;
  // Clears the read-only attribute of a regular file; a link, and its target, are left alone.
  void ClearReadOnly(const std::string& name) const;
  int RemoveAbandonedPartialFiles() const;
  // An exclusive lock on this folder, held until it is closed (see DirectoryLock).
  DirectoryLock::Result Lock() const;

 private:
  // A descriptor on POSIX; on Windows a handle that keeps the folder from being renamed or
  // removed while it is open, with the folder's path to work by name below it.
  static constexpr intptr_t kNone = -1;
  intptr_t fd_ = kNone;
  mutable intptr_t lock_ = kNone;  // Windows: the folder's lock, held until it is closed
  std::string path_;
};

// Makes a new directory (exact name, one level) that is locked from the moment its name can be
// seen, so that DeleteTreeIfAbandoned never takes it for a dead process's. False when the name
// exists or the directory cannot be made; where the file system has no locks the directory is
// made and left unlocked.
bool CreateLockedDirectory(const std::string& path, DirectoryLock& lock);
// Deletes a directory tree of this user that no live process holds locked (see
// CreateLockedDirectory); a link is never followed. True when it was deleted.
bool DeleteTreeIfAbandoned(const std::string& path);

// Last-write time in seconds since 1970-01-01 UTC (with nanoseconds), none when unreadable.
struct FileTime {
  int64_t seconds = 0;
  int32_t nanoseconds = 0;
};
std::optional<FileTime> GetLastWriteTime(const std::string& path);
bool SetLastWriteTime(const std::string& path, FileTime time);

// The file's last-write time in local time packed as a 32-bit DOS date and time (date in the
// upper 16 bits); -1 for a missing file, a directory, or a time the packed form cannot hold.
int32_t FileAge(const std::string& path, Lookup lookup = Lookup::AnyCase);
// Packs a time the same way; -1 outside 1980..2107.
int32_t PackLocalTime(FileTime time);

std::optional<uint64_t> GetFileSize(const std::string& path);

// The system's temporary directory, with a trailing separator.
std::string TempDirectory();
// Creates a new, empty, uniquely named file "<prefix><hex digits>.tmp" in `directory`,
// exclusively, and returns its full path; empty on failure.
std::string CreateUniqueTempFile(const std::string& directory, const std::string& prefix);

// The form in which a directory the user chose is kept: absolute and normalised ("." and ".."
// resolved, doubled separators dropped, a final separator kept), and on Windows a path on a
// mapped network drive in its UNC form, "\\server\share\rest". Any other path stays the
// full local path it is.
std::string UniversalPathName(const std::string& path);

// Full path of the module (shared library or program) that contains this code.
std::string ModuleFileName();

// The last system error number of the calling thread (errno, or GetLastError on Windows).
int LastErrorCode();

// A regular file under exactly this name (no other letter case, not a folder or a device). For
// deployed content, where "Page.html" and "page.html" are two files.
bool RegularFileExistsExact(const std::string& path);

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
