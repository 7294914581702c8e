// Files and directories on POSIX. With Lookup::AnyCase a name that does not exist as written is
// found under a spelling that differs only in ASCII letter case, as Windows finds it; with
// Lookup::Exact names are taken as written.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <algorithm>
#include <cctype>
#include <random>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/posix/fd_io.h"

namespace skelder::platform {
namespace {

constexpr size_t kCopyChunk = 256 * 1024;

// Keeps errno across clean-up calls that may overwrite it.
class ErrnoGuard {
 public:
  ErrnoGuard() : saved_(errno) {}
  ~ErrnoGuard() { errno = saved_; }

 private:
  int saved_;
};

// Splits "dir/name" into the directory to open and the last component. A path without a
// separator lives in ".", but the result keeps it relative.
struct SplitPath {
  std::string dir;     // for opendir/stat
  std::string prefix;  // what goes before the name in a result
  std::string name;
};

SplitPath Split(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", "", path};
  std::string dir = slash == 0 ? "/" : path.substr(0, slash);
  return {dir, path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// Index of directory entries by lower-case name, so that a miss does not scan the directory
// again for every file: a deployment of 100,000 new files would otherwise be quadratic. An
// entry is valid while the directory's identity and modification time are what they were when
// it was read; our own changes update the index and its time together.
class DirectoryIndex {
 public:
  std::optional<std::string> Find(const std::string& dir, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    for (int attempt = 0; attempt < 2; ++attempt) {
      Entry* entry = Valid(dir, st);
      if (!entry) entry = Rebuild(dir, st);
      if (!entry) return std::nullopt;
      auto it = entry->names.find(AsciiLower(name));
      if (it == entry->names.end()) return std::nullopt;
      struct stat probe;
      std::string candidate = (dir == "/" ? "/" : dir + "/") + it->second;
      if (::lstat(candidate.c_str(), &probe) == 0) return it->second;
      // Gone behind our back within one time stamp tick: read the directory again.
      entries_.erase(dir);
    }
    return std::nullopt;
  }

  // Before a change of `dir` by us: remembers whether our index of it is current.
  bool Current(const std::string& dir) {
    std::lock_guard<std::mutex> lock(mutex_);
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) return false;
    return Valid(dir, st) != nullptr;
  }

  // After a change by us: applies it to the index when the index was current before it.
  void Changed(const std::string& dir, bool wasCurrent, const std::string& added, const std::string& removed) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(dir);
    if (it == entries_.end()) return;
    struct stat st;
    if (!wasCurrent || ::stat(dir.c_str(), &st) != 0) {
      entries_.erase(it);
      return;
    }
    Entry& entry = it->second;
    if (!removed.empty()) {
      auto found = entry.names.find(AsciiLower(removed));
      if (found != entry.names.end() && found->second == removed) entry.names.erase(found);
    }
    if (!added.empty()) {
      auto [pos, inserted] = entry.names.emplace(AsciiLower(added), added);
      if (!inserted && added < pos->second) pos->second = added;
    }
    entry.mtime = st.st_mtim;
  }

 private:
  struct Entry {
    dev_t dev = 0;
    ino_t ino = 0;
    timespec mtime{};
    std::unordered_map<std::string, std::string> names;  // lower case -> first spelling
  };

  Entry* Valid(const std::string& dir, const struct stat& st) {
    auto it = entries_.find(dir);
    if (it == entries_.end()) return nullptr;
    Entry& e = it->second;
    if (e.dev != st.st_dev || e.ino != st.st_ino || !SameTime(e.mtime, st.st_mtim)) return nullptr;
    return &e;
  }

  Entry* Rebuild(const std::string& dir, const struct stat& st) {
    entries_.erase(dir);
    DIR* d = ::opendir(dir.c_str());
    if (!d) return nullptr;
    if (entries_.size() >= kMaxDirectories) entries_.clear();
    Entry entry;
    entry.dev = st.st_dev;
    entry.ino = st.st_ino;
    entry.mtime = st.st_mtim;
    while (dirent* de = ::readdir(d)) {
      std::string n = de->d_name;
      if (n == "." || n == "..") continue;
      // Several spellings of one name: the smallest in byte order, so the choice is stable.
      auto [pos, inserted] = entry.names.emplace(AsciiLower(n), n);
      if (!inserted && n < pos->second) pos->second = n;
    }
    ::closedir(d);
    return &(entries_[dir] = std::move(entry));
  }

  static constexpr size_t kMaxDirectories = 64;
  std::mutex mutex_;
  std::unordered_map<std::string, Entry> entries_;
};

DirectoryIndex& Index() {
  static DirectoryIndex index;
  return index;
}

// Records a change we make to a directory, so the index stays valid without a new scan.
class DirectoryChange {
 public:
  explicit DirectoryChange(const std::string& path)
      : split_(Split(path)), current_(!split_.name.empty() && Index().Current(split_.dir)) {}
  void Added() {
    if (!split_.name.empty()) Index().Changed(split_.dir, current_, split_.name, {});
  }
  void Removed() {
    if (!split_.name.empty()) Index().Changed(split_.dir, current_, {}, split_.name);
  }

