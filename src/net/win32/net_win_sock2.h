#pragma once
// Run-time binding of WS2_32.DLL: the start-up call loads the library once; every other function
// goes through an entry resolved by name on its first call. A failed load raises ENetWS2StubError
// "Error on loading Winsock2 library (WS2_32.DLL)"; calling an entry while the library is not
// loaded (or that the library lacks) raises "Error on call Winsock2 library function %s" with
// code 10093.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstdint>

namespace skelder::net::winsock2 {

inline constexpr const char* kLibraryName = "WS2_32.DLL";
inline constexpr uint16_t kRequestedVersion = 0x0202;
inline constexpr uint32_t kNotInitialised = 10093;

// Loads the library if needed and calls its start-up function; 0 when already loaded.
int Startup(uint16_t version);
// Releases the library (process end): every entry points to its resolver again.
void Release();
bool Loaded();

// The address of a function of the loaded library; raises the call error when there is none.
void* Resolve(const char* name);

class EntryBase {
 public:
  explicit EntryBase(const char* name);
  const char* Name() const { return name_; }
  void Reset() { address_.store(nullptr); }

 protected:
  void* Address();

 private:
  const char* name_;
  std::atomic<void*> address_{nullptr};
};

// One function of the library, called like the function itself.
template <typename Fn>
class Entry : public EntryBase {
 public:
  using EntryBase::EntryBase;
  template <typename... Args>
  auto operator()(Args... args) {
    return reinterpret_cast<Fn>(Address())(args...);
  }
};

#define SKELDER_WS2_ENTRY(name) extern Entry<decltype(&::name)> name
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

}  // namespace skelder::net::winsock2
