// The stand-in host's client library operations over the on-disk repository. Built twice, as
// KVOCCore.Dll and KVOMain.Dll (each exports the part of the list its real counterpart has), and
// once more without XRDVcsInvalidateCache for tests of a host that lacks a function.
#include <sys/stat.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/xr_vcs_types.h"
#include "hostsim_repository.h"
#include "platform/callconv.h"

namespace fs = std::filesystem;
using skelder::host::TCheckOutRequest;
using skelder::host::TEnumFileEntry;
using skelder::host::TEnumFolderEntry;
using skelder::hostsim::Repository;
using skelder::hostsim::RepositoryError;

namespace {

// Status codes of the stand-in; XRDVcsErrorString has their texts.
enum Status : int32_t {
  kOk = 0,
  kNoRepository = 1,
  kRepositoryUnreadable = 2,
  kUnknownFolder = 3,
  kUnknownFile = 4,
  kBadArgument = 5,
  kCheckOutFailed = 6,
  kCheckOutRefused = 7,
  kSimulatedFailure = 8,
  kInternalError = 9,
  kObjectNotFound = 10,
  kBufferTooSmall = skelder::host::kStatusBufferTooSmall,
};

constexpr int32_t kObjectTypeFile = 1;

struct HostStatus {
  int32_t code;
  std::string detail;
};

// Detail of the last failure per code, appended to the code's text.
std::map<int32_t, std::string>& Details() {
  static std::map<int32_t, std::string> details;
  return details;
}

std::string BaseText(int32_t code) {
  switch (code) {
    case kOk:
      return "The operation completed successfully";
    case kNoRepository:
      return std::string("No repository is configured: set ") + skelder::hostsim::kRepositoryEnvVar +
             " to the repository's directory";
    case kRepositoryUnreadable:
      return "The repository could not be read";
    case kUnknownFolder:
      return "The folder does not exist in the repository";
    case kUnknownFile:
      return "The file does not exist in the repository";
    case kBadArgument:
      return "An argument passed to the repository is not valid";
    case kCheckOutFailed:
      return "The file could not be checked out";
    case kCheckOutRefused:
      return "The repository refused to check out the file";
    case kSimulatedFailure:
      return "The repository reported a failure";
    case kInternalError:
      return "An internal error occurred in the repository";
    case kObjectNotFound:
      return "The object does not exist in the repository";
    case kBufferTooSmall:
      return "The buffer is too small for the data";
    default:
      return "Unknown repository error " + std::to_string(code);
  }
}

std::string ErrorText(int32_t code) {
  std::string text = BaseText(code);
  auto it = Details().find(code);
  if (it != Details().end() && !it->second.empty()) text += ": " + it->second;
  return text;
}

// The repository being served, reloaded when the configuration or the metadata on disk changes
// and rescanned after XRDVcsInvalidateCache.
struct Server {
  std::string dir;
  std::optional<Repository> repo;
  std::string metadata;  // the repository's metadata file, looked at before every operation
  struct stat identity {};
  bool stale = true;
#if !defined(_WIN32)
  // The repository's root, held open: the look at the metadata before every operation and the
  // opening of every checked-out file start there instead of walking the whole path.
  int rootFd = -1;
  ~Server() { CloseRoot(); }
  void CloseRoot() {
    if (rootFd >= 0) ::close(rootFd);
    rootFd = -1;
  }
#endif
  // The metadata as it is on disk now; false when it cannot be looked at.
  bool StatMetadata(struct stat& st) const {
#if !defined(_WIN32)
    if (rootFd >= 0) return ::fstatat(rootFd, metadataRel.c_str(), &st, 0) == 0;
#endif
    return ::stat(metadata.c_str(), &st) == 0;
  }
  std::string metadataRel = std::string(skelder::hostsim::kMetadataDirName) + "/" + skelder::hostsim::kMetadataFileName;
};

Server& TheServer() {
  static Server server;
  return server;
}

bool SameIdentity(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mtime == b.st_mtime
#if defined(__linux__)
         && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec
#endif
      ;
}

Repository& Current() {
  Server& s = TheServer();
  std::string dir = Repository::Configured();
  if (dir.empty()) throw HostStatus{kNoRepository, {}};
  struct stat st {};
  if (s.repo && dir == s.dir && s.StatMetadata(st) && SameIdentity(st, s.identity)) {
    if (!s.stale) return *s.repo;
    // Invalidated, but nobody changed the metadata: reading the tree again is enough.
    try {
      s.repo->Scan();
      s.repo->SaveIfChanged();
      if (!s.StatMetadata(st)) st = {};
      s.identity = st;
      s.stale = false;
      return *s.repo;
    } catch (const RepositoryError&) {
      // Opened afresh below, which reports what is wrong.
    }
  }
  s.repo.reset();
  try {
    Repository repo = Repository::Open(dir);
    repo.SaveIfChanged();
    s.metadata = repo.MetadataPath();
#if !defined(_WIN32)
    s.CloseRoot();
    s.rootFd = ::open(repo.Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
    if (!s.StatMetadata(st)) st = {};
    s.identity = st;
    s.repo.emplace(std::move(repo));
    s.dir = dir;
    s.stale = false;
  } catch (const RepositoryError& e) {
    throw HostStatus{kRepositoryUnreadable, e.what()};
  }
  return *s.repo;
}

// Runs an operation and turns every failure into a status; nothing escapes into the caller.
template <typename F>
int32_t Guard(F&& f) {
  try {
    f();
    return kOk;
  } catch (const HostStatus& s) {
    Details()[s.code] = s.detail;
    return s.code;
  } catch (const std::exception& e) {
    Details()[kInternalError] = e.what();
    return kInternalError;
  } catch (...) {
    Details()[kInternalError] = {};
    return kInternalError;
  }
}

bool Unterminated(const Repository& repo) { return repo.HasFault("unterminated"); }

// Copies a string into a host-sized buffer with its zero. With the "unterminated" fault the
// text is padded to fill the whole buffer and no zero is written, as a careless host might.
void Put(char* buffer, size_t capacity, const std::string& text, bool unterminated) {
  if (!buffer) throw HostStatus{kBadArgument, "a buffer is missing"};
  if (unterminated) {
    size_t n = std::min(text.size(), capacity);
    std::memcpy(buffer, text.data(), n);
    std::memset(buffer + n, 'x', capacity - n);
    return;
  }
  if (text.size() + 1 > capacity) throw HostStatus{kBufferTooSmall, {}};
  std::memcpy(buffer, text.c_str(), text.size() + 1);
}

const skelder::hostsim::FolderNode& FolderOrThrow(const Repository& repo, int32_t id) {
  const auto* f = repo.FolderById(id);
  if (!f) throw HostStatus{kUnknownFolder, "id " + std::to_string(id)};
  return *f;
}

// The folders an enumeration visits: the folder, then all its descendants (flag 1) or its
// children (otherwise), in pre-order. Folders() is pre-order, so a subtree is a contiguous run.
std::vector<size_t> FolderRun(const Repository& repo, int32_t id, int32_t flag) {
  const auto& folders = repo.Folders();
  const auto& start = FolderOrThrow(repo, id);
  size_t i = static_cast<size_t>(&start - folders.data());
  std::vector<size_t> run{i};
  for (size_t j = i + 1; j < folders.size() && folders[j].depth > start.depth; ++j)
    if (flag == 1 || folders[j].depth == start.depth + 1) run.push_back(j);
  return run;
}

int32_t ClampSize(uint64_t size) { return size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size); }

int32_t GetFolderInfo(int32_t folderId, char* name, char* displayPath, char* path, char* notes, int32_t* int1,
                      int32_t* int2, int32_t* int3) {
  return Guard([&] {
    Repository& repo = Current();
    if (!name || !displayPath || !path || !notes || !int1 || !int2 || !int3)
      throw HostStatus{kBadArgument, "XRDVcsGetFolderInfo"};
    if (repo.HasFault("folderinfo-fail")) {
      // A failing host may leave half-written outputs behind.
      std::strcpy(name, "partial");
      std::strcpy(path, "partial");
      *int1 = *int2 = *int3 = 7;
      throw HostStatus{kSimulatedFailure, "folder information"};
    }
    const auto& f = FolderOrThrow(repo, folderId);
    bool u = Unterminated(repo);
    Put(name, skelder::host::kFolderNameSize, f.name, u);
    Put(displayPath, skelder::host::kFolderDisplayPathSize, repo.DisplayPath(f.rel), u);
    Put(path, skelder::host::kFolderPathSize, Repository::HostPath(f.rel), u);
    Put(notes, skelder::host::kNotesSize, repo.Notes(f.id), u);
    *int1 = repo.Folders().front().id;
    *int2 = f.parentId;
    *int3 = static_cast<int32_t>(f.files.size());
  });
}

int32_t EnumFolders(int32_t rootId, void* item, void* context, TEnumFolderEntry perEntry, int32_t flag) {
  return Guard([&] {
    Repository& repo = Current();
    if (!perEntry) throw HostStatus{kBadArgument, "XRDVcsEnumFolders"};
    struct Entry {
      std::string name, display, path;
      int32_t id, parent, depth, files;
    };
    // Snapshot first: a callback may call back into the host and make it rescan.
    std::vector<Entry> entries;
    for (size_t i : FolderRun(repo, rootId, flag)) {
      const auto& f = repo.Folders()[i];
      entries.push_back({f.name, repo.DisplayPath(f.rel), Repository::HostPath(f.rel), f.id, f.parentId, f.depth,
                         static_cast<int32_t>(f.files.size())});
    }
    for (const auto& e : entries)
      if (!perEntry(item, context, e.name.c_str(), e.display.c_str(), e.path.c_str(), e.id, e.parent, e.depth, e.files))
        break;
  });
}

int32_t EnumFiles(int32_t folderId, void* item, void* context, TEnumFileEntry perEntry, int32_t flag) {
  return Guard([&] {
    Repository& repo = Current();
    if (!perEntry) throw HostStatus{kBadArgument, "XRDVcsEnumFiles"};
    struct Entry {
      std::string name, display, lock;
      int32_t id, folder, size;
    };
    std::vector<Entry> entries;
    std::vector<size_t> run = FolderRun(repo, folderId, flag);
    // Without flag 1 only the folder's own files.
    if (flag != 1) run.resize(1);
    for (size_t i : run) {
      const auto& folder = repo.Folders()[i];
      std::string display = repo.DisplayPath(folder.rel) + skelder::hostsim::kHostSeparator;
      for (size_t fi : folder.files) {
        const auto& f = repo.Files()[fi];
        entries.push_back({f.name, display + f.name, repo.LockHolder(f.id), f.id, f.folderId, ClampSize(f.size)});
      }
    }
    for (const auto& e : entries) {
      uint8_t locked = e.lock.empty() ? 0 : 1;
      if (!perEntry(item, context, e.name.c_str(), e.display.c_str(), e.lock.c_str(), e.id, e.folder, e.size, 1, 0, 0,
                    0, 0, 0, locked, 0))
        break;
    }
  });
}

#if defined(_WIN32)
// Places a private copy of the repository file `source` in `targetDir` as `name`, with the time
// it was last changed in the repository. A previous copy, read-only or not, is replaced.
void CopyOut(const std::string& source, const std::string& targetDir, const std::string& name) {
  fs::path target(targetDir);
  fs::path dest = target / name;
  std::error_code ec;
  fs::create_directories(target, ec);
  if (!fs::is_directory(target, ec)) throw HostStatus{kCheckOutFailed, "cannot create " + target.string()};
  if (fs::exists(fs::symlink_status(dest, ec))) {
    fs::permissions(dest, fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove(dest, ec);
  }
  if (!fs::copy_file(source, dest, fs::copy_options::overwrite_existing, ec))
    throw HostStatus{kCheckOutFailed, name + ": " + ec.message()};
  auto when = fs::last_write_time(source, ec);
  if (!ec) fs::last_write_time(dest, when, ec);
  if (ec) throw HostStatus{kCheckOutFailed, name + ": " + ec.message()};
}
#else
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

[[noreturn]] void CheckOutError(const std::string& what, int error) {
  throw HostStatus{kCheckOutFailed, what + ": " + std::strerror(error)};
}

// Copies `size` bytes in the kernel where it can, in user space where it cannot.
bool CopyBytes(int in, int out, off_t size) {
  off_t done = 0;
  while (done < size) {
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(size - done), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && done == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) break;
    if (n < 0) return false;
    if (n == 0) return true;  // the file shrank while it was copied
    done += n;
  }
  if (done >= size) return true;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
    for (ssize_t put = 0; put < n;) {
      ssize_t w = ::write(out, buffer + put, static_cast<size_t>(n - put));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return false;
      put += w;
    }
  }
}