 private:
  SplitPath split_;
  bool current_;
};

// The exact spelling first: it is what nearly every caller has, and it costs one call.
bool StatResolved(const std::string& path, struct stat* st, Lookup lookup = Lookup::AnyCase) {
  if (path.empty()) return false;
  if (::stat(path.c_str(), st) == 0) return true;
  if (lookup == Lookup::Exact || (errno != ENOENT && errno != ENOTDIR)) return false;
  return ::stat(ResolvePath(path).c_str(), st) == 0;
}

std::string Locate(const std::string& path, Lookup lookup) {
  return lookup == Lookup::Exact ? path : ResolvePath(path);
}

using posix::WriteAll;

// `sizeHint` only sizes the buffer: small files (most of a web folder) do not pay for a large
// one, and the loop reads to the end whatever the size was.
bool StreamCopy(int in, int out, off_t sizeHint) {
  size_t size = sizeHint <= 0 ? 4096 : std::min<size_t>(kCopyChunk, static_cast<size_t>(sizeHint) + 1);
  std::unique_ptr<char[]> buffer(new char[size]);
  for (;;) {
    ssize_t n = ::read(in, buffer.get(), size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    if (!WriteAll(out, buffer.get(), static_cast<size_t>(n))) return false;
  }
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  bool Close() {
    if (fd_ < 0) return true;
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }

 private:
  int fd_;
};

bool Fail(int* errorCode) {
  if (errorCode) *errorCode = errno;
  return false;
}

// Partial files: PartialFileStem(name) and kPartialRandomLength random letters and digits.
std::string RandomSuffix() {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mutex mutex;
  static std::mt19937_64 engine{std::random_device{}() ^ (static_cast<uint64_t>(::getpid()) << 32)};
  std::lock_guard<std::mutex> lock(mutex);
  std::string suffix;
  for (size_t i = 0; i < kPartialRandomLength; ++i) suffix += kAlphabet[engine() % (sizeof kAlphabet - 1)];
  return suffix;
}

// Whether a new file may take the place of `to` (relative to `dirFd`). A link there is replaced
// itself, never followed; a read-only file is refused until its attribute is cleared, as on
// Windows. False with errno 0 when `to` is the source itself: nothing to do.
bool CheckReplaceable(int dirFd, const std::string& to, bool failIfExists, const struct stat* source) {
  struct stat st;
  if (::fstatat(dirFd, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;  // missing; a bad folder shows later
  errno = EEXIST;
  if (failIfExists) return false;
  errno = EISDIR;
  if (S_ISDIR(st.st_mode)) return false;
  if (S_ISLNK(st.st_mode)) return true;
  errno = EACCES;
  if (!(st.st_mode & S_IWUSR)) return false;
  errno = 0;
  return !(source && st.st_dev == source->st_dev && st.st_ino == source->st_ino);
}

// A file being written beside its target under a partial name, locked by us from creation to
// rename so that a clean-up can tell it from the leftover of a killed process. Removed unless
// committed. Names are relative to `dirFd` (AT_FDCWD for plain paths).
class PartialFile {
 public:
  explicit PartialFile(int dirFd) : dirFd_(dirFd) {}
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;
  ~PartialFile() {
    ErrnoGuard keep;
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty()) ::unlinkat(dirFd_, name_.c_str(), 0);
  }

  bool Create(const std::string& target, mode_t mode) {
    SplitPath parts = Split(target);
    const std::string stem = PartialFileStem(parts.name);
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = parts.prefix + stem + RandomSuffix();
      int fd = ::openat(dirFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        return false;
      }
      // A clean-up may have taken it for a leftover between open and lock: it removes that one.
      struct stat st;
      bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
      if (busy || ::fstat(fd, &st) != 0 || st.st_nlink == 0) {
        ::close(fd);
        continue;
      }
      fd_ = fd;
      name_ = std::move(name);
      return true;
    }
    errno = EEXIST;
    return false;
  }

  int fd() const { return fd_; }

  // Closes the file (a network file system reports write errors there) and puts it in place,
  // still holding the lock through a second descriptor until it has its final name.
  bool Commit(const std::string& target, bool failIfExists) {
    Fd lock(::dup(fd_));
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return false;
    if (failIfExists) {
      // link() refuses an existing name, so a file that appeared meanwhile is not replaced.
      if (::linkat(dirFd_, name_.c_str(), dirFd_, target.c_str(), 0) == 0) {
        ::unlinkat(dirFd_, name_.c_str(), 0);
        name_.clear();
        return true;
      }
      if (errno == EEXIST) return false;
      // File systems without hard links fall through to a plain rename.
    }
    if (::renameat(dirFd_, name_.c_str(), dirFd_, target.c_str()) != 0) return false;
    name_.clear();
    return true;
  }

 private:
  int dirFd_;
  int fd_ = -1;
  std::string name_;
};

// The copy and the replacing write behind the path functions and Folder: `to` is relative to
// `dirFd`.
bool CopyInto(const std::string& from, int dirFd, const std::string& to, bool failIfExists, int* errorCode) {
  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return Fail(errorCode);
  struct stat srcStat;
  if (::fstat(in.get(), &srcStat) != 0) return Fail(errorCode);
  if (S_ISDIR(srcStat.st_mode)) {
    errno = EISDIR;
    return Fail(errorCode);
  }
  if (!CheckReplaceable(dirFd, to, failIfExists, &srcStat)) {
    if (errno == 0) return true;  // the target is the source itself
    return Fail(errorCode);
  }
  // Write beside the target under a temporary name, then rename: a failed copy leaves no half
  // file and never damages the file it was meant to replace.
  PartialFile partial(dirFd);
  if (!partial.Create(to, 0600)) return Fail(errorCode);
  if (!StreamCopy(in.get(), partial.fd(), srcStat.st_size)) return Fail(errorCode);
  if (::fchmod(partial.fd(), srcStat.st_mode & 07777) != 0) return Fail(errorCode);
  timespec times[2] = {srcStat.st_atim, srcStat.st_mtim};
  if (::futimens(partial.fd(), times) != 0) return Fail(errorCode);
  if (!partial.Commit(to, failIfExists)) return Fail(errorCode);
  return true;
}

bool ReplaceInto(int dirFd, const std::string& to, const std::string& data, int* errorCode) {
  if (!CheckReplaceable(dirFd, to, false, nullptr)) return Fail(errorCode);
  PartialFile partial(dirFd);
  if (!partial.Create(to, 0666)) return Fail(errorCode);
  if (!WriteAll(partial.fd(), data.data(), data.size())) return Fail(errorCode);
  if (!partial.Commit(to, false)) return Fail(errorCode);
  return true;
}

ReadResult ReadRegularAt(int dirFd, const std::string& name, uint64_t maxBytes, std::string& contents) {
  contents.clear();
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer that never comes.
  Fd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return ReadResult::Missing;
    return errno == ELOOP ? ReadResult::NotRegular : ReadResult::Failed;
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return ReadResult::Failed;
  if (!S_ISREG(st.st_mode)) return ReadResult::NotRegular;
  if (static_cast<uint64_t>(st.st_size) > maxBytes) return ReadResult::TooLarge;
  contents.reserve(static_cast<size_t>(st.st_size));
  // The file may grow while it is read: the bound holds for what is read, not what was seen.
  char buffer[64 * 1024];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      contents.clear();
      return ReadResult::Failed;
    }
    if (n == 0) return ReadResult::Ok;
    if (contents.size() + static_cast<size_t>(n) > maxBytes) {
      contents.clear();
      return ReadResult::TooLarge;
    }
    contents.append(buffer, static_cast<size_t>(n));
  }
}

int RemoveAbandonedPartialsAt(int dirFd) {
  // A descriptor of its own for the listing: closedir() closes it.
  int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return 0;
  DIR* d = ::fdopendir(listFd);
  if (!d) {
    ::close(listFd);
    return 0;
  }
  std::vector<std::string> names;
  while (dirent* de = ::readdir(d)) {
    std::string n = de->d_name;
    if (IsPartialFileName(n)) names.push_back(std::move(n));
  }
  ::closedir(d);
  int removed = 0;
  for (const std::string& name : names) {
    Fd file(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) continue;
    struct stat st, now;
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
    // A writer holds its partial file locked from creation to rename: a lock we can take means
    // the writer is gone. The name must still be that file when it goes.
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) continue;
    if (::fstatat(dirFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != st.st_dev ||
        now.st_ino != st.st_ino)
      continue;
    if (::unlinkat(dirFd, name.c_str(), 0) == 0) ++removed;
  }
  return removed;
}

bool TryLockFd(int fd, DirectoryLock::Result& result) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    result = DirectoryLock::Result::Locked;
    return true;
  }
  result = errno == EWOULDBLOCK ? DirectoryLock::Result::Busy : DirectoryLock::Result::Unsupported;
  return false;
}

