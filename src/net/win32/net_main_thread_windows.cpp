#include <windows.h>

#include "net/net_anti_freeze.h"

namespace skelder::net {

namespace {
// The thread that loaded the add-in is the host's user-interface thread: the library's static
// objects are made on it.
const DWORD g_mainThread = ::GetCurrentThreadId();
}  // namespace

bool IsMainThread() { return ::GetCurrentThreadId() == g_mainThread; }

}  // namespace skelder::net
