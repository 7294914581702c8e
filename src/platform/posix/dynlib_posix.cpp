// Dynamic libraries on POSIX through the dynamic loader.
#include <dlfcn.h>

#include <cstring>

#include "platform/dynlib.h"
#include "platform/files.h"

namespace skelder::platform {
namespace {

// dlerror() forgets its text once read; keep it for LastLoadError. A plain array: a thread_local
// with a destructor registers it with the C library, which then keeps this library mapped after
// the host frees it, so a reload would find the old state.
thread_local char t_lastError[512];

void Remember() {
  const char* text = ::dlerror();
  std::strncpy(t_lastError, text ? text : "", sizeof t_lastError - 1);
  t_lastError[sizeof t_lastError - 1] = '\0';
}

}  // namespace

LibraryHandle OpenLibrary(const std::string& path) {
  // Symbols stay private to each library: two libraries may export the same names.
  void* handle = ::dlopen(ResolvePath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) Remember();
  return handle;
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
  if (!library || !name) return nullptr;
  ::dlerror();
  void* symbol = ::dlsym(library, name);
  if (!symbol) Remember();
  return symbol;
}

void CloseLibrary(LibraryHandle library) {
  if (library) ::dlclose(library);
}

std::string LastLoadError() { return t_lastError; }

}  // namespace skelder::platform
