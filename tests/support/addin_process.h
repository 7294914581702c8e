#pragma once
// Runs add-in code the way a host process meets the add-in: the add-in loaded through the system
// loader, its answers read from stdin, its output written to stdout. Each run starts the add-in
// afresh, so its process-wide state (loaded host libraries, cached directories) never leaks from
// one test into the next.
//
// POSIX (posix/): the body runs in a forked child that loads bin/Skelder.so and frees it after the
// body; the parent waits.
// Windows (win32/): a program cannot fork, so the body runs in the test process on a thread of
// its own, as a host that loads, uses and unloads the add-in: Skelder.dll is loaded before the
// body and freed after it, with the standard handles and descriptors pointed at files meanwhile.
#include <chrono>
#include <functional>
#include <string>

namespace skelder::test {

struct ChildResult {
  int exitCode = -1;  // -1: killed by a signal or stopped at the time limit
  bool timedOut = false;
  std::string output;  // stdout and stderr together
  long peakRssKb = 0;  // the child's peak resident memory (POSIX only)
};

// Feeds `input` on stdin, runs `body` and takes its result as the exit status (122 when it
// throws; 123 when the add-in is still loaded after it was freed). At most `limit`: on POSIX the
// child is then killed; on Windows a body that hangs cannot be taken back, so the test program
// ends at once with a message saying so.
ChildResult RunInChild(const std::function<int()>& body, const std::string& input = {},
                       std::chrono::milliseconds limit = std::chrono::seconds(60));

// In the body: a symbol of the add-in of the current run; null when the add-in or the symbol is
// missing (the loader's message goes to stderr).
void* AddinSymbol(const char* name);
// The add-in in the build's bin folder (Skelder.so, Skelder.dll).
std::string AddinPath();

}  // namespace skelder::test
