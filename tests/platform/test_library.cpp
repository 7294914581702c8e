// Loaded by the loader tests under a name that differs in letter case.
#include "platform/callconv.h"

SKELDER_EXPORT int SKELDER_STDCALL TestLibraryAnswer(int x) { return x * 2 + 1; }
