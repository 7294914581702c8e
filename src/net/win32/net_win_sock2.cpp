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

#define SKELDER_WS2_ENTRY(name) Entry<decltype(&::name)> name(#name)
SKELDER_WS2_ENTRY(WSAStartup);
SKELDER_WS2_ENTRY(WSACleanup);
SKELDER_WS2_ENTRY(WSAGetLastError);
SKELDER_WS2_ENTRY(accept);
SKELDER_WS2_ENTRY(bind);
SKELDER_WS2_ENTRY(closesocket);
SKELDER_WS2_ENTRY(connect);
SKELDER_WS2_ENTRY(getaddrinfo);
SKELDER_WS2_ENTRY(freeaddrinfo);
SKELDER_WS2_ENTRY(getnameinfo);
SKELDER_WS2_ENTRY(gethostname);
SKELDER_WS2_ENTRY(getservbyname);
SKELDER_WS2_ENTRY(getservbyport);
SKELDER_WS2_ENTRY(htons);
SKELDER_WS2_ENTRY(ntohs);
SKELDER_WS2_ENTRY(htonl);
SKELDER_WS2_ENTRY(ntohl);
SKELDER_WS2_ENTRY(listen);
SKELDER_WS2_ENTRY(recv);
SKELDER_WS2_ENTRY(recvfrom);
SKELDER_WS2_ENTRY(select);
SKELDER_WS2_ENTRY(send);
SKELDER_WS2_ENTRY(sendto);
SKELDER_WS2_ENTRY(setsockopt);
SKELDER_WS2_ENTRY(getsockopt);
SKELDER_WS2_ENTRY(socket);
SKELDER_WS2_ENTRY(shutdown);
SKELDER_WS2_ENTRY(getpeername);
SKELDER_WS2_ENTRY(getsockname);
SKELDER_WS2_ENTRY(ioctlsocket);
#undef SKELDER_WS2_ENTRY

namespace {
// At process end the socket layer is shut down if it was started and the library released.
// Defined after the entries (and after the first use of their list), so it goes before them.
struct ReleaseAtExit {
  ~ReleaseAtExit() { Release(); }
} g_releaseAtExit;
}  // namespace

}  // namespace skelder::net::winsock2
