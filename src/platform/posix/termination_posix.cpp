#include "platform/termination.h"

#include <signal.h>

#include "platform/console.h"
namespace skelder::platform {

namespace {

volatile sig_atomic_t g_signal = 0;
int g_depth = 0;  // guards alive; the add-in runs on one thread
constexpr int kSignals[] = {SIGTERM, SIGHUP};
struct sigaction g_previous[2];
bool g_installed[2] = {false, false};

extern "C" void OnTermination(int sig) {
  g_signal = sig;
  console::WakeReaders();  // a prompt waiting for input answers at once
}

}  // namespace

TerminationGuard::TerminationGuard() {
  if (g_depth++ > 0) return;
  outermost_ = true;
  g_signal = 0;
  for (int i = 0; i < 2; ++i) {
    g_installed[i] = false;
    struct sigaction previous {};
    if (sigaction(kSignals[i], nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a prompt waiting for input hears it at once
    g_installed[i] = sigaction(kSignals[i], &action, &g_previous[i]) == 0;
  }
}

TerminationGuard::~TerminationGuard() {
  --g_depth;
  if (!outermost_) return;
  for (int i = 0; i < 2; ++i)
    if (g_installed[i]) sigaction(kSignals[i], &g_previous[i], nullptr);
  const int caught = g_signal;
  g_signal = 0;
  if (caught != 0) raise(caught);
}

bool TerminationRequested() { return g_signal != 0; }

}  // namespace skelder::platform