// Removes everything below the open directory `dirFd` without leaving it through a symbolic
// link: links are unlinked, never entered.
void DeleteContents(int dirFd) {
  DIR* d = ::fdopendir(dirFd);
  if (!d) {
    ::close(dirFd);
    return;
  }
  // The names first: removing entries while reading the directory may skip some.
  std::vector<std::pair<std::string, unsigned char>> names;
  while (dirent* de = ::readdir(d)) {
    std::string n = de->d_name;
    if (n != "." && n != "..") names.emplace_back(std::move(n), de->d_type);
  }
  int fd = ::dirfd(d);
  for (const auto& [n, type] : names) {
    // Most entries are files the directory already typed: they go without a look of their own.
    if (type != DT_DIR && type != DT_UNKNOWN && ::unlinkat(fd, n.c_str(), 0) == 0) continue;
    struct stat st;
    if (::fstatat(fd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      // A folder without write permission cannot be emptied; give it back to the owner first.
      if ((st.st_mode & S_IRWXU) != S_IRWXU) ::fchmodat(fd, n.c_str(), st.st_mode | S_IRWXU, 0);
      int sub = ::openat(fd, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub >= 0) DeleteContents(sub);
      ::unlinkat(fd, n.c_str(), AT_REMOVEDIR);
    } else {
      ::unlinkat(fd, n.c_str(), 0);
    }
  }
  ::closedir(d);
}

}  // namespace

