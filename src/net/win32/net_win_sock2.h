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

// Every function of the library the stack calls, as X(name).
#define SKELDER_WS2_FUNCTIONS(X) \
  X(WSAStartup)                  \
  X(WSACleanup)                  \
  X(WSAGetLastError)             \
  X(accept)                      \
  X(bind)                        \
  X(closesocket)                 \
  X(connect)                     \
  X(getaddrinfo)                 \
  X(freeaddrinfo)                \
  X(getnameinfo)                 \
  X(gethostname)                 \
  X(getservbyname)               \
  X(getservbyport)               \
  X(htons)                       \
  X(ntohs)                       \
  X(htonl)                       \
  X(ntohl)                       \
  X(listen)                      \
  X(recv)                        \
  X(recvfrom)                    \
  X(select)                      \
  X(send)                        \
  X(sendto)                      \
  X(setsockopt)                  \
  X(getsockopt)                  \
  X(socket)                      \
  X(shutdown)                    \
  X(getpeername)                 \
  X(getsockname)                 \
  X(ioctlsocket)

#define SKELDER_WS2_DECLARE(name) extern Entry<decltype(&::name)> name;
SKELDER_WS2_FUNCTIONS(SKELDER_WS2_DECLARE)
#undef SKELDER_WS2_DECLARE

}  // namespace skelder::net::winsock2
