// Files and directories on Windows, through the system's own calls. The file system finds names
// in any letter case by itself, so a path resolves to itself.
#include <windows.h>
#include <io.h>
#include <shellapi.h>
#include <winnetwk.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <map>
#include <vector>

#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/win32/win32_text.h"

namespace skelder::platform {
namespace {

// 100-nanosecond ticks between 1601-01-01 (FILETIME) and 1970-01-01.
constexpr int64_t kEpochTicks = 116444736000000000LL;

FileTime FromFileTime(const FILETIME& ft) {
  const int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) - kEpochTicks;
  int64_t seconds = ticks / 10000000;
  int64_t rest = ticks % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  return FileTime{seconds, static_cast<int32_t>(rest * 100)};
}

FILETIME ToFileTime(FileTime time) {
  const int64_t ticks = time.seconds * 10000000 + time.nanoseconds / 100 + kEpochTicks;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return ft;
}

bool ReadData(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
  return !path.empty() && ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) != 0;
}

// The packed local date and time of a file time; -1 outside what the packed form holds.
int32_t PackFileTime(const FILETIME& ft) {
  FILETIME local;
  SYSTEMTIME fields;
  WORD date = 0, time = 0;
  if (!::FileTimeToLocalFileTime(&ft, &local) || !::FileTimeToSystemTime(&local, &fields)) return -1;
  // The conversion is not relied on to refuse a year it cannot hold: some systems wrap it.
  if (fields.wYear < 1980 || fields.wYear > 2107) return -1;
  if (!::FileTimeToDosDateTime(&local, &date, &time)) return -1;
  return static_cast<int32_t>((static_cast<uint32_t>(date) << 16) | time);
}

// Partial files: PartialFileStem(name) and kPartialRandomLength random letters and digits.

std::string PartialNameFor(const std::string& target) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mutex mutex;
  static std::mt19937_64 engine{std::random_device{}() ^ ::GetCurrentProcessId()};
  const size_t sep = target.find_last_of("\\/");
  const std::string dir = sep == std::string::npos ? std::string() : target.substr(0, sep + 1);
  const std::string name = sep == std::string::npos ? target : target.substr(sep + 1);
  std::lock_guard<std::mutex> lock(mutex);
  for (;;) {
    std::string candidate = dir + PartialFileStem(name);
    for (size_t i = 0; i < kPartialRandomLength; ++i) candidate += kAlphabet[engine() % (sizeof kAlphabet - 1)];
    if (::GetFileAttributesA(candidate.c_str()) == INVALID_FILE_ATTRIBUTES) return candidate;
  }
}

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '\\' || dir.back() == '/') return dir + name;
  return dir + "\\" + name;
}

// Locks are named mutexes keyed by the folder's full path in lower case: the system releases one
// when its owner dies, and nothing is written into the folder. A mutex is its owner's again on a
// second wait, so this process keeps the names it holds.
std::mutex g_heldMutex;
std::map<std::string, intptr_t> g_held;  // lock name -> mutex handle

std::string LockName(const std::string& path) {
  std::string key = AsciiLower(FullPathName(path));
  while (key.size() > 3 && (key.back() == '\\' || key.back() == '/')) key.pop_back();
  uint64_t hash = 1469598103934665603ULL;
  for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ULL;
  char name[64];
  std::snprintf(name, sizeof name, "Local\\SkelderFolderLock-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

DirectoryLock::Result LockByName(const std::string& path, intptr_t& handle) {
  const std::string name = LockName(path);
  std::lock_guard<std::mutex> guard(g_heldMutex);
  if (g_held.count(name)) return DirectoryLock::Result::Busy;
  HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name.c_str());
  if (!mutex) return DirectoryLock::Result::Unsupported;
  const DWORD wait = ::WaitForSingleObject(mutex, 0);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    ::CloseHandle(mutex);
    return DirectoryLock::Result::Busy;
  }
  handle = reinterpret_cast<intptr_t>(mutex);
  g_held.emplace(name, handle);
  return DirectoryLock::Result::Locked;
}

void UnlockByName(intptr_t handle) {
  HANDLE mutex = reinterpret_cast<HANDLE>(handle);
  std::lock_guard<std::mutex> guard(g_heldMutex);
  for (auto it = g_held.begin(); it != g_held.end(); ++it) {
    if (it->second == handle) {
      g_held.erase(it);
      break;
    }
  }
  ::ReleaseMutex(mutex);
  ::CloseHandle(mutex);
}

}  // namespace

