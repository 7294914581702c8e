// The Windows backend of RunInChild. A Windows program cannot fork, and a fresh run of the test
// program cannot rebuild the test's state (its temporary folders, the files written between
// runs), so the body runs here as a host runs the add-in: Skelder.dll loaded before it and freed
// after it, so the add-in's process-wide state starts fresh each time.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "addin_process.h"
#include "platform/dynlib.h"
#include "test_support.h"

namespace skelder::test {
namespace {

// The add-in of the run in progress; AddinSymbol looks up in it.
platform::LibraryHandle g_addin = nullptr;

// The standard handles and descriptors 0, 1 and 2 pointed at the run's files for its scope:
// the handles for what reads or writes them directly, the descriptors for the C runtime (the
// add-in's and the body's output goes through them), in binary mode so the bytes are the ones
// written, as on POSIX.
class Redirection {
 public:
  Redirection(const std::string& inPath, const std::string& outPath) {
    std::fflush(stdout);
    std::fflush(stderr);
    for (int i = 0; i < 3; ++i) {
      savedHandles_[i] = ::GetStdHandle(kStdIds[i]);
      savedFds_[i] = ::_dup(i);
    }
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    in_ = ::CreateFileA(inPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    out_ = ::CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in_ == INVALID_HANDLE_VALUE || out_ == INVALID_HANDLE_VALUE) return;
    // Duplicates share the file's position with the handle, so both kinds of writes interleave.
    const HANDLE sources[3] = {in_, out_, out_};
    for (int i = 0; i < 3; ++i) {
      const int fd = Descriptor(sources[i], i == 0 ? _O_RDONLY : _O_WRONLY);
      if (fd < 0 || ::_dup2(fd, i) != 0) return;
      ::_close(fd);
      ::_setmode(i, _O_BINARY);
      ::SetStdHandle(kStdIds[i], sources[i]);
    }
    // Nothing the test program's own stdin buffered, nor an end it met, carries into the run.
    ResetInput();
    ok_ = true;
  }

  ~Redirection() {
    std::fflush(stdout);
    std::fflush(stderr);
    // Replacing a descriptor closed the handle it had, so the process's standard handles become
    // those of the saved duplicates: the same files, under new handle values.
    for (int i = 0; i < 3; ++i) {
      if (savedFds_[i] >= 0) {
        ::_dup2(savedFds_[i], i);
        ::_close(savedFds_[i]);
        ::SetStdHandle(kStdIds[i], reinterpret_cast<HANDLE>(::_get_osfhandle(i)));
      } else {
        ::_close(i);
        ::SetStdHandle(kStdIds[i], savedHandles_[i]);
      }
    }
    ResetInput();
    if (in_ != INVALID_HANDLE_VALUE) ::CloseHandle(in_);
    if (out_ != INVALID_HANDLE_VALUE) ::CloseHandle(out_);
  }

  Redirection(const Redirection&) = delete;
  Redirection& operator=(const Redirection&) = delete;
  bool ok() const { return ok_; }
  // The test program's own error output while the run has it redirected.
  HANDLE SavedError() const {
    return savedFds_[2] >= 0 ? reinterpret_cast<HANDLE>(::_get_osfhandle(savedFds_[2])) : savedHandles_[2];
  }

 private:
  static constexpr DWORD kStdIds[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

  static int Descriptor(HANDLE handle, int flags) {
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
      return -1;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(copy), flags | _O_BINARY);
    if (fd < 0) ::CloseHandle(copy);
    return fd;
  }

  static void ResetInput() {
    std::fflush(stdin);  // the C runtime drops an input stream's buffer here
    std::clearerr(stdin);
  }

  HANDLE savedHandles_[3] = {};
  int savedFds_[3] = {-1, -1, -1};
  HANDLE in_ = INVALID_HANDLE_VALUE;
  HANDLE out_ = INVALID_HANDLE_VALUE;
  bool ok_ = false;
};

struct Run {
  const std::function<int()>* body;
  int code = 121;
};

DWORD WINAPI RunBody(void* param) {
  auto* run = static_cast<Run*>(param);
  try {
    run->code = (*run->body)();
  } catch (...) {
    run->code = 122;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  return 0;
}

// The main thread of POSIX has 8 MiB of stack; the body gets as much here.
constexpr SIZE_T kBodyStack = 8 << 20;

}  // namespace

void* AddinSymbol(const char* name) {
  if (!g_addin) {
    std::fprintf(stderr, "%s is not loaded in this run\n", AddinPath().c_str());
    return nullptr;
  }
  return platform::LibrarySymbol(g_addin, name);
}

ChildResult RunInChild(const std::function<int()>& body, const std::string& input, std::chrono::milliseconds limit) {
  TempDir io("skelder-child-");
  const std::string inPath = io / "stdin";
  const std::string outPath = io / "stdout";
  ChildResult result;
  WriteFile(inPath, input);
  {
    Redirection redirect(inPath, outPath);
    if (!redirect.ok()) return result;
    // Loaded after the handles are set, so whatever the add-in takes at its start is the run's.
    g_addin = platform::OpenLibrary(AddinPath());
    if (!g_addin) std::fprintf(stderr, "cannot load %s: %s\n", AddinPath().c_str(), platform::LastLoadError().c_str());
    Run run{&body};
    HANDLE thread = ::CreateThread(nullptr, kBodyStack, RunBody, &run, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) {
      platform::CloseLibrary(g_addin);
      g_addin = nullptr;
      return result;
    }
    if (::WaitForSingleObject(thread, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
      // A body that hangs holds the add-in and this process's descriptors; nothing in the process
      // can take it back, so the program ends here rather than run on with a half-restored state.
      const std::string message = "RunInChild: the add-in's run did not end within " + std::to_string(limit.count()) +
                                  " ms; the test program ends (its output so far: " + outPath + ")\n";
      DWORD written = 0;
      ::WriteFile(redirect.SavedError(), message.data(), static_cast<DWORD>(message.size()), &written, nullptr);
      ::TerminateProcess(::GetCurrentProcess(), 3);
    }
    ::CloseHandle(thread);
    if (g_addin) {
      platform::CloseLibrary(g_addin);
      g_addin = nullptr;
      // The add-in must go with its last reference: one it keeps on itself outlives every host.
      if (::GetModuleHandleA(AddinPath().c_str())) {
        std::fprintf(stderr, "%s is still loaded after it was freed\n", AddinPath().c_str());
        if (run.code == 0) run.code = 123;
      }
    }
    result.exitCode = run.code & 0xFF;
  }
  std::ifstream captured(outPath, std::ios::binary);
  result.output.assign(std::istreambuf_iterator<char>(captured), std::istreambuf_iterator<char>());
  return result;
}

}  // namespace skelder::test