// Places a private copy of the repository file `source` (relative to the repository's open root,
// or absolute) in `targetDir` as `name`, with the repository file's mode and the time it was last changed there. The
// target directory is made when it is missing; a previous copy, read-only or not, is replaced, and a link at the
// target's name is removed, never written through. A check-out happens for every file of a deployment, so the common
// case costs a handful of calls: open, look, create, copy, stamp, close.
void CopyOut(const std::string& source, const std::string& targetDir, const std::string& name) {
  Descriptor in(::openat(TheServer().rootFd, source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) CheckOutError(name, errno);
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) CheckOutError(name, errno);
  if (!S_ISREG(st.st_mode)) throw HostStatus{kCheckOutFailed, name + ": not a file"};
  const std::string dest = targetDir.empty() || targetDir.back() == '/' ? targetDir + name : targetDir + "/" + name;
  const mode_t mode = st.st_mode & 07777;
  auto create = [&] { return ::open(dest.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode | S_IWUSR); };
  int fd = create();
  if (fd < 0 && errno == ENOENT) {
    std::error_code ec;
    fs::create_directories(targetDir, ec);
    if (!fs::is_directory(targetDir, ec)) throw HostStatus{kCheckOutFailed, "cannot create " + targetDir};
    fd = create();
  }
  if (fd < 0 && errno == EEXIST) {
    if (::unlink(dest.c_str()) != 0) CheckOutError(name, errno);
    fd = create();
  }
  if (fd < 0) CheckOutError(name, errno);
  Descriptor out(fd);
  bool ok = CopyBytes(in.get(), out.get(), st.st_size);
  int error = errno;
  // The creation mode passed through the umask; the copy carries the repository's own.
  const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
  if (ok && ::fchmod(out.get(), mode) != 0) ok = false, error = errno;
  if (ok && ::futimens(out.get(), times) != 0) ok = false, error = errno;
  if (::close(out.release()) != 0 && ok) ok = false, error = errno;
  if (!ok) {
    ::unlink(dest.c_str());  // no half copy is left to be deployed
    CheckOutError(name, error);
  }
}
#endif

