// Being told to end on Windows: the console closing, the user logging off, the system shutting
// down. The handler runs on a thread of its own; it flags the run as cancelled, wakes a waiting
// prompt, and holds the process for a few seconds so that the run can clean up before the system
// ends it.
#include <windows.h>

#include <atomic>

#include "platform/console.h"
#include "platform/termination.h"

namespace skelder::platform {

namespace {

std::atomic<bool> g_requested{false};
int g_depth = 0;  // guards alive; the add-in runs on one thread
HANDLE g_finished = nullptr;

BOOL WINAPI OnTermination(DWORD type) {
  if (type != CTRL_CLOSE_EVENT && type != CTRL_LOGOFF_EVENT && type != CTRL_SHUTDOWN_EVENT) return FALSE;
  g_requested = true;
  console::WakeReaders();
  if (g_finished) ::WaitForSingleObject(g_finished, 4000);
  return FALSE;  // the default handling ends the process
}

}  // namespace

TerminationGuard::TerminationGuard() {
  if (g_depth++ > 0) return;
  outermost_ = true;
  g_requested = false;
  if (!g_finished) g_finished = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ::ResetEvent(g_finished);
  ::SetConsoleCtrlHandler(OnTermination, TRUE);
}

TerminationGuard::~TerminationGuard() {
  --g_depth;
  if (!outermost_) return;
  ::SetConsoleCtrlHandler(OnTermination, FALSE);
  g_requested = false;
  if (g_finished) ::SetEvent(g_finished);
}

bool TerminationRequested() { return g_requested; }

}  // namespace skelder::platform