std::string UniversalPathName(const std::string& path) {
  // No drive is mapped here: the full path is the universal one.
  if (path.empty()) return path;
  const char sep = kPathSeparator;
  std::string full = path;
  if (full.front() != sep) {
    std::error_code error;
    std::string cwd = std::filesystem::current_path(error).string();
    if (!error) full = cwd + sep + full;
  }
  bool trailing = full.size() > 1 && full.back() == sep;
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= full.size()) {
    size_t at = full.find(sep, start);
    if (at == std::string::npos) at = full.size();
    std::string part = full.substr(start, at - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = at + 1;
  }
  std::string result;
  for (const auto& part : parts) result += sep + part;
  if (result.empty()) return std::string(1, sep);
  if (trailing) result += sep;
  return result;
}

std::string ResolvePath(const std::string& path) {
  if (path.empty()) return path;
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) return path;
  SplitPath parts = Split(path);
  if (parts.name.empty() || parts.name == "." || parts.name == "..") return path;
  // Windows folds every level, so a folder written in another case is found as well.
  std::string dir = parts.dir;
  std::string prefix = parts.prefix;
  if (parts.dir != "." && parts.dir != "/" && ::lstat(parts.dir.c_str(), &st) != 0) {
    dir = ResolvePath(parts.dir);
    if (dir == parts.dir) return path;
    prefix = dir + "/";
  }
  std::optional<std::string> found = Index().Find(dir, parts.name);
  return found ? prefix + *found : path;
}

std::optional<uint32_t> ReadFileAttributes(const std::string& path, Lookup lookup) {
  struct stat st;
  if (!StatResolved(path, &st, lookup)) return std::nullopt;
  uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= kAttrDirectory;
  if (!(st.st_mode & S_IWUSR)) attributes |= kAttrReadOnly;
  return attributes == 0 ? kAttrNormal : attributes;
}

