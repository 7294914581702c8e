// A library with the responsiveness hook's main-thread rule linked in, as the add-in has it:
// the test loads it from a thread of its own choosing.
#include "net/net_anti_freeze.h"

extern "C" __declspec(dllexport) int MainThreadLibraryIsMainThread() { return skelder::net::IsMainThread() ? 1 : 0; }
