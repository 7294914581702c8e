// Child processes on Windows: CreateProcess with the output in a file and no input. A test
// under wine starts Windows programs of the build (ardmoor.exe) this way; Linux programs
// (servers) it cannot wait for, so those start as ctest fixtures instead.
#include <windows.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.h"

namespace skelder::test {
namespace {

// One argument as the C runtime splits a command line back into argv.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');  // before the closing quote
  return out + "\"";
}

HANDLE Inheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logFile,
                           const std::vector<std::string>& extraEnv) {
  std::string commandLine;
  for (const auto& a : argv) commandLine += (commandLine.empty() ? "" : " ") + QuoteArgument(a);
  // The child inherits the environment; the extra variables are set around its start only.
  std::vector<std::unique_ptr<ScopedEnv>> scoped;
  for (const auto& e : extraEnv) {
    const size_t eq = e.find('=');
    scoped.push_back(std::make_unique<ScopedEnv>(e.substr(0, eq), eq == std::string::npos ? "" : e.substr(eq + 1)));
  }
  HANDLE input = Inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE output = logFile.empty() ? Inheritable("NUL", GENERIC_WRITE, OPEN_EXISTING)
                                  : Inheritable(logFile, FILE_APPEND_DATA, OPEN_ALWAYS);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = input;
  si.hStdOutput = output;
  si.hStdError = output;
  PROCESS_INFORMATION pi{};
  const BOOL started =
      ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  if (input != INVALID_HANDLE_VALUE) ::CloseHandle(input);
  if (output != INVALID_HANDLE_VALUE) ::CloseHandle(output);
  if (!started) throw std::runtime_error("cannot start " + commandLine);
  ::CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  pid_ = static_cast<pid_t>(pi.dwProcessId);
}

ChildProcess::~ChildProcess() { Stop(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_), process_(other.process_) {
  other.pid_ = -1;
  other.process_ = nullptr;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Stop();
    pid_ = other.pid_;
    process_ = other.process_;
    other.pid_ = -1;
    other.process_ = nullptr;
  }
  return *this;
}

bool ChildProcess::Running() { return process_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

void ChildProcess::Stop() {
  if (!process_) return;
  if (::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
    ::TerminateProcess(process_, 1);
    ::WaitForSingleObject(process_, 5000);
  }
  ::CloseHandle(process_);
  process_ = nullptr;
  pid_ = -1;
}

int ChildProcess::Wait(std::chrono::milliseconds limit) {
  if (!process_) return -1;
  if (::WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  ::GetExitCodeProcess(process_, &code);
  ::CloseHandle(process_);
  process_ = nullptr;
  pid_ = -1;
  return static_cast<int>(code);
}

}  // namespace skelder::test