std::string ResolvePath(const std::string& path) { return path; }

std::optional<uint32_t> ReadFileAttributes(const std::string& path, Lookup) {
  if (path.empty()) return std::nullopt;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return static_cast<uint32_t>(attributes);
}

bool WriteFileAttributes(const std::string& path, uint32_t attributes, Lookup) {
  // A link is left as it is: its target is not ours to change.
  if (GetEntryKind(path) == EntryKind::Link) return true;
  return ::SetFileAttributesA(path.c_str(), attributes) != 0;
}

bool FileExists(const std::string& path, Lookup) {
  auto attributes = ReadFileAttributes(path);
  return attributes && !(*attributes & kAttrDirectory);
}

bool DirectoryExists(const std::string& path, Lookup) {
  auto attributes = ReadFileAttributes(path);
  return attributes && (*attributes & kAttrDirectory);
}

bool PathExists(const std::string& path, Lookup) { return ReadFileAttributes(path).has_value(); }

bool MakeDirectory(const std::string& path, Lookup) { return ::CreateDirectoryA(path.c_str(), nullptr) != 0; }

bool RemoveEmptyDirectory(const std::string& path) { return ::RemoveDirectoryA(path.c_str()) != 0; }

bool RemoveFile(const std::string& path, Lookup) { return ::DeleteFileA(path.c_str()) != 0; }

bool DeleteTree(const std::string& path) {
  if (!PathExists(path)) return true;
  // The shell wants a full path, without a final separator; a drive's root is no tree to delete.
  std::string full = FullPathName(path);
  while (full.size() > PathRootLength(full) && (full.back() == '\\' || full.back() == '/')) full.pop_back();
  if (full.size() <= PathRootLength(full)) return false;
  // The shell's delete: silent, no confirmation, no error display. Its list ends with two zeros.
  std::vector<char> from(full.begin(), full.end());
  from.push_back('\0');
  from.push_back('\0');
  SHFILEOPSTRUCTA op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.data();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  ::SHFileOperationA(&op);
  return !PathExists(path);
}

bool RenameFile(const std::string& from, const std::string& to) {
  return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool CopyFileWithTimes(const std::string& source, const std::string& target, bool failIfExists, int* errorCode,
                       Lookup) {
  auto fail = [errorCode](DWORD code) {
    if (errorCode) *errorCode = static_cast<int>(code);
    ::SetLastError(code);
    return false;
  };
  if (failIfExists && PathExists(target)) return fail(ERROR_FILE_EXISTS);
  // The copy goes beside the target under a partial name and then takes the target's place: a
  // failed copy leaves no half file and never damages the file it was meant to replace.
  const std::string partial = PartialNameFor(target);
  if (!::CopyFileA(source.c_str(), partial.c_str(), TRUE)) {
    const DWORD code = ::GetLastError();
    ::DeleteFileA(partial.c_str());
    return fail(code);
  }
  ::SetFileAttributesA(partial.c_str(), ::GetFileAttributesA(partial.c_str()) | FILE_ATTRIBUTE_HIDDEN);
  if (!failIfExists) {
    const auto attributes = ReadFileAttributes(target);
    if (attributes && (*attributes & kAttrDirectory)) {
      ::DeleteFileA(partial.c_str());
      return fail(ERROR_DIRECTORY);
    }
    // A read-only target is not replaced until its attribute is cleared.
    if (attributes && (*attributes & kAttrReadOnly) && GetEntryKind(target) != EntryKind::Link) {
      ::DeleteFileA(partial.c_str());
      return fail(ERROR_ACCESS_DENIED);
    }
  }
  const DWORD flags = failIfExists ? 0 : MOVEFILE_REPLACE_EXISTING;
  if (!::MoveFileExA(partial.c_str(), target.c_str(), flags)) {
    const DWORD code = ::GetLastError();
    ::SetFileAttributesA(partial.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(partial.c_str());
    return fail(code);
  }
  // The partial file's hidden mark goes; the source's attributes stay.
  ::SetFileAttributesA(target.c_str(), ::GetFileAttributesA(source.c_str()));
  return true;
}

std::optional<FileTime> GetLastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!ReadData(path, data)) return std::nullopt;
  return FromFileTime(data.ftLastWriteTime);
}

bool SetLastWriteTime(const std::string& path, FileTime time) {
  if (time.nanoseconds < 0 || time.nanoseconds >= 1000000000) return false;
  HANDLE file = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const FILETIME ft = ToFileTime(time);
  const bool ok = ::SetFileTime(file, nullptr, nullptr, &ft) != 0;
  ::CloseHandle(file);
  return ok;
}

