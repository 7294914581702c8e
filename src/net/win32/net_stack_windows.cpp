#include "net/win32/net_stack_windows.h"

#include "net/win32/net_win_sock2.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "net/net_exception.h"

namespace skelder::net {

namespace ws = winsock2;

namespace {

thread_local int32_t t_lastError = 0;

int Fail() {
  t_lastError = ws::WSAGetLastError();
  return -1;
}

SOCKET AsSocket(TNetSocket socket) { return socket < 0 ? INVALID_SOCKET : static_cast<SOCKET>(socket); }

sockaddr_in MakeAddress(TNetStack& stack, int family, const std::string& ip, int32_t port) {
  sockaddr_in addr{};
  addr.sin_family = static_cast<ADDRESS_FAMILY>(family == kAfInet ? AF_INET : family);
  addr.sin_port = ws::htons(static_cast<u_short>(port));
  if (!ip.empty()) {
    std::array<uint8_t, 4> bytes = stack.TextToAddress(ip);
    std::memcpy(&addr.sin_addr.s_addr, bytes.data(), 4);
  }
  return addr;
}

void ReadAddress(TNetStack& stack, const sockaddr_in& addr, std::string& ip, int32_t& port) {
  std::array<uint8_t, 4> bytes{};
  std::memcpy(bytes.data(), &addr.sin_addr.s_addr, 4);
  ip = stack.AddressToText(bytes);
  port = ws::ntohs(addr.sin_port);
}

// FD_ISSET calls into WS2_32 itself; the set is a plain array.
bool InSet(SOCKET socket, const fd_set& set) {
  for (u_int i = 0; i < set.fd_count; ++i)
    if (set.fd_array[i] == socket) return true;
  return false;
}

// The layer is started once per process; a failed start leaves it for the next stack to try.
std::mutex g_startLock;
bool g_started = false;

}  // namespace

std::unique_ptr<TNetStack> MakeDefaultStack() { return std::make_unique<TNetStackWindows>(); }

TNetStackWindows::TNetStackWindows() {
  std::lock_guard<std::mutex> guard(g_startLock);
  if (g_started) return;
  if (ws::Startup(ws::kRequestedVersion) != 0) throw ENetStackInitializationFailed();
  g_started = true;
}

TNetSocket TNetStackWindows::SockAccept(TNetSocket listening, std::string& peerIP, int32_t& peerPort) {
  sockaddr_in addr{};
  int len = sizeof addr;
  SOCKET s = ws::accept(AsSocket(listening), reinterpret_cast<sockaddr*>(&addr), &len);
  if (s == INVALID_SOCKET) return Fail();
  ReadAddress(*this, addr, peerIP, peerPort);
  return static_cast<TNetSocket>(s);
}

int TNetStackWindows::SockBind(TNetSocket socket, int family, const std::string& ip, int32_t port) {
  sockaddr_in addr = MakeAddress(*this, family, ip, port);
  return ws::bind(AsSocket(socket), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 0 : Fail();
}

int TNetStackWindows::SockClose(TNetSocket socket) { return ws::closesocket(AsSocket(socket)) == 0 ? 0 : Fail(); }

int TNetStackWindows::SockConnect(TNetSocket socket, int family, const std::string& ip, int32_t port) {
  sockaddr_in addr = MakeAddress(*this, family, ip, port);
  return ws::connect(AsSocket(socket), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 0 : Fail();
}

std::vector<std::string> TNetStackWindows::AddressesByName(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  // The lookup's own code (11001 for a name nobody knows, 11002 or 11004 for the others).
  const int rc = ws::getaddrinfo(host.c_str(), nullptr, &hints, &result);
  if (rc != 0 || result == nullptr) {
    t_lastError = rc != 0 ? rc : kErrHostNotFound;
    if (result != nullptr) ws::freeaddrinfo(result);
    RaiseSocketFailure(t_lastError);
  }
  std::vector<std::string> addresses;
  for (addrinfo* p = result; p != nullptr; p = p->ai_next) {
    if (p->ai_family != AF_INET) continue;
    std::string ip;
    int32_t port = 0;
    ReadAddress(*this, *reinterpret_cast<sockaddr_in*>(p->ai_addr), ip, port);
    if (std::find(addresses.begin(), addresses.end(), ip) == addresses.end()) addresses.push_back(ip);
  }
  ws::freeaddrinfo(result);
  if (addresses.empty()) RaiseSocketFailure(kErrHostNotFound);
  return addresses;
}

std::string TNetStackWindows::HostAddressByName(const std::string& host) { return AddressesByName(host).front(); }

std::string TNetStackWindows::LocalHostName() {
  char name[250] = {};
  if (ws::gethostname(name, sizeof name - 1) != 0) {
    Fail();
    RaiseSocketFailure(t_lastError);
  }
  return name;
}

std::string TNetStackWindows::HostNameByAddress(const std::string& ip) {
  sockaddr_in addr = MakeAddress(*this, kAfInet, ip, 0);
  char name[NI_MAXHOST] = {};
  const int rc =
      ws::getnameinfo(reinterpret_cast<sockaddr*>(&addr), sizeof addr, name, sizeof name, nullptr, 0, NI_NAMEREQD);
  if (rc != 0) {
    t_lastError = rc;
    RaiseSocketFailure(rc);
  }
  return name;
}

int32_t TNetStackWindows::ServicePort(const std::string& service) {
  if (const servent* found = ws::getservbyname(service.c_str(), nullptr))
    return ws::ntohs(static_cast<u_short>(found->s_port));
  if (!service.empty() && service.size() <= 9 &&
      std::all_of(service.begin(), service.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
    return std::stoi(service);
  throw ENetInvalidServiceName(service);
}

std::vector<std::string> TNetStackWindows::ServiceNamesOfPort(int32_t port) {
  std::vector<std::string> names;
  if (const servent* found = ws::getservbyport(ws::htons(static_cast<u_short>(port)), nullptr)) {
    names.emplace_back(found->s_name);
    for (char** alias = found->s_aliases; alias != nullptr && *alias != nullptr; ++alias) names.emplace_back(*alias);
  }
  return names;
}

uint16_t TNetStackWindows::HostToNet16(uint16_t value) { return ws::htons(value); }
uint16_t TNetStackWindows::NetToHost16(uint16_t value) { return ws::ntohs(value); }
uint32_t TNetStackWindows::HostToNet32(uint32_t value) { return ws::htonl(value); }
uint32_t TNetStackWindows::NetToHost32(uint32_t value) { return ws::ntohl(value); }

int TNetStackWindows::SockListen(TNetSocket socket, int backlog) {
  return ws::listen(AsSocket(socket), backlog) == 0 ? 0 : Fail();
}

int TNetStackWindows::SockReceive(TNetSocket socket, void* buffer, int length, int flags) {
  const int n = ws::recv(AsSocket(socket), static_cast<char*>(buffer), length, flags);
  return n == SOCKET_ERROR ? Fail() : n;
}

int TNetStackWindows::SockReceiveNow(TNetSocket socket, void* buffer, int length) {
  // A zero-time wait first: Windows has no flag that makes one receive return at once.
  std::vector<TNetSocket> readable{socket};
  const int ready = SockSelect(&readable, nullptr, nullptr, 0);
  if (ready < 0) return -1;
  if (ready == 0) return kNothingWaiting;
  return SockReceive(socket, buffer, length, 0);
}

int TNetStackWindows::SockReceiveFrom(TNetSocket socket, void* buffer, int length, int flags, std::string& ip,
                                      int32_t& port) {
  sockaddr_in addr{};
  int len = sizeof addr;
  const int n = ws::recvfrom(AsSocket(socket), static_cast<char*>(buffer), length, flags,
                             reinterpret_cast<sockaddr*>(&addr), &len);
  if (n == SOCKET_ERROR) return Fail();
  ReadAddress(*this, addr, ip, port);
  return n;
}

int TNetStackWindows::SockSelect(std::vector<TNetSocket>* readList, std::vector<TNetSocket>* writeList,
                                 std::vector<TNetSocket>* errorList, int32_t timeoutMs) {
  // The lists go through fixed sets first, so the 64-socket limit holds before any wait.
  TNetSocketList sets[3];
  std::vector<TNetSocket>* lists[3] = {readList, writeList, errorList};
  fd_set fds[3];
  fd_set* given[3] = {nullptr, nullptr, nullptr};
  for (int i = 0; i < 3; ++i) {
    if (lists[i] == nullptr) continue;
    for (TNetSocket s : *lists[i]) sets[i].Add(s);
    FD_ZERO(&fds[i]);
    for (int j = 0; j < sets[i].Count(); ++j) FD_SET(AsSocket(sets[i].Item(j)), &fds[i]);
    given[i] = &fds[i];
  }
  timeval tv{};
  timeval* wait = nullptr;
  if (timeoutMs != kWaitForever) {
    const int32_t ms = timeoutMs < 0 ? 0 : timeoutMs;
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    wait = &tv;
  }
  const int rc = ws::select(0, given[0], given[1], given[2], wait);
  if (rc == SOCKET_ERROR) return Fail();
  for (int i = 0; i < 3; ++i) {
    if (lists[i] == nullptr) continue;
    lists[i]->clear();
    for (int j = 0; j < sets[i].Count(); ++j)
      if (InSet(AsSocket(sets[i].Item(j)), fds[i])) lists[i]->push_back(sets[i].Item(j));
  }
  return rc;
}

int TNetStackWindows::SockSend(TNetSocket socket, const void* buffer, int length, int flags) {
  const int n = ws::send(AsSocket(socket), static_cast<const char*>(buffer), length, flags);
  return n == SOCKET_ERROR ? Fail() : n;
}

int TNetStackWindows::SockSendTo(TNetSocket socket, const void* buffer, int length, int flags, const std::string& ip,
                                 int32_t port) {
  sockaddr_in addr = MakeAddress(*this, kAfInet, ip, port);
  const int n = ws::sendto(AsSocket(socket), static_cast<const char*>(buffer), length, flags,
                           reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  return n == SOCKET_ERROR ? Fail() : n;
}

bool TNetStackWindows::AllowClosedPortReuse(TNetSocket) {
  // Windows' address reuse would let a second socket take a port another listens on; without it
  // Windows already binds past connections waiting out their close.
  return false;
}

std::pair<int32_t, int32_t> TNetStackWindows::EphemeralPortRange() { return TNetStack::EphemeralPortRange(); }

int TNetStackWindows::SockSetOption(TNetSocket socket, int level, int option, const void* value, int length) {
  return ws::setsockopt(AsSocket(socket), level, option, static_cast<const char*>(value), length) == 0 ? 0 : Fail();
}

int TNetStackWindows::SockGetOption(TNetSocket socket, int level, int option, void* value, int& length) {
  return ws::getsockopt(AsSocket(socket), level, option, static_cast<char*>(value), &length) == 0 ? 0 : Fail();
}

TNetSocket TNetStackWindows::SockCreate(int family, int type, int protocol) {
  const int t = type == kSockStream ? SOCK_STREAM : type == kSockDgram ? SOCK_DGRAM : type;
  SOCKET s = ws::socket(family == kAfInet ? AF_INET : family, t, protocol);
  return s == INVALID_SOCKET ? Fail() : static_cast<TNetSocket>(s);
}

int TNetStackWindows::SockShutdown(TNetSocket socket, int how) {
  const int h = how == 0 ? SD_RECEIVE : how == kShutSend ? SD_SEND : SD_BOTH;
  return ws::shutdown(AsSocket(socket), h) == 0 ? 0 : Fail();
}

std::string TNetStackWindows::ErrorText(int32_t code) {
  if (code == kErrHostNotFound) return "Socket Error # " + std::to_string(code) + "\r\nHost not found.";
  return TNetStack::ErrorText(code);
}

int32_t TNetStackWindows::LastSocketError() { return t_lastError; }

void TNetStackWindows::PeerAddressOf(TNetSocket socket, int& family, std::string& ip, int32_t& port) {
  sockaddr_in addr{};
  int len = sizeof addr;
  if (ws::getpeername(AsSocket(socket), reinterpret_cast<sockaddr*>(&addr), &len) != 0) CheckSocketResult(Fail());
  family = kAfInet;
  ReadAddress(*this, addr, ip, port);
}

void TNetStackWindows::LocalAddressOf(TNetSocket socket, int& family, std::string& ip, int32_t& port) {
  sockaddr_in addr{};
  int len = sizeof addr;
  if (ws::getsockname(AsSocket(socket), reinterpret_cast<sockaddr*>(&addr), &len) != 0) CheckSocketResult(Fail());
  family = kAfInet;
  ReadAddress(*this, addr, ip, port);
}

}  // namespace skelder::net
