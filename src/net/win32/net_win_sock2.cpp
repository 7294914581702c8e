#include "net/win32/net_win_sock2.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "net/net_exception.h"
#include "platform/win32/win32_text.h"

namespace skelder::net::winsock2 {
namespace {

std::mutex& LibraryLock() {
  static std::mutex lock;
  return lock;
}

std::atomic<HMODULE> g_library{nullptr};

std::vector<EntryBase*>& Entries() {
  static std::vector<EntryBase*> entries;
  return entries;
}

[[noreturn]] void RaiseCallError(const char* name) {
  throw ENetWS2StubError(kNotInitialised, platform::SystemErrorText(kNotInitialised),
                         std::string("Error on call Winsock2 library function ") + name);
}

}  // namespace

EntryBase::EntryBase(const char* name) : name_(name) { Entries().push_back(this); }

void* EntryBase::Address() {
  void* address = address_.load();
  if (!address) {
    address = Resolve(name_);
    address_.store(address);
  }
  return address;
}

void* Resolve(const char* name) {
  HMODULE library = g_library.load();
  if (!library) RaiseCallError(name);
  FARPROC address = ::GetProcAddress(library, name);
  if (!address) RaiseCallError(name);
  return reinterpret_cast<void*>(address);
}

bool Loaded() { return g_library.load() != nullptr; }

int Startup(uint16_t version) {
  std::lock_guard<std::mutex> guard(LibraryLock());
  if (g_library.load()) return 0;
  HMODULE library = ::LoadLibraryA(kLibraryName);
  if (!library) {
    const DWORD code = ::GetLastError();
    throw ENetWS2StubError(code, platform::SystemErrorText(code),
                           std::string("Error on loading Winsock2 library (") + kLibraryName + ")");
  }
  g_library.store(library);
  WSADATA data{};
  return WSAStartup(version, &data);
}

void Release() {
  std::lock_guard<std::mutex> guard(LibraryLock());
  HMODULE library = g_library.load();
  if (!library) return;
  try {
    WSACleanup();
  } catch (...) {
  }
  for (EntryBase* entry : Entries()) entry->Reset();
  g_library.store(nullptr);
  ::FreeLibrary(library);
}

#define SKELDER_WS2_DEFINE(name) Entry<decltype(&::name)> name(#name);
SKELDER_WS2_FUNCTIONS(SKELDER_WS2_DEFINE)
#undef SKELDER_WS2_DEFINE

namespace {
// At process end the socket layer is shut down if it was started and the library released.
// Defined after the entries (and after the first use of their list), so it goes before them.
struct ReleaseAtExit {
  ~ReleaseAtExit() { Release(); }
} g_releaseAtExit;
}  // namespace

}  // namespace skelder::net::winsock2
