#include "test_support.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/environment.h"
#include "platform/files.h"

namespace fs = std::filesystem;

namespace skelder::test {

TempDir::TempDir(const std::string& prefix) {
  // ${TMPDIR:-/tmp} on POSIX, the user's temporary folder on Windows; a name nobody has yet.
  const fs::path base = fs::temp_directory_path();
  static std::mt19937_64 rng(std::random_device{}() ^
                             static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const fs::path candidate = base / (prefix + std::to_string(rng() % 1000000000));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder in " + base.string());
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests make read-only files; give the owner write permission back before removing.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::string TempDir::operator/(const std::string& relative) const {
  return path_ + platform::kPathSeparator + NativePath(relative);
}

std::string NativePath(std::string path) {
  for (char& c : path)
    if (c == '/') c = platform::kPathSeparator;
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

void MakeDirs(const std::string& path) {
  std::error_code ec;
  fs::create_directories(path, ec);
}

void WriteFile(const std::string& path, const std::string& contents) {
  fs::path p(path);
  if (p.has_parent_path()) MakeDirs(p.parent_path().string());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out << contents;
}

std::vector<std::string> ListFiles(const std::string& root) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file()) out.push_back(fs::relative(it->path(), root).generic_string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(cur);
      cur.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

ScopedEnv::ScopedEnv(const std::string& name, std::optional<std::string> value) : name_(name) {
  old_ = platform::EnvironmentVariable(name);
  platform::SetEnvironmentValue(name, value);
}

ScopedEnv::~ScopedEnv() { platform::SetEnvironmentValue(name_, old_); }

std::string BinDir() {
  if (const char* d = std::getenv("SKELDER_BIN_DIR")) return d;
  // Test programs live in the bin folder themselves.
  return fs::path(platform::ModuleFileName()).parent_path().string();
}

ScopedTempFolder::ScopedTempFolder(const std::string& dir)
    : tmpdir_("TMPDIR", dir), tmp_("TMP", dir), temp_("TEMP", dir) {}

std::string BinProgram(const std::string& name) {
#ifdef _WIN32
  return BinDir() + "/" + name + ".exe";
#else
  return BinDir() + "/" + name;
#endif
}

std::string AddinFileName() {
#ifdef _WIN32
  return "Skelder.dll";
#else
  return "Skelder.so";
#endif
}

int32_t PackedAge(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm lt {};
#ifdef _WIN32
  localtime_s(&lt, &t);
#else
  localtime_r(&t, &lt);
#endif
  const auto date = static_cast<uint32_t>(((lt.tm_year - 80) << 9) | ((lt.tm_mon + 1) << 5) | lt.tm_mday);
  const auto tod = static_cast<uint32_t>((lt.tm_hour << 11) | (lt.tm_min << 5) | (lt.tm_sec / 2));
  return static_cast<int32_t>((date << 16) | tod);
}

std::string SourceDir() {
  if (const char* d = std::getenv("SKELDER_SOURCE_DIR")) return d;
  return SKELDER_SOURCE_DIR_DEFAULT;
}

int RunProgram(const std::vector<std::string>& argv, std::string* output, std::chrono::milliseconds limit,
               const std::vector<std::string>& extraEnv) {
  TempDir io("skelder-run-");
  const std::string log = io / "output";
  ChildProcess child(argv, log, extraEnv);
  const int status = child.Wait(limit);
  child.Stop();
  if (output) *output += FileExists(log) ? ReadFile(log) : std::string();
  return status;
}

bool InCi() {
  const char* ci = std::getenv("CI");
  return ci && *ci && std::strcmp(ci, "0") != 0 && std::strcmp(ci, "false") != 0;
}

long PeakMemoryKb() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  if (!::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<long>(counters.PeakWorkingSetSize / 1024);
#else
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
#endif
}

bool RunningUnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

std::string Pattern(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

}  // namespace skelder::test
