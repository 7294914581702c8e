// The console on POSIX. Ctrl-C reaches a waiting read through a pipe that the signal handler
// writes to, so one that comes between a look at the flag and the wait is never lost.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/console.h"
#include "platform/posix/fd_io.h"

namespace skelder::platform::console {
namespace {

volatile sig_atomic_t g_interrupted = 0;
int g_wakePipe[2] = {-1, -1};
struct sigaction g_previous {};

extern "C" void OnInterrupt(int) {
  g_interrupted = 1;
  WakeReaders();
}

void MakeWakePipe() {
  if (g_wakePipe[0] < 0 && ::pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) g_wakePipe[0] = g_wakePipe[1] = -1;
}

void DrainWakePipe() {
  char buffer[64];
  while (g_wakePipe[0] >= 0 && ::read(g_wakePipe[0], buffer, sizeof buffer) > 0) {
  }
}

}  // namespace

void WakeReaders() {
  const int saved = errno;
  if (g_wakePipe[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_wakePipe[1], &byte, 1);
  }
  errno = saved;
}

bool IsTerminal(int fd) { return ::isatty(fd) == 1; }

int Columns(int fd) {
  struct winsize ws {};
  if (::ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 0;
}

bool WriteAll(int fd, const char* data, size_t size) { return posix::WriteAll(fd, data, size); }

ReadState Read(int fd, char* buffer, size_t size, size_t* count) {
  *count = 0;
  MakeWakePipe();
  for (;;) {
    if (TakeInterrupt()) return ReadState::Interrupted;
    pollfd fds[2] = {{fd, POLLIN, 0}, {g_wakePipe[0], POLLIN, 0}};
    const int rc = ::poll(fds, g_wakePipe[0] >= 0 ? 2 : 1, -1);
    if (rc < 0) {
      if (errno == EINTR) return TakeInterrupt() ? ReadState::Interrupted : ReadState::Woken;
      return ReadState::End;
    }
    if (fds[1].revents != 0) {
      DrainWakePipe();
      return TakeInterrupt() ? ReadState::Interrupted : ReadState::Woken;
    }
    if (fds[0].revents == 0) continue;
    const ssize_t n = ::read(fd, buffer, size);
    if (n > 0) {
      *count = static_cast<size_t>(n);
      return ReadState::Data;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return ReadState::End;
  }
}

InterruptScope::InterruptScope() {
  MakeWakePipe();
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a prompt waiting for input hears Ctrl-C at once
  installed_ = ::sigaction(SIGINT, &action, &g_previous) == 0;
  g_interrupted = 0;
  DrainWakePipe();
}

InterruptScope::~InterruptScope() {
  if (installed_) ::sigaction(SIGINT, &g_previous, nullptr);
  g_interrupted = 0;
  DrainWakePipe();
}

bool TakeInterrupt() {
  if (!g_interrupted) return false;
  g_interrupted = 0;
  return true;
}

EchoOffScope::EchoOffScope(int fd) : fd_(fd) {
  termios saved{};
  if (!IsTerminal(fd) || ::tcgetattr(fd, &saved) != 0) return;
  saved_ = saved.c_lflag;
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  active_ = ::tcsetattr(fd, TCSANOW, &quiet) == 0;
}

EchoOffScope::~EchoOffScope() {
  termios current{};
  if (!active_ || ::tcgetattr(fd_, &current) != 0) return;
  current.c_lflag = static_cast<tcflag_t>(saved_);
  ::tcsetattr(fd_, TCSANOW, &current);
}

}  // namespace skelder::platform::console
