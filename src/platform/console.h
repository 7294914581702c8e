#pragma once
// The console under the terminal backend: whether a descriptor is a terminal and how wide it is,
// whole writes, reads that hear Ctrl-C, and echo off for a secret. File descriptors are the C
// runtime's (0, 1) on both platforms.
#include <cstddef>

namespace skelder::platform::console {

bool IsTerminal(int fd);
// Columns of the terminal behind fd; 0 when unknown.
int Columns(int fd);
// Writes everything; false when the output is gone.
bool WriteAll(int fd, const char* data, size_t size);

// What one Read brought.
enum class ReadState { Data, End, Interrupted, Woken };
// Waits for input on fd and reads what is there into buffer (Data, with *count > 0), the end of
// the input (End; an unreadable input counts as its end), a Ctrl-C (Interrupted), or a wake-up
// (Woken: another signal came; the caller looks at its own flags and may read again),
// whichever comes first. A Ctrl-C or wake-up that comes before the wait starts is not lost.
ReadState Read(int fd, char* buffer, size_t size, size_t* count);
// Ends a Read that waits, with Woken. Safe to call from a signal handler.
void WakeReaders();

// Ctrl-C is the user's answer, not the end of the program, while one of these lives (the
// outermost modal form holds it); the previous handling comes back afterwards.
class InterruptScope {
 public:
  InterruptScope();
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  bool installed_ = false;
};
// True once for each Ctrl-C that came while a scope lived.
bool TakeInterrupt();

// Typed input is not shown while one of these lives (when fd is a terminal).
class EchoOffScope {
 public:
  explicit EchoOffScope(int fd);
  ~EchoOffScope();
  EchoOffScope(const EchoOffScope&) = delete;
  EchoOffScope& operator=(const EchoOffScope&) = delete;
  bool Active() const { return active_; }

 private:
  int fd_;
  bool active_ = false;
  unsigned long saved_ = 0;
};

}  // namespace skelder::platform::console
