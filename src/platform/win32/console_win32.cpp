// The console on Windows: the C runtime's descriptors over the console's handles, Ctrl-C through
// a console control handler that wakes a waiting read.
#include <windows.h>
#include <io.h>

#include <atomic>

#include "platform/console.h"

namespace skelder::platform::console {
namespace {

std::atomic<bool> g_interrupted{false};
HANDLE g_wake = nullptr;

BOOL WINAPI OnControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  g_interrupted = true;
  if (g_wake) ::SetEvent(g_wake);
  return TRUE;
}

HANDLE OsHandle(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

}  // namespace

void WakeReaders() {
  if (g_wake) ::SetEvent(g_wake);
}

bool IsTerminal(int fd) { return ::_isatty(fd) != 0; }

int Columns(int fd) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(OsHandle(fd), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const int n = ::_write(fd, data, static_cast<unsigned>(size > 65536 ? 65536 : size));
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

ReadState Read(int fd, char* buffer, size_t size, size_t* count) {
  *count = 0;
  if (!g_wake) g_wake = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (TakeInterrupt()) return ReadState::Interrupted;
  HANDLE input = OsHandle(fd);
  // A console waits for a line; the control handler's event ends the wait on Ctrl-C.
  if (IsTerminal(fd) && g_wake) {
    HANDLE handles[2] = {input, g_wake};
    for (;;) {
      const DWORD which = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
      if (TakeInterrupt()) return ReadState::Interrupted;
      if (which == WAIT_OBJECT_0 + 1) return ReadState::Woken;
      if (which != WAIT_OBJECT_0) return ReadState::End;
      DWORD events = 0;
      // Key releases and focus changes wake the wait too; only typed input is read.
      if (::GetNumberOfConsoleInputEvents(input, &events) && events > 0) {
        INPUT_RECORD record;
        DWORD read = 0;
        bool typed = false;
        while (::PeekConsoleInputA(input, &record, 1, &read) && read == 1) {
          if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
            typed = true;
            break;
          }
          ::ReadConsoleInputA(input, &record, 1, &read);
        }
        if (typed) break;
      }
    }
  }
  const int n = ::_read(fd, buffer, static_cast<unsigned>(size));
  if (TakeInterrupt()) return ReadState::Interrupted;
  if (n <= 0) return ReadState::End;
  *count = static_cast<size_t>(n);
  return ReadState::Data;
}

InterruptScope::InterruptScope() {
  if (!g_wake) g_wake = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  installed_ = ::SetConsoleCtrlHandler(OnControl, TRUE) != 0;
  g_interrupted = false;
}

InterruptScope::~InterruptScope() {
  if (installed_) ::SetConsoleCtrlHandler(OnControl, FALSE);
  g_interrupted = false;
}

bool TakeInterrupt() { return g_interrupted.exchange(false); }

EchoOffScope::EchoOffScope(int fd) : fd_(fd) {
  DWORD mode = 0;
  if (!IsTerminal(fd) || !::GetConsoleMode(OsHandle(fd), &mode)) return;
  saved_ = mode;
  active_ = ::SetConsoleMode(OsHandle(fd), mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
}

EchoOffScope::~EchoOffScope() {
  if (active_) ::SetConsoleMode(OsHandle(fd_), static_cast<DWORD>(saved_));
}

}  // namespace skelder::platform::console