bool WriteFileAttributes(const std::string& path, uint32_t attributes, Lookup lookup) {
  std::string real = Locate(path, lookup);
  struct stat st;
  if (::lstat(real.c_str(), &st) != 0) return false;
  // A link's target may lie anywhere (outside a deployment location): never change its mode.
  // Read-only on a folder means nothing to Windows; here it would lock the folder's contents.
  if (S_ISLNK(st.st_mode) || S_ISDIR(st.st_mode)) return true;
  mode_t mode = st.st_mode & 07777;
  mode_t wanted = (attributes & kAttrReadOnly) ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
  if (wanted == mode) return true;
  return ::chmod(real.c_str(), wanted) == 0;
}

bool FileExists(const std::string& path, Lookup lookup) {
  auto attributes = ReadFileAttributes(path, lookup);
  return attributes && !(*attributes & kAttrDirectory);
}

bool DirectoryExists(const std::string& path, Lookup lookup) {
  auto attributes = ReadFileAttributes(path, lookup);
  return attributes && (*attributes & kAttrDirectory);
}

bool PathExists(const std::string& path, Lookup lookup) { return ReadFileAttributes(path, lookup).has_value(); }

EntryKind GetEntryKind(const std::string& path) {
  struct stat st;
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) return EntryKind::Missing;
  if (S_ISLNK(st.st_mode)) return EntryKind::Link;
  if (S_ISDIR(st.st_mode)) return EntryKind::Directory;
  if (S_ISREG(st.st_mode)) return EntryKind::File;
  return EntryKind::Other;
}

std::vector<std::string> DirectoryEntries(const std::string& path) {
  std::vector<std::string> names;
  DIR* d = ::opendir(path.c_str());
  if (!d) return names;
  while (dirent* de = ::readdir(d)) {
    std::string n = de->d_name;
    if (n != "." && n != "..") names.push_back(std::move(n));
  }
  ::closedir(d);
  return names;
}