int32_t CheckOutFile(int32_t fileId, int32_t* output, TCheckOutRequest* request) {
  return Guard([&] {
    Repository& repo = Current();
    if (!request || !request->TargetDir) throw HostStatus{kBadArgument, "no target directory"};
    size_t len = strnlen(request->TargetDir, skelder::host::kCheckOutTargetDirSize);
    if (len == 0 || len == static_cast<size_t>(skelder::host::kCheckOutTargetDirSize))
      throw HostStatus{kBadArgument, "target directory"};
    const auto* f = repo.FileById(fileId);
    if (!f) throw HostStatus{kUnknownFile, "id " + std::to_string(fileId)};
    if (repo.HasFault("checkout-fail", f->name) || repo.HasFault("checkout-fail", f->rel))
      throw HostStatus{kCheckOutRefused, f->name};
    // A check-out reported as done that left no file (a disk that filled, a scanner that took it).
    if (repo.HasFault("checkout-nofile", f->name) || repo.HasFault("checkout-nofile", f->rel)) {
      if (output) *output = 1;
      return;
    }
#if defined(_WIN32)
    CopyOut(repo.DiskPath(f->rel), std::string(request->TargetDir, len), f->name);
#else
    // Relative to the repository's open root when there is one.
    CopyOut(TheServer().rootFd >= 0 ? f->rel : repo.DiskPath(f->rel), std::string(request->TargetDir, len), f->name);
#endif
    if (output) *output = 1;
  });
}

