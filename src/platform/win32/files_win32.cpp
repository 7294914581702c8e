// Files and directories on Windows, through the system's own calls. The file system finds names
// in any letter case by itself, so a path resolves to itself.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <ctime>
#include <vector>

#include "platform/files.h"

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
  WORD date = 0, time = 0;
  if (!::FileTimeToLocalFileTime(&ft, &local) || !::FileTimeToDosDateTime(&local, &date, &time)) return -1;
  return static_cast<int32_t>((static_cast<uint32_t>(date) << 16) | time);
}

}  // namespace

std::string ResolvePath(const std::string& path) { return path; }

std::optional<uint32_t> ReadFileAttributes(const std::string& path) {
  if (path.empty()) return std::nullopt;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return static_cast<uint32_t>(attributes);
}

bool WriteFileAttributes(const std::string& path, uint32_t attributes) {
  return ::SetFileAttributesA(path.c_str(), attributes) != 0;
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

bool MakeDirectory(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr) != 0; }

bool RemoveEmptyDirectory(const std::string& path) { return ::RemoveDirectoryA(path.c_str()) != 0; }

bool RemoveFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool DeleteTree(const std::string& path) {
  if (!PathExists(path)) return true;
  // The shell's delete: silent, no confirmation, no error display. Its list ends with two zeros.
  std::vector<char> from(path.begin(), path.end());
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

bool CopyFileWithTimes(const std::string& source, const std::string& target, bool failIfExists, int* errorCode) {
  auto fail = [errorCode](DWORD code) {
    if (errorCode) *errorCode = static_cast<int>(code);
    ::SetLastError(code);
    return false;
  };
  if (failIfExists && PathExists(target)) return fail(ERROR_FILE_EXISTS);
  // A copy goes beside the target under a temporary name and then takes the target's place: a
  // failed copy leaves no half file and never damages the file it was meant to replace.
  const size_t sep = target.find_last_of("\\/");
  const std::string dir = sep == std::string::npos ? std::string(".") : target.substr(0, sep);
  char temp[MAX_PATH];
  if (!::GetTempFileNameA(dir.c_str(), "TTS", 0, temp)) return fail(::GetLastError());
  if (!::CopyFileA(source.c_str(), temp, FALSE)) {
    const DWORD code = ::GetLastError();
    ::DeleteFileA(temp);
    return fail(code);
  }
  const DWORD flags = failIfExists ? 0 : MOVEFILE_REPLACE_EXISTING;
  if (!::MoveFileExA(temp, target.c_str(), flags)) {
    const DWORD code = ::GetLastError();
    ::SetFileAttributesA(temp, FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(temp);
    return fail(code);
  }
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

int32_t FileAge(const std::string& path) {
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
  char buffer[MAX_PATH + 1];
  const DWORD size = ::GetTempPathA(sizeof buffer, buffer);
  std::string dir = size > 0 && size < sizeof buffer ? std::string(buffer, size) : std::string("C:\\");
  if (dir.back() != '\\') dir += '\\';
  return dir;
}

std::string CreateUniqueTempFile(const std::string& directory, const std::string& prefix) {
  const std::string dir = directory.empty() ? TempDirectory() : directory;
  char buffer[MAX_PATH];
  if (!::GetTempFileNameA(dir.c_str(), prefix.c_str(), 0, buffer)) return {};
  return buffer;
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

bool RegularFileExistsExact(const std::string& path) {
  auto attributes = ReadFileAttributes(path);
  return attributes && !(*attributes & (kAttrDirectory | FILE_ATTRIBUTE_DEVICE));
}

}  // namespace skelder::platform
