#include "net/posix/net_stack_posix.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/net_exception.h"

namespace skelder::net {

namespace {

// The last failure of this thread, already mapped; errno may be changed by later calls.
thread_local int32_t t_lastError = 0;

int Fail() {
  t_lastError = MapPosixError(errno);
  return -1;
}

sockaddr_in MakeAddress(TNetStack& stack, int family, const std::string& ip, int32_t port) {
  sockaddr_in addr{};
  addr.sin_family = static_cast<sa_family_t>(family == kAfInet ? AF_INET : family);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (ip.empty()) {
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
  } else {
    std::array<uint8_t, 4> bytes = stack.TextToAddress(ip);
    std::memcpy(&addr.sin_addr.s_addr, bytes.data(), 4);
  }
  return addr;
}

void ReadAddress(TNetStack& stack, const sockaddr_in& addr, std::string& ip, int32_t& port) {
  std::array<uint8_t, 4> bytes{};
  std::memcpy(bytes.data(), &addr.sin_addr.s_addr, 4);
  ip = stack.AddressToText(bytes);
  port = ntohs(addr.sin_port);
}

}  // namespace

int32_t MapPosixError(int error) {
  switch (error) {
    case 0:
      return 0;
    case EINTR:
      return 10004;
    case EBADF:
      return 10009;
    case EACCES:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
      return 10024;
    case EWOULDBLOCK:
      return 10035;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return 10040;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:
      return 10045;
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
      return 10053;
    case ECONNRESET:
      return 10054;
    case ENOBUFS:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ESHUTDOWN:
    case EPIPE:
      return 10058;
    case ETOOMANYREFS:
      return 10059;
    case ETIMEDOUT:
      return 10060;
    case ECONNREFUSED:
      return 10061;
    case ELOOP:
      return 10062;
    case ENAMETOOLONG:
      return 10063;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    case ENOTEMPTY:
      return 10066;
    case EUSERS:
      return 10068;
    case EDQUOT:
      return 10069;
    case ESTALE:
      return 10070;
    case EREMOTE:
      return 10071;
    default:
      return error;
  }
}

std::unique_ptr<TNetStack> MakeDefaultStack() { return std::make_unique<TNetStackPosix>(); }

TNetSocket TNetStackPosix::SockAccept(TNetSocket listening, std::string& peerIP, int32_t& peerPort) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  int s = ::accept4(listening, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
  if (s < 0) return Fail();
  ReadAddress(*this, addr, peerIP, peerPort);
  return s;
}

int TNetStackPosix::SockBind(TNetSocket socket, int family, const std::string& ip, int32_t port) {
  sockaddr_in addr = MakeAddress(*this, family, ip, port);
  return ::bind(socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 0 : Fail();
}

int TNetStackPosix::SockClose(TNetSocket socket) { return ::close(socket) == 0 ? 0 : Fail(); }

int TNetStackPosix::SockConnect(TNetSocket socket, int family, const std::string& ip, int32_t port) {
  sockaddr_in addr = MakeAddress(*this, family, ip, port);
  int rc;
  // A signal must not turn a blocking connect into a spurious failure.
  do {
    rc = ::connect(socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : Fail();
}

std::vector<std::string> TNetStackPosix::AddressesByName(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
    t_lastError = kErrHostNotFound;
    if (result != nullptr) ::freeaddrinfo(result);
    RaiseSocketFailure(kErrHostNotFound);
  }
  std::vector<std::string> addresses;
  for (addrinfo* p = result; p != nullptr; p = p->ai_next) {
    if (p->ai_family != AF_INET) continue;
    std::string ip;
    int32_t port = 0;
    ReadAddress(*this, *reinterpret_cast<sockaddr_in*>(p->ai_addr), ip, port);
    if (std::find(addresses.begin(), addresses.end(), ip) == addresses.end()) addresses.push_back(ip);
  }
  ::freeaddrinfo(result);
  if (addresses.empty()) RaiseSocketFailure(kErrHostNotFound);
  return addresses;
}

std::string TNetStackPosix::HostAddressByName(const std::string& host) { return AddressesByName(host).front(); }

std::string TNetStackPosix::LocalHostName() {
  char name[250] = {};
  if (::gethostname(name, sizeof name - 1) != 0) {
    Fail();
    RaiseSocketFailure(t_lastError);
  }
  return name;
}

std::string TNetStackPosix::HostNameByAddress(const std::string& ip) {
  sockaddr_in addr = MakeAddress(*this, kAfInet, ip, 0);
  char name[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&addr), sizeof addr, name, sizeof name, nullptr, 0, NI_NAMEREQD) != 0) {
    t_lastError = kErrHostNotFound;
    RaiseSocketFailure(kErrHostNotFound);
  }
  return name;
}

int32_t TNetStackPosix::ServicePort(const std::string& service) {
  servent entry{};
  servent* found = nullptr;
  char buffer[1024];
  if (::getservbyname_r(service.c_str(), nullptr, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
    return ntohs(static_cast<uint16_t>(found->s_port));
  if (!service.empty() && service.size() <= 9 &&
      std::all_of(service.begin(), service.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
    return std::stoi(service);
  throw ENetInvalidServiceName(service);
}

std::vector<std::string> TNetStackPosix::ServiceNamesOfPort(int32_t port) {
  servent entry{};
  servent* found = nullptr;
  char buffer[1024];
  std::vector<std::string> names;
  if (::getservbyport_r(htons(static_cast<uint16_t>(port)), nullptr, &entry, buffer, sizeof buffer, &found) == 0 &&
      found != nullptr) {
    names.emplace_back(found->s_name);
    for (char** alias = found->s_aliases; alias != nullptr && *alias != nullptr; ++alias) names.emplace_back(*alias);
  }
  return names;
}

uint16_t TNetStackPosix::HostToNet16(uint16_t value) { return htons(value); }
uint16_t TNetStackPosix::NetToHost16(uint16_t value) { return ntohs(value); }
uint32_t TNetStackPosix::HostToNet32(uint32_t value) { return htonl(value); }
uint32_t TNetStackPosix::NetToHost32(uint32_t value) { return ntohl(value); }

int TNetStackPosix::SockListen(TNetSocket socket, int backlog) { return ::listen(socket, backlog) == 0 ? 0 : Fail(); }

int TNetStackPosix::SockReceive(TNetSocket socket, void* buffer, int length, int flags) {
  ssize_t n;
  do {
    n = ::recv(socket, buffer, static_cast<size_t>(length), flags);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? Fail() : static_cast<int>(n);
}

int TNetStackPosix::SockReceiveNow(TNetSocket socket, void* buffer, int length) {
  int n = SockReceive(socket, buffer, length, MSG_DONTWAIT);
  return n < 0 && t_lastError == kErrWouldBlock ? kNothingWaiting : n;
}

int TNetStackPosix::SockReceiveFrom(TNetSocket socket, void* buffer, int length, int flags, std::string& ip,
                                    int32_t& port) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  ssize_t n = ::recvfrom(socket, buffer, static_cast<size_t>(length), flags, reinterpret_cast<sockaddr*>(&addr), &len);
  if (n < 0) return Fail();
  ReadAddress(*this, addr, ip, port);
  return static_cast<int>(n);
}

int TNetStackPosix::SockSelect(std::vector<TNetSocket>* readList, std::vector<TNetSocket>* writeList,
                               std::vector<TNetSocket>* errorList, int32_t timeoutMs) {
  // The lists go through fixed sets first, so the 64-socket limit holds before any wait.
  TNetSocketList sets[3];
  std::vector<TNetSocket>* lists[3] = {readList, writeList, errorList};
  for (int i = 0; i < 3; ++i)
    if (lists[i] != nullptr)
      for (TNetSocket s : *lists[i]) sets[i].Add(s);

  // poll() has no limit on descriptor values, unlike an fd_set.
  std::vector<pollfd> fds;
  std::vector<int> owner;  // which list each entry came from
  const short events[3] = {POLLIN, POLLOUT, POLLPRI};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < sets[i].Count(); ++j) {
      fds.push_back(pollfd{sets[i].Item(j), events[i], 0});
      owner.push_back(i);
    }
  int timeout = timeoutMs == kWaitForever ? -1 : (timeoutMs < 0 ? 0 : timeoutMs);
  int rc = ::poll(fds.data(), fds.size(), timeout);
  if (rc < 0) return Fail();
  int ready = 0;
  for (int i = 0; i < 3; ++i)
    if (lists[i] != nullptr) lists[i]->clear();
  for (size_t k = 0; k < fds.size(); ++k) {
    int i = owner[k];
    short mask = i == 0   ? static_cast<short>(POLLIN | POLLHUP | POLLERR | POLLNVAL)
                 : i == 1 ? static_cast<short>(POLLOUT | POLLHUP | POLLERR | POLLNVAL)
                          : static_cast<short>(POLLPRI | POLLERR | POLLNVAL);
    if ((fds[k].revents & mask) != 0) {
      lists[i]->push_back(fds[k].fd);
      ++ready;
    }
  }
  return ready;
}

int TNetStackPosix::SockSend(TNetSocket socket, const void* buffer, int length, int flags) {
  ssize_t n;
  // MSG_NOSIGNAL: a peer that has gone gives EPIPE (10058), never SIGPIPE.
  do {
    n = ::send(socket, buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? Fail() : static_cast<int>(n);
}

int TNetStackPosix::SockSendTo(TNetSocket socket, const void* buffer, int length, int flags, const std::string& ip,
                               int32_t port) {
  sockaddr_in addr = MakeAddress(*this, kAfInet, ip, port);
  ssize_t n = ::sendto(socket, buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  return n < 0 ? Fail() : static_cast<int>(n);
}

bool TNetStackPosix::AllowClosedPortReuse(TNetSocket socket) {
  // Here the option lets a bind pass over connections in their closing wait (and sockets that
  // asked for the same); it never lets two sockets listen on one port, and a connection's data
  // always goes to its own socket.
  const int on = 1;
  return ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

std::pair<int32_t, int32_t> TNetStackPosix::EphemeralPortRange() {
#if defined(__linux__)
  if (std::FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
    int low = 0, high = 0;
    const bool read = std::fscanf(f, "%d %d", &low, &high) == 2;
    std::fclose(f);
    if (read && low > 0 && low <= high && high <= 65535) return {low, high};
  }
#endif
  return TNetStack::EphemeralPortRange();
}

int TNetStackPosix::SockSetOption(TNetSocket socket, int level, int option, const void* value, int length) {
  return ::setsockopt(socket, level, option, value, static_cast<socklen_t>(length)) == 0 ? 0 : Fail();
}

int TNetStackPosix::SockGetOption(TNetSocket socket, int level, int option, void* value, int& length) {
  socklen_t len = static_cast<socklen_t>(length);
  if (::getsockopt(socket, level, option, value, &len) != 0) return Fail();
  length = static_cast<int>(len);
  return 0;
}

TNetSocket TNetStackPosix::SockCreate(int family, int type, int protocol) {
  int t = type == kSockStream ? SOCK_STREAM : type == kSockDgram ? SOCK_DGRAM : type;
  int s = ::socket(family == kAfInet ? AF_INET : family, t | SOCK_CLOEXEC, protocol);
  return s < 0 ? Fail() : s;
}

int TNetStackPosix::SockShutdown(TNetSocket socket, int how) {
  int h = how == 0 ? SHUT_RD : how == kShutSend ? SHUT_WR : SHUT_RDWR;
  return ::shutdown(socket, h) == 0 ? 0 : Fail();
}

std::string TNetStackPosix::ErrorText(int32_t code) {
  // Like the Windows stack, this one knows the host-lookup code in front of the common table.
  if (code == kErrHostNotFound) return "Socket Error # " + std::to_string(code) + "\r\nHost not found.";
  return TNetStack::ErrorText(code);
}

int32_t TNetStackPosix::LastSocketError() { return t_lastError; }

void TNetStackPosix::PeerAddressOf(TNetSocket socket, int& family, std::string& ip, int32_t& port) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getpeername(socket, reinterpret_cast<sockaddr*>(&addr), &len) != 0) CheckSocketResult(Fail());
  family = kAfInet;
  ReadAddress(*this, addr, ip, port);
}

void TNetStackPosix::LocalAddressOf(TNetSocket socket, int& family, std::string& ip, int32_t& port) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&addr), &len) != 0) CheckSocketResult(Fail());
  family = kAfInet;
  ReadAddress(*this, addr, ip, port);
}

}  // namespace skelder::net