int32_t GetFileGroupExtensions(const char* fileName, char* extensions) {
  return Guard([&] {
    Repository& repo = Current();
    if (!fileName || !extensions) throw HostStatus{kBadArgument, "XRDVcsGetFileGroupExtensions"};
    if (repo.HasFault("groupext-fail")) throw HostStatus{kSimulatedFailure, "file groups"};
    Put(extensions, skelder::host::kGroupExtensionsSize, repo.GroupExtensionsFor(fileName), Unterminated(repo));
  });
}

[[maybe_unused]] int32_t GetFolderPermissions(int32_t folderId, uint8_t* area, uint8_t* b1, uint8_t* b2) {
  return Guard([&] {
    Repository& repo = Current();
    if (!area) throw HostStatus{kBadArgument, "XRDVcsGetFolderPermissions"};
    const auto& f = FolderOrThrow(repo, folderId);
    std::memset(area, 0, 4);
    area[0] = repo.DeployAllowed(f.id) ? 1 : 0;
    if (b1) *b1 = 1;
    if (b2) *b2 = 1;
  });
}

// With no buffer (or too small a one) the needed size, zero included, goes back in *size.
int32_t ErrorString(int32_t code, char* buffer, int32_t* size) {
  std::string text = ErrorText(code);
  bool unterminated = false;
  try {
    unterminated = Repository::Configured().empty() ? false : Unterminated(Current());
  } catch (...) {
  }
  return Guard([&] {
    if (!size) throw HostStatus{kBadArgument, "XRDVcsErrorString"};
    int32_t needed = static_cast<int32_t>(text.size() + 1);
    if (!buffer) {
      *size = needed;
      return;
    }
    if (*size < needed && !unterminated) {
      *size = needed;
      throw HostStatus{kBufferTooSmall, {}};
    }
    Put(buffer, static_cast<size_t>(std::max<int32_t>(*size, 0)), text, unterminated);
  });
}