int32_t PackLocalTime(FileTime time) { return PackFileTime(ToFileTime(time)); }

int32_t FileAge(const std::string& path, Lookup) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!ReadData(path, data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;
  return PackFileTime(data.ftLastWriteTime);
}

std::optional<uint64_t> GetFileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!ReadData(path, data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
  return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

std::string TempDirectory() {
  // The answer's length without its zero, or the size it needs when it does not fit.
  std::vector<char> buffer(MAX_PATH + 1);
  const auto size =
      CallWithRoom(buffer, 1, 65536, [](char* out, DWORD capacity) { return ::GetTempPathA(capacity, out); });
  std::string dir = size && *size > 0 ? std::string(buffer.data(), *size) : std::string("C:\\");
  if (dir.back() != '\\') dir += '\\';
  return dir;
}

std::string CreateUniqueTempFile(const std::string& directory, const std::string& prefix) {
  const std::string dir = directory.empty() ? TempDirectory() : directory;
  char buffer[MAX_PATH];
  if (!::GetTempFileNameA(dir.c_str(), prefix.c_str(), 0, buffer)) return {};
  return buffer;
}

std::string UniversalPathName(const std::string& path) {
  if (path.empty()) return path;
  const std::string full = FullPathName(path);
  // The network's name for a path on a mapped drive; any other path has none (not connected).
  std::vector<char> buffer(1024);
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD result = ::WNetGetUniversalNameA(full.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buffer.data(), &size);
    if (result == ERROR_MORE_DATA && size > buffer.size() && size <= 65536) {
      buffer.assign(size, '\0');
      continue;
    }
    if (result != NO_ERROR) return full;
    const auto* info = reinterpret_cast<const UNIVERSAL_NAME_INFOA*>(buffer.data());
    if (!info->lpUniversalName || !*info->lpUniversalName) return full;
    return info->lpUniversalName;
  }
}

std::string ModuleFileName() {
  HMODULE self = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ModuleFileName), &self);
  char buffer[1024 + 1];
  const DWORD size = ::GetModuleFileNameA(self, buffer, 1024);
  return std::string(buffer, size);
}

int LastErrorCode() { return static_cast<int>(::GetLastError()); }

EntryKind GetEntryKind(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::Link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Directory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::Other;
  return EntryKind::File;
}

std::vector<std::string> DirectoryEntries(const std::string& path) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = ::FindFirstFileA(Join(path, "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (::FindNextFileA(find, &data));
  ::FindClose(find);
  return names;
}

bool ReplaceFileContents(const std::string& path, const std::string& data, int* errorCode) {
  auto fail = [errorCode](DWORD code) {
    if (errorCode) *errorCode = static_cast<int>(code);
    ::SetLastError(code);
    return false;
  };
  const auto attributes = ReadFileAttributes(path);
  if (attributes && (*attributes & kAttrDirectory)) return fail(ERROR_DIRECTORY);
  if (attributes && (*attributes & kAttrReadOnly) && GetEntryKind(path) != EntryKind::Link)
    return fail(ERROR_ACCESS_DENIED);
  const std::string partial = PartialNameFor(path);
  HANDLE file = ::CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fail(::GetLastError());
  DWORD written = 0;
  const bool ok = data.empty() || (::WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
                                   written == data.size());
  const DWORD code = ::GetLastError();
  ::CloseHandle(file);
  if (!ok || !::MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const DWORD failure = ok ? ::GetLastError() : code;
    ::DeleteFileA(partial.c_str());
    return fail(failure);
  }
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return true;
}

ReadResult ReadRegularFile(const std::string& path, uint64_t maxBytes, std::string& contents) {
  contents.clear();
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!ReadData(path, data)) return ReadResult::Missing;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
    return ReadResult::NotRegular;
  const uint64_t size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  if (size > maxBytes) return ReadResult::TooLarge;
  std::ifstream in(path, std::ios::binary);
  if (!in) return ReadResult::Failed;
  contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return ReadResult::Failed;
  if (contents.size() > maxBytes) {
    contents.clear();
    return ReadResult::TooLarge;
  }
  return ReadResult::Ok;
}

int RemoveAbandonedPartialFiles(const std::string& directory) {
  // A copy still being written holds its partial file open, and Windows refuses to delete it.
  int removed = 0;
  for (const std::string& name : DirectoryEntries(directory)) {
    if (!IsPartialFileName(name)) continue;
    const std::string path = Join(directory, name);
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (::DeleteFileA(path.c_str())) ++removed;
  }
  return removed;
}

