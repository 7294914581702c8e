#pragma once
// Runs add-in code in a child process, the way a host process meets the add-in: the child loads
// bin/Skelder.so through the dynamic loader, reads its answers from stdin and writes to stdout.
// Each run starts from a fresh process, so the add-in's process-wide state (loaded host
// libraries, cached directories) never leaks from one test into the next.
#include <chrono>
#include <functional>
#include <string>

namespace skelder::test {

struct ChildResult {
  int exitCode = -1;    // -1: killed by a signal or stopped at the time limit
  bool timedOut = false;
  std::string output;   // stdout and stderr together
  long peakRssKb = 0;   // the child's peak resident memory
};

// Forks, feeds `input` on stdin, runs `body` and exits with its result. The parent waits at most
// `limit`, then kills the child.
ChildResult RunInChild(const std::function<int()>& body, const std::string& input = {},
                       std::chrono::milliseconds limit = std::chrono::seconds(60));

// In the child: bin/Skelder.so loaded once (RTLD_NOW | RTLD_LOCAL) and a symbol of it; null when
// either is missing (the loader's message goes to stderr).
void* AddinSymbol(const char* name);
std::string AddinPath();

}  // namespace skelder::test