[[maybe_unused]] int32_t GetObjectInfo(int32_t objectId, char* buffer1, char* buffer2, char* text, int32_t* size,
                                       int32_t* objectType) {
  return Guard([&] {
    Repository& repo = Current();
    if (!size || !objectType) throw HostStatus{kBadArgument, "XRGetObjectInfo"};
    std::string name, path, body;
    int32_t type = kObjectTypeFile;
    if (const auto* f = repo.FolderById(objectId)) {
      name = f->name;
      path = Repository::HostPath(f->rel);
      body = repo.Notes(f->id);
      type = skelder::host::kObjectTypeFolder;
    } else if (const auto* file = repo.FileById(objectId)) {
      name = file->name;
      path = Repository::HostPath(file->rel);
    } else {
      throw HostStatus{kObjectNotFound, "id " + std::to_string(objectId)};
    }
    const int32_t needed = static_cast<int32_t>(body.size() + 1);
    if (repo.HasFault("objectinfo-always-84") || !text || *size < needed) {
      *size = needed;
      throw HostStatus{kBufferTooSmall, {}};
    }
    bool u = Unterminated(repo);
    if (buffer1) Put(buffer1, skelder::host::kObjectInfoBuffer1Size, name, u);
    if (buffer2) Put(buffer2, skelder::host::kObjectInfoBuffer2Size, path, u);
    Put(text, static_cast<size_t>(*size), body, u);
    *objectType = type;
  });
}

}  // namespace

// The exports. Each library gets the operations its real counterpart's list names.
extern "C" {

#if defined(HOSTSIM_CORE) && !defined(HOSTSIM_OMIT_INVALIDATE_CACHE)
SKELDER_EXPORT int32_t SKELDER_STDCALL XRDVcsInvalidateCache() {
  return Guard([] { TheServer().stale = true; });
}
#endif

#if defined(HOSTSIM_CORE)
SKELDER_EXPORT int32_t SKELDER_STDCALL XRDVcsGetFolderPermissions(int32_t folderId, uint8_t* area, uint8_t* b1,
                                                                  uint8_t* b2) {
  return GetFolderPermissions(folderId, area, b1, b2);
}
#endif

#if defined(HOSTSIM_MAIN)
SKELDER_EXPORT int32_t SKELDER_STDCALL XRGetObjectInfo(int32_t objectId, char* buffer1, char* buffer2, char* text,
                                                       int32_t* size, int32_t* objectType) {
  return GetObjectInfo(objectId, buffer1, buffer2, text, size, objectType);
}
#endif

SKELDER_EXPORT int32_t SKELDER_STDCALL XRDVcsGetFolderInfo(int32_t folderId, char* name, char* displayPath, char* path,
                                                           char* notes, int32_t* int1, int32_t* int2, int32_t* int3) {
  return GetFolderInfo(folderId, name, displayPath, path, notes, int1, int2, int3);
}

SKELDER_EXPORT int32_t SKELDER_STDCALL XRDVcsEnumFolders(int32_t rootId, void* item, void* context,
                                                         TEnumFolderEntry perEntry, int32_t flag) {
  return EnumFolders(rootId, item, context, perEntry, flag);
}

SKELDER_EXPORT int32_t SKELDER_STDCALL XRDVcsEnumFiles(int32_t folderId, void* item, void* context,
                                                       TEnumFileEntry perEntry, int32_t flag) {
  return EnumFiles(folderId, item, context, perEntry, flag);
}

SKELDER_EXPORT int32_t SKELDER_STDCALL XRDVcsCheckOutFile(int32_t fileId, int32_t* output, TCheckOutRequest* request) {
  return CheckOutFile(fileId, output, request);
}

SKELDER_EXPORT int32_t SKELDER_STDCALL XRDVcsGetFileGroupExtensions(const char* fileName, char* extensions) {
  return GetFileGroupExtensions(fileName, extensions);
}

SKELDER_EXPORT int32_t SKELDER_STDCALL XRDVcsErrorString(int32_t code, char* buffer, int32_t* size) {
  return ErrorString(code, buffer, size);
}

}  // extern "C"
