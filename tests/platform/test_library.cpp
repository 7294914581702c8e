// Loaded by the loader tests under a name that differs in letter case.
#include <cstring>

#include "platform/callconv.h"
#include "platform/files.h"

SKELDER_EXPORT int SKELDER_STDCALL TestLibraryAnswer(int x) { return x * 2 + 1; }

// The platform layer linked into a library reports that library's path. Plain C convention, so
// that its name stays undecorated on 32-bit Windows too.
SKELDER_EXPORT void TestLibraryModuleFileName(char* buffer, int size) {
  std::string path = skelder::platform::ModuleFileName();
  std::strncpy(buffer, path.c_str(), static_cast<size_t>(size) - 1);
  buffer[size - 1] = '\0';
}
