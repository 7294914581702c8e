// Files and directories on POSIX, with the lookup rules of Windows: a name that does not exist
// as written is found under a spelling that differs only in ASCII letter case.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/ascii.h"
#include "platform/files.h"

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
bool StatResolved(const std::string& path, struct stat* st) {
  if (path.empty()) return false;
  if (::stat(path.c_str(), st) == 0) return true;
  if (errno != ENOENT && errno != ENOTDIR) return false;
  return ::stat(ResolvePath(path).c_str(), st) == 0;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

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

std::optional<uint32_t> ReadFileAttributes(const std::string& path) {
  struct stat st;
  if (!StatResolved(path, &st)) return std::nullopt;
  uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= kAttrDirectory;
  if (!(st.st_mode & S_IWUSR)) attributes |= kAttrReadOnly;
  return attributes == 0 ? kAttrNormal : attributes;
}

bool WriteFileAttributes(const std::string& path, uint32_t attributes) {
  std::string real = ResolvePath(path);
  struct stat st;
  if (::stat(real.c_str(), &st) != 0) return false;
  // Read-only on a folder means nothing to Windows; here it would lock the folder's contents.
  if (S_ISDIR(st.st_mode)) return true;
  mode_t mode = st.st_mode & 07777;
  mode_t wanted = (attributes & kAttrReadOnly) ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
  if (wanted == mode) return true;
  return ::chmod(real.c_str(), wanted) == 0;
}

bool FileExists(const std::string& path) {
  auto attributes = ReadFileAttributes(path);
  return attributes && !(*attributes & kAttrDirectory);
}

bool DirectoryExists(const std::string& path) {
  auto attributes = ReadFileAttributes(path);
  return attributes && (*attributes & kAttrDirectory);
}

bool PathExists(const std::string& path) { return ReadFileAttributes(path).has_value(); }

bool MakeDirectory(const std::string& path) {
  std::string real = ResolvePath(path);
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

bool RemoveFile(const std::string& path) {
  std::string real = ResolvePath(path);
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

bool CopyFileWithTimes(const std::string& source, const std::string& target, bool failIfExists, int* errorCode) {
  std::string from = ResolvePath(source);
  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return Fail(errorCode);
  struct stat srcStat;
  if (::fstat(in.get(), &srcStat) != 0) return Fail(errorCode);
  if (S_ISDIR(srcStat.st_mode)) {
    errno = EISDIR;
    return Fail(errorCode);
  }

  std::string to = ResolvePath(target);
  struct stat dstStat;
  if (::stat(to.c_str(), &dstStat) == 0) {
    if (failIfExists) {
      errno = EEXIST;
      return Fail(errorCode);
    }
    if (S_ISDIR(dstStat.st_mode)) {
      errno = EISDIR;
      return Fail(errorCode);
    }
    // A read-only target is not replaced until its attribute is cleared, as on Windows.
    if (!(dstStat.st_mode & S_IWUSR)) {
      errno = EACCES;
      return Fail(errorCode);
    }
    if (dstStat.st_dev == srcStat.st_dev && dstStat.st_ino == srcStat.st_ino) return true;
  }

  // Write beside the target under a temporary name, then rename: a failed copy leaves no half
  // file and never damages the file it was meant to replace.
  SplitPath parts = Split(to);
  DirectoryChange change(to);
  std::string pattern = parts.prefix + "." + parts.name + ".XXXXXX";
  std::vector<char> tmpName(pattern.begin(), pattern.end());
  tmpName.push_back('\0');
  Fd out(::mkostemp(tmpName.data(), O_CLOEXEC));
  if (out.get() < 0) return Fail(errorCode);
  std::string tmp = tmpName.data();
  auto abandon = [&]() {
    ErrnoGuard keep;
    out.Close();
    ::unlink(tmp.c_str());
    return Fail(errorCode);
  };

  if (!StreamCopy(in.get(), out.get(), srcStat.st_size)) return abandon();
  if (::fchmod(out.get(), srcStat.st_mode & 07777) != 0) return abandon();
  timespec times[2] = {srcStat.st_atim, srcStat.st_mtim};
  if (::futimens(out.get(), times) != 0) return abandon();
  if (!out.Close()) {
    ErrnoGuard keep;
    ::unlink(tmp.c_str());
    return Fail(errorCode);
  }

  if (failIfExists) {
    // link() refuses an existing name, so a file that appeared meanwhile is not replaced.
    if (::link(tmp.c_str(), to.c_str()) == 0) {
      ::unlink(tmp.c_str());
      change.Added();
      return true;
    }
    if (errno == EEXIST) {
      ErrnoGuard keep;
      ::unlink(tmp.c_str());
      return Fail(errorCode);
    }
    // File systems without hard links fall through to a plain rename.
  }
  if (::rename(tmp.c_str(), to.c_str()) != 0) {
    ErrnoGuard keep;
    ::unlink(tmp.c_str());
    return Fail(errorCode);
  }
  change.Added();
  return true;
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

int32_t FileAge(const std::string& path) {
  struct stat st;
  if (!StatResolved(path, &st) || S_ISDIR(st.st_mode)) return -1;
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
