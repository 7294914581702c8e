#pragma once
// Helpers shared by all tests: a temporary directory removed at the end, whole-file reads and
// writes, environment overrides, child processes (servers) and ports on loopback.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "test_socket.h"

namespace skelder::test {

// A fresh directory under ${TMPDIR:-/tmp}, deleted with everything in it when destroyed.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "skelder-test-");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path(), the platform's separator, and relative with its "/" turned into that separator
  std::string operator/(const std::string& relative) const;

 private:
  std::string path_;
};

// A path written with "/" as its separator, in the platform's own separator ("\" on Windows):
// expectations on paths follow the platform. FTP paths keep "/" and do not come through here.
std::string NativePath(std::string path);

std::string ReadFile(const std::string& path);  // throws when unreadable
// `size` bytes of every value, the same for the same seed: content no transfer passes by chance.
std::string Pattern(size_t size, uint32_t seed);
bool FileExists(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);  // makes parent dirs
void MakeDirs(const std::string& path);
// Relative paths of every regular file below root, "/"-separated, sorted.
std::vector<std::string> ListFiles(const std::string& root);
// Splits at CR LF, CR or LF; no empty last entry for a final line end.
std::vector<std::string> SplitLines(const std::string& text);

// Sets (or, with nullopt, unsets) an environment variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Points this process's temporary folder (and its children's) at `dir` for the scope: TMPDIR
// for POSIX, TMP and TEMP for Windows.
class ScopedTempFolder {
 public:
  explicit ScopedTempFolder(const std::string& dir);

 private:
  ScopedEnv tmpdir_, tmp_, temp_;
};

// Folder of the build's binaries (the add-in, the stand-in host, ardmoor); a program of it by
// name ("ardmoor", ".exe" added on Windows); the add-in's file name there.
std::string BinDir();
std::string BinProgram(const std::string& name);
std::string AddinFileName();
// The packed local date and time of a POSIX time, as a deployment record keeps it.
int32_t PackedAge(int64_t seconds);
std::string SourceDir();

// True when the tests run in CI: a server that cannot be started must fail there, not skip.
bool InCi();

// The most memory this process has held so far (its peak resident set), in KiB.
long PeakMemoryKb();
// True for a Windows program that runs under wine, whose socket emulation differs from Windows
// in a few places the tests name.
bool RunningUnderWine();

// A child process, killed (SIGTERM, then SIGKILL) and reaped when destroyed. On Windows the
// process is terminated; argv[0] is then a path, not looked up.
class ChildProcess {
 public:
  ChildProcess() = default;
  // argv[0] is looked up on PATH. stdout and stderr go to `logFile` when given.
  ChildProcess(const std::vector<std::string>& argv, const std::string& logFile = {},
               const std::vector<std::string>& extraEnv = {});
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Running();
  pid_t pid() const { return pid_; }
  void Stop();
  // Waits for the process to end by itself; its exit status, or -1 on time-out.
  int Wait(std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
#ifdef _WIN32
  void* process_ = nullptr;  // the process handle
#endif
};

// Runs a program (argv[0] a path) with empty input to its end, at most `limit`, its output and
// errors in *output; its exit status, or -1 when it had to be stopped at the limit.
int RunProgram(const std::vector<std::string>& argv, std::string* output,
               std::chrono::milliseconds limit = std::chrono::seconds(120),
               const std::vector<std::string>& extraEnv = {});

// A TCP port on the host that is free at this moment only: another test may take it next. For a
// program that binds it itself and tries again with another when it loses that race (servers
// that cannot bind port 0 and say which port they got; a client's bound-port range). A port that
// must refuse connections is a RefusingPort (test_socket.h), which holds it.
uint16_t ProbeFreePort(const std::string& host = "127.0.0.1");
// Runs start(port) with ports that were free a moment ago until it succeeds, at most `attempts`
// times: for servers that must be told their port.
bool StartOnAFreePort(const std::string& host, const std::function<bool(uint16_t)>& start, int attempts = 5);
// Polls until something accepts connections at host:port, or the limit passes.
bool WaitForListener(const std::string& host, uint16_t port, std::chrono::milliseconds limit);
// True when a process of ours may bind this port (port 21 needs root).
bool CanBind(const std::string& host, uint16_t port);

// Moves the calling process (a child made for the test) into a network namespace of its own with
// only its loopback up and the system's range of ports to hand out set to `portRange` ("41000
// 41007"). 0 on success; kNoPrivateNetwork when namespaces cannot be had here (not root), other
// values for a step that failed.
inline constexpr int kNoPrivateNetwork = 90;
int EnterPrivateNetwork(const char* portRange);

// Runs a shell command, returns its exit status; output appended to `output` when given.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace skelder::test

// Skips outside CI and fails inside it: for a test whose real component cannot be had.
#define SKELDER_REQUIRE(condition, reason)                                   \
  do {                                                                       \
    if (!(condition)) {                                                      \
      if (::skelder::test::InCi()) FAIL() << "required in CI: " << (reason); \
      GTEST_SKIP() << (reason);                                              \
    }                                                                        \
  } while (0)
