// Dynamic libraries on Windows through the system loader.
#include <windows.h>

#include "platform/dynlib.h"
#include "platform/win32/win32_text.h"

namespace skelder::platform {
namespace {

thread_local std::string t_lastError;

}  // namespace

LibraryHandle OpenLibrary(const std::string& path) {
  HMODULE module = ::LoadLibraryA(path.c_str());
  if (!module) t_lastError = SystemErrorText(::GetLastError());
  return reinterpret_cast<LibraryHandle>(module);
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
  if (!library || !name) return nullptr;
  FARPROC symbol = ::GetProcAddress(reinterpret_cast<HMODULE>(library), name);
  if (!symbol) t_lastError = SystemErrorText(::GetLastError());
  return reinterpret_cast<void*>(symbol);
}

void CloseLibrary(LibraryHandle library) {
  if (library) ::FreeLibrary(reinterpret_cast<HMODULE>(library));
}

std::string LastLoadError() { return t_lastError; }

}  // namespace skelder::platform
