// Dynamic libraries on Windows through the system loader.
#include <windows.h>

#include "platform/dynlib.h"
#include "platform/win32/win32_text.h"

namespace skelder::platform {
namespace {

// The loader's error number, formatted when asked for. Only a value without a destructor may be
// kept per thread here: one with a destructor pins the library until the thread ends, so a host
// that frees the add-in on the thread that used it would unload it a second time from inside the
// loader as that thread ends, and hang there.
thread_local DWORD t_lastError = 0;

}  // namespace

LibraryHandle OpenLibrary(const std::string& path) {
  HMODULE module = ::LoadLibraryA(path.c_str());
  if (!module) t_lastError = ::GetLastError();
  return reinterpret_cast<LibraryHandle>(module);
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
  if (!library || !name) return nullptr;
  FARPROC symbol = ::GetProcAddress(reinterpret_cast<HMODULE>(library), name);
  if (!symbol) t_lastError = ::GetLastError();
  return reinterpret_cast<void*>(symbol);
}

void CloseLibrary(LibraryHandle library) {
  if (library) ::FreeLibrary(reinterpret_cast<HMODULE>(library));
}

std::string LastLoadError() { return t_lastError ? SystemErrorText(t_lastError) : std::string(); }

}  // namespace skelder::platform