bool MakeDirectory(const std::string& path, Lookup lookup) {
  std::string real = Locate(path, lookup);
  struct stat st;
  if (::lstat(real.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  DirectoryChange change(path);
  if (::mkdir(path.c_str(), 0777) != 0) return false;
  change.Added();
  return true;
}

bool RemoveEmptyDirectory(const std::string& path) {
  std::string real = ResolvePath(path);
  DirectoryChange change(real);
  if (::rmdir(real.c_str()) != 0) return false;
  change.Removed();
  return true;
}

bool RemoveFile(const std::string& path, Lookup lookup) {
  std::string real = Locate(path, lookup);
  struct stat st;
  if (::lstat(real.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  // A read-only file is protected from deletion, as on Windows.
  if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) {
    errno = EACCES;
    return false;
  }
  DirectoryChange change(real);
  if (::unlink(real.c_str()) != 0) return false;
  change.Removed();
  return true;
}

bool DeleteTree(const std::string& path) {
  std::string real = ResolvePath(path);
  struct stat st;
  if (::lstat(real.c_str(), &st) != 0) return errno == ENOENT;
  DirectoryChange change(real);
  if (!S_ISDIR(st.st_mode)) {
    // A link or a file in place of the folder: remove that entry only.
    ::unlink(real.c_str());
  } else {
    if ((st.st_mode & S_IRWXU) != S_IRWXU) ::chmod(real.c_str(), st.st_mode | S_IRWXU);
    int fd = ::open(real.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) DeleteContents(fd);
    ::rmdir(real.c_str());
  }
  bool gone = ::lstat(real.c_str(), &st) != 0;
  if (gone) change.Removed();
  return gone;
}

bool RenameFile(const std::string& from, const std::string& to) {
  std::string source = ResolvePath(from);
  std::string target = ResolvePath(to);
  // A change of letter case only: the target resolves to the source itself.
  if (target == source) target = to;
  DirectoryChange removed(source);
  DirectoryChange added(target);
  if (::rename(source.c_str(), target.c_str()) != 0) return false;
  removed.Removed();
  added.Added();
  return true;
}

bool CopyFileWithTimes(const std::string& source, const std::string& target, bool failIfExists, int* errorCode,
                       Lookup lookup) {
  std::string to = Locate(target, lookup);
  DirectoryChange change(to);
  if (!CopyInto(Locate(source, lookup), AT_FDCWD, to, failIfExists, errorCode)) return false;
  change.Added();
  return true;
}

bool ReplaceFileContents(const std::string& path, const std::string& data, int* errorCode) {
  DirectoryChange change(path);
  if (!ReplaceInto(AT_FDCWD, path, data, errorCode)) return false;
  change.Added();
  return true;
}

ReadResult ReadRegularFile(const std::string& path, uint64_t maxBytes, std::string& contents) {
  return ReadRegularAt(AT_FDCWD, path, maxBytes, contents);
}

int RemoveAbandonedPartialFiles(const std::string& directory) {
  Fd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return dir.get() < 0 ? 0 : RemoveAbandonedPartialsAt(dir.get());
}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void Folder::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool Folder::Open(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd_ >= 0;
}

EntryKind Folder::OpenSubfolder(const std::string& name, Folder& sub) const {
  sub.Close();
  for (int attempt = 0; attempt < 2; ++attempt) {
    sub.fd_ = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub.fd_ >= 0) return EntryKind::Directory;
    if (errno != ENOENT) break;
    // Someone else may make it in the meantime; what counts is that it is a real folder.
    if (::mkdirat(fd_, name.c_str(), 0777) != 0 && errno != EEXIST) return EntryKind::Missing;
  }
  return Kind(name);
}

EntryKind Folder::Kind(const std::string& name) const {
  struct stat st;
  if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::Missing;
  if (S_ISLNK(st.st_mode)) return EntryKind::Link;
  if (S_ISDIR(st.st_mode)) return EntryKind::Directory;
  return S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
}

bool Folder::CopyFileIn(const std::string& source, const std::string& name, int* errorCode) const {
  return CopyInto(source, fd_, name, false, errorCode);
}

bool Folder::ReplaceFileContents(const std::string& name, const std::string& data, int* errorCode) const {
  return ReplaceInto(fd_, name, data, errorCode);
}

ReadResult Folder::ReadRegularFile(const std::string& name, uint64_t maxBytes, std::string& contents) const {
  return ReadRegularAt(fd_, name, maxBytes, contents);
}

void Folder::ClearReadOnly(const std::string& name) const {
  // Through a descriptor of the file itself: a link is not opened, so its target keeps its mode.
  Fd file(::openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat st;
  if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR)) return;
  ::fchmod(file.get(), (st.st_mode & 07777) | S_IWUSR);
}

int Folder::RemoveAbandonedPartialFiles() const { return RemoveAbandonedPartialsAt(fd_); }

DirectoryLock::Result Folder::Lock() const {
  DirectoryLock::Result result;
  TryLockFd(fd_, result);
  return result;
}

DirectoryLock& DirectoryLock::operator=(DirectoryLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

DirectoryLock::Result DirectoryLock::TryLock(const std::string& path) {
  Release();
  Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) return Result::Unsupported;
  Result result;
  if (TryLockFd(fd.get(), result)) fd_ = fd.Release();
  return result;
}

void DirectoryLock::Release() {
  if (fd_ < 0) return;
  ErrnoGuard keep;
  ::close(fd_);  // closing the only descriptor of the lock drops it
  fd_ = -1;
}

bool CreateLockedDirectory(const std::string& path, DirectoryLock& lock) {
  lock.Release();
  DirectoryChange change(path);
  if (::mkdir(path.c_str(), 0700) != 0) return false;
  change.Added();
  Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return false;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    // Busy: a clean-up took it for a dead process's between mkdir and here, and removes it.
    // Without locks on this file system nobody can tell, so nobody removes it either.
    return errno != EWOULDBLOCK;
  }
  struct stat mine, now;
  if (::fstat(fd.get(), &mine) != 0 || ::lstat(path.c_str(), &now) != 0 || mine.st_dev != now.st_dev ||
      mine.st_ino != now.st_ino)
    return false;  // removed by such a clean-up before our lock
  lock.fd_ = fd.Release();
  return true;
}

bool DeleteTreeIfAbandoned(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return false;
  struct stat mine, now;
  if (::fstat(fd.get(), &mine) != 0 || mine.st_uid != ::geteuid()) return false;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
  if (::lstat(path.c_str(), &now) != 0 || mine.st_dev != now.st_dev || mine.st_ino != now.st_ino) return false;
  // Held until the tree is gone: a process that made a directory of this name meanwhile made a
  // new one, with a lock of its own.
  return DeleteTree(path);
}

std::optional<FileTime> GetLastWriteTime(const std::string& path) {
  struct stat st;
  if (!StatResolved(path, &st)) return std::nullopt;
  return FileTime{static_cast<int64_t>(st.st_mtim.tv_sec), static_cast<int32_t>(st.st_mtim.tv_nsec)};
}

