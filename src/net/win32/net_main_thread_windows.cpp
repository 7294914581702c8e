#include <windows.h>

#include "net/net_anti_freeze.h"

namespace skelder::net {

namespace {
// The thread that loaded the add-in is the host's user-interface thread. The library's static
// objects are made while it is being loaded, on the thread that called LoadLibrary (or, for a
// program, on its first thread), so this is that thread's id, whichever thread of the process
// it is.
const DWORD g_mainThread = ::GetCurrentThreadId();
}  // namespace

bool IsMainThread() { return ::GetCurrentThreadId() == g_mainThread; }

}  // namespace skelder::net