DirectoryLock& DirectoryLock::operator=(DirectoryLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    other.fd_ = kNone;
  }
  return *this;
}

DirectoryLock::Result DirectoryLock::TryLock(const std::string& path) {
  Release();
  if (!DirectoryExists(path)) return Result::Unsupported;
  return LockByName(path, fd_);
}

void DirectoryLock::Release() {
  if (fd_ == kNone) return;
  UnlockByName(fd_);
  fd_ = kNone;
}

bool CreateLockedDirectory(const std::string& path, DirectoryLock& lock) {
  lock.Release();
  // Locked before its name can be seen: a clean-up never takes it for a dead process's.
  if (LockByName(path, lock.fd_) != DirectoryLock::Result::Locked) return false;
  if (!::CreateDirectoryA(path.c_str(), nullptr)) {
    lock.Release();
    return false;
  }
  return true;
}

bool DeleteTreeIfAbandoned(const std::string& path) {
  if (GetEntryKind(path) != EntryKind::Directory) return false;
  // Held until the tree is gone.
  DirectoryLock lock;
  if (lock.TryLock(path) != DirectoryLock::Result::Locked) return false;
  return DeleteTree(path);
}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    lock_ = other.lock_;
    path_ = std::move(other.path_);
    other.fd_ = kNone;
    other.lock_ = kNone;
  }
  return *this;
}

void Folder::Close() {
  if (lock_ != kNone) UnlockByName(lock_);
  lock_ = kNone;
  if (fd_ != kNone) ::CloseHandle(reinterpret_cast<HANDLE>(fd_));
  fd_ = kNone;
  path_.clear();
}

bool Folder::Open(const std::string& path) {
  Close();
  // Open without sharing delete: the folder cannot be renamed or removed while we work in it.
  HANDLE dir = ::CreateFileA(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (dir == INVALID_HANDLE_VALUE) return false;
  fd_ = reinterpret_cast<intptr_t>(dir);
  path_ = path;
  return true;
}

EntryKind Folder::OpenSubfolder(const std::string& name, Folder& sub) const {
  const std::string path = Join(path_, name);
  EntryKind kind = GetEntryKind(path);
  if (kind == EntryKind::Missing) {
    if (!::CreateDirectoryA(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
      return EntryKind::Missing;
    kind = GetEntryKind(path);
  }
  if (kind != EntryKind::Directory) return kind;
  return sub.Open(path) ? EntryKind::Directory : EntryKind::Missing;
}

EntryKind Folder::Kind(const std::string& name) const { return GetEntryKind(Join(path_, name)); }

bool Folder::CopyFileIn(const std::string& source, const std::string& name, int* errorCode) const {
  return CopyFileWithTimes(source, Join(path_, name), false, errorCode);
}

bool Folder::ReplaceFileContents(const std::string& name, const std::string& data, int* errorCode) const {
  return platform::ReplaceFileContents(Join(path_, name), data, errorCode);
}

ReadResult Folder::ReadRegularFile(const std::string& name, uint64_t maxBytes, std::string& contents) const {
  return platform::ReadRegularFile(Join(path_, name), maxBytes, contents);
}

void Folder::ClearReadOnly(const std::string& name) const {
  const std::string path = Join(path_, name);
  if (GetEntryKind(path) != EntryKind::File) return;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

int Folder::RemoveAbandonedPartialFiles() const { return platform::RemoveAbandonedPartialFiles(path_); }

DirectoryLock::Result Folder::Lock() const {
  if (lock_ != kNone) return DirectoryLock::Result::Locked;
  return LockByName(path_, lock_);
}

bool RegularFileExistsExact(const std::string& path) {
  auto attributes = ReadFileAttributes(path);
  return attributes && !(*attributes & (kAttrDirectory | FILE_ATTRIBUTE_DEVICE));
}

std::optional<OpenFileFacts> GetOpenFileFacts(std::FILE* file) {
  if (file == nullptr) return std::nullopt;
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(handle, &info)) return std::nullopt;
  OpenFileFacts facts;
  facts.regular = (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0 &&
                  ::GetFileType(handle) == FILE_TYPE_DISK;
  facts.size = static_cast<int64_t>(static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
  return facts;
}

bool SetOpenFileSize(std::FILE* file, int64_t size) {
  return file != nullptr && ::_chsize_s(::_fileno(file), size < 0 ? 0 : size) == 0;
}

}  // namespace skelder::platform