bool SetLastWriteTime(const std::string& path, FileTime time) {
  if (time.nanoseconds < 0 || time.nanoseconds >= 1000000000) {
    errno = EINVAL;
    return false;
  }
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(time.seconds);
  times[1].tv_nsec = time.nanoseconds;
  return ::utimensat(AT_FDCWD, ResolvePath(path).c_str(), times, 0) == 0;
}

int32_t PackLocalTime(FileTime time) {
  time_t seconds = static_cast<time_t>(time.seconds);
  struct tm local;
  if (!::localtime_r(&seconds, &local)) return -1;
  int year = local.tm_year + 1900;
  if (year < 1980 || year > 2107) return -1;
  uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) | (static_cast<uint32_t>(local.tm_mon + 1) << 5) |
                  static_cast<uint32_t>(local.tm_mday);
  // A leap second (60) still fits the five bits of seconds / 2.
  uint32_t clock = (static_cast<uint32_t>(local.tm_hour) << 11) | (static_cast<uint32_t>(local.tm_min) << 5) |
                   static_cast<uint32_t>(local.tm_sec / 2);
  return static_cast<int32_t>((date << 16) | clock);
}

int32_t FileAge(const std::string& path, Lookup lookup) {
  struct stat st;
  if (!StatResolved(path, &st, lookup) || S_ISDIR(st.st_mode)) return -1;
  return PackLocalTime(FileTime{static_cast<int64_t>(st.st_mtim.tv_sec), static_cast<int32_t>(st.st_mtim.tv_nsec)});
}

std::optional<uint64_t> GetFileSize(const std::string& path) {
  struct stat st;
  if (!StatResolved(path, &st) || S_ISDIR(st.st_mode)) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

std::string TempDirectory() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = (env && *env) ? env : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::string CreateUniqueTempFile(const std::string& directory, const std::string& prefix) {
  std::string dir = directory.empty() ? TempDirectory() : directory;
  if (dir.back() != '/') dir += '/';
  // Four hex digits, as the name scheme has it; the start varies so that processes rarely
  // collide, and every collision moves on to the next number.
  static std::mutex mutex;
  static uint32_t next = static_cast<uint32_t>(::getpid()) * 2654435761u ^ static_cast<uint32_t>(::time(nullptr));
  std::lock_guard<std::mutex> lock(mutex);
  for (uint32_t attempt = 0; attempt < 0x10000; ++attempt) {
    uint32_t number = (next++ & 0xFFFF);
    if (number == 0) continue;  // the scheme never hands out 0
    char digits[8];
    std::snprintf(digits, sizeof digits, "%X", number);
    std::string path = dir + prefix + digits + ".tmp";
    DirectoryChange change(path);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      change.Added();
      return path;
    }
    if (errno != EEXIST) return {};
  }
  errno = EEXIST;
  return {};
}

namespace {

std::string FindModuleFileName() {
  Dl_info info{};
  std::string name;
  if (::dladdr(reinterpret_cast<void*>(&FindModuleFileName), &info) != 0 && info.dli_fname && *info.dli_fname)
    name = info.dli_fname;
  if (!name.empty() && name[0] == '/') return name;
  // A relative name (how a program was started, or a library loaded by a relative path) is
  // only good while the working directory is the one it was given in.
  if (!name.empty()) {
    if (char* full = ::realpath(name.c_str(), nullptr)) {
      name = full;
      std::free(full);
      return name;
    }
  }
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : name;
}

// Taken when the module is loaded, before anyone changes the working directory.
const std::string g_moduleFileName = FindModuleFileName();

}  // namespace

std::string ModuleFileName() { return g_moduleFileName.empty() ? FindModuleFileName() : g_moduleFileName; }

int LastErrorCode() { return errno; }

bool RegularFileExistsExact(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<OpenFileFacts> GetOpenFileFacts(std::FILE* file) {
  struct stat st;
  if (file == nullptr || ::fstat(::fileno(file), &st) != 0) return std::nullopt;
  OpenFileFacts facts;
  facts.regular = S_ISREG(st.st_mode);
  facts.size = static_cast<int64_t>(st.st_size);
  return facts;
}

bool SetOpenFileSize(std::FILE* file, int64_t size) {
  return file != nullptr && ::ftruncate(::fileno(file), static_cast<off_t>(size < 0 ? 0 : size)) == 0;
}

}  // namespace skelder::platform
