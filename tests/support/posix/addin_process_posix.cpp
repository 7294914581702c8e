// The POSIX backend of RunInChild: each run in a forked child, which loads the add-in once.
#include "addin_process.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "test_support.h"

namespace skelder::test {

namespace {

bool WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

// The add-in as the child loaded it, on the first symbol looked up.
void* g_addin = nullptr;

// Frees the add-in as a host that unloads it does; false when it stays mapped, which a reference
// it keeps on itself causes (a later load would then find the old state).
bool UnloadAddin() {
  if (!g_addin) return true;
  dlclose(g_addin);
  g_addin = nullptr;
  void* still = dlopen(AddinPath().c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  if (!still) return true;
  dlclose(still);
  return false;
}

}  // namespace

void* AddinSymbol(const char* name) {
  if (!g_addin) {
    g_addin = dlopen(AddinPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!g_addin) {
      std::fprintf(stderr, "cannot load %s: %s\n", AddinPath().c_str(), dlerror());
      return nullptr;
    }
  }
  return dlsym(g_addin, name);
}

ChildResult RunInChild(const std::function<int()>& body, const std::string& input, std::chrono::milliseconds limit) {
  TempDir io("skelder-child-");
  const std::string inPath = io / "stdin";
  const std::string outPath = io / "stdout";
  ChildResult result;
  if (!WriteAll(inPath, input)) return result;

  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    const int in = open(inPath.c_str(), O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0) _exit(120);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    int code = 121;
    try {
      code = body();
    } catch (...) {
      code = 122;
    }
    if (!UnloadAddin()) {
      std::fprintf(stderr, "%s is still loaded after it was freed\n", AddinPath().c_str());
      if (code == 0) code = 123;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    // _exit: the parent's temporary directories and test state must not be torn down here.
    _exit(code);
  }

  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  rusage usage{};
  for (;;) {
    const pid_t done = wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.peakRssKb = usage.ru_maxrss;
  std::ifstream captured(outPath, std::ios::binary);
  result.output.assign(std::istreambuf_iterator<char>(captured), std::istreambuf_iterator<char>());
  return result;
}

}  // namespace skelder::test
