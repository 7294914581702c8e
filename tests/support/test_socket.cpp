#include "test_socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#endif

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "test_support.h"

namespace skelder::test {

namespace {

#ifdef _WIN32
static_assert(sizeof(TestSocket) == sizeof(SOCKET) && kNoTestSocket == INVALID_SOCKET);

// The tests' own WinSock start: the add-in binds WS2_32 by itself and may release it while a
// test still holds sockets, so the count of starts has one of ours for the whole process.
void StartSockets() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) std::fprintf(stderr, "test sockets: WSAStartup failed\n");
  });
}

SOCKET Native(TestSocket s) { return static_cast<SOCKET>(s); }
#else
void StartSockets() {}
int Native(TestSocket s) { return s; }
#endif

sockaddr_in Address(uint32_t ip, uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(ip);
  return addr;
}

}  // namespace

uint32_t ParseIPv4(const std::string& text) {
  unsigned a, b, c, d;
  char rest = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &rest) != 4 || a > 255 || b > 255 || c > 255 ||
      d > 255)
    return 0;
  return (a << 24) | (b << 16) | (c << 8) | d;
}

std::string FormatIPv4(uint32_t ip) {
  return std::to_string(ip >> 24) + "." + std::to_string((ip >> 16) & 255) + "." + std::to_string((ip >> 8) & 255) +
         "." + std::to_string(ip & 255);
}

TestSocket OpenTcpSocket() {
  StartSockets();
#ifdef _WIN32
  // Not inherited by child processes (ardmoor and the like).
  return static_cast<TestSocket>(
      ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
#else
  return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
#endif
}

void CloseSocket(TestSocket s) {
  if (s == kNoTestSocket) return;
#ifdef _WIN32
  ::closesocket(Native(s));
#else
  ::close(s);
#endif
}

void ShutdownSending(TestSocket s) {
#ifdef _WIN32
  ::shutdown(Native(s), SD_SEND);
#else
  ::shutdown(s, SHUT_WR);
#endif
}

void ResetOnClose(TestSocket s) {
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  ::setsockopt(Native(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
}

void ResetSocket(TestSocket s) {
  if (s == kNoTestSocket) return;
  ResetOnClose(s);
  CloseSocket(s);
}

bool BindSocket(TestSocket s, const std::string& ip, uint16_t port, bool reuseAddress) {
  const uint32_t address = ParseIPv4(ip);
  if (address == 0) return false;
  if (reuseAddress) {
    // Windows' SO_REUSEADDR would share a port someone listens on; there a closed port is free anyway.
#ifndef _WIN32
    int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
  }
  sockaddr_in addr = Address(address, port);
  return ::bind(Native(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

bool ListenOnSocket(TestSocket s, int backlog) { return ::listen(Native(s), backlog) == 0; }

TestSocket AcceptOn(TestSocket listening) {
#ifdef _WIN32
  return static_cast<TestSocket>(::accept(Native(listening), nullptr, nullptr));
#else
  return ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
#endif
}

bool ConnectSocket(TestSocket s, const std::string& ip, uint16_t port) {
  sockaddr_in addr = Address(ParseIPv4(ip), port);
  return ::connect(Native(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

uint16_t LocalPortOf(TestSocket s) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(Native(s), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

bool IsOpenSocket(TestSocket s) {
  int type = 0;
  socklen_t len = sizeof type;
  return ::getsockopt(Native(s), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len) == 0;
}

int WaitForSocket(TestSocket s, bool forWriting, int ms) {
#ifdef _WIN32
  fd_set set;
  FD_ZERO(&set);
  FD_SET(Native(s), &set);
  // A failed connection or a reset shows in the error set: report it ready, the next call fails.
  fd_set errors;
  FD_ZERO(&errors);
  FD_SET(Native(s), &errors);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  const int rc = ::select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, &errors, ms < 0 ? nullptr : &tv);
  return rc < 0 ? -1 : rc > 0 ? 1 : 0;
#else
  pollfd p{s, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
  const int rc = ::poll(&p, 1, ms);
  if (rc < 0) return errno == EINTR ? 0 : -1;
  return rc > 0 ? 1 : 0;
#endif
}

void SetNonBlocking(TestSocket s, bool on) {
#ifdef _WIN32
  u_long mode = on ? 1 : 0;
  ::ioctlsocket(Native(s), FIONBIO, &mode);
#else
  const int flags = ::fcntl(s, F_GETFL);
  ::fcntl(s, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
#endif
}

void SetReceiveTimeout(TestSocket s, int ms) {
#ifdef _WIN32
  DWORD limit = static_cast<DWORD>(ms);
#else
  timeval limit{ms / 1000, (ms % 1000) * 1000};
#endif
  ::setsockopt(Native(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
}

long SendSome(TestSocket s, const char* data, std::size_t length) {
#ifdef _WIN32
  return ::send(Native(s), data, static_cast<int>(length), 0);
#else
  return static_cast<long>(::send(s, data, length, MSG_NOSIGNAL));
#endif
}

long ReceiveSome(TestSocket s, char* buffer, std::size_t length) {
#ifdef _WIN32
  return ::recv(Native(s), buffer, static_cast<int>(length), 0);
#else
  return static_cast<long>(::recv(s, buffer, length, 0));
#endif
}

bool SendAll(TestSocket s, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const long n = SendSome(s, bytes.data() + done, bytes.size() - done);
    if (n < 0 && LastCallInterrupted()) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool LastCallWouldBlock() {
#ifdef _WIN32
  return ::WSAGetLastError() == WSAEWOULDBLOCK;
#else
  return errno == EAGAIN || errno == EWOULDBLOCK;
#endif
}

bool LastCallInterrupted() {
#ifdef _WIN32
  return ::WSAGetLastError() == WSAEINTR;
#else
  return errno == EINTR;
#endif
}

std::string LastSocketErrorText() {
#ifdef _WIN32
  return "socket error " + std::to_string(::WSAGetLastError());
#else
  return std::strerror(errno);
#endif
}

// ---- the port helpers of test_support.h ------------------------------------------------------

uint16_t ProbeFreePort(const std::string& host) {
  const TestSocket s = OpenTcpSocket();
  const uint16_t port = BindSocket(s, host, 0) ? LocalPortOf(s) : 0;
  CloseSocket(s);
  return port;
}

bool StartOnAFreePort(const std::string& host, const std::function<bool(uint16_t)>& start, int attempts) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (start(ProbeFreePort(host))) return true;
  }
  return false;
}

RefusingPort::RefusingPort(const std::string& host) : socket_(OpenTcpSocket()) {
  if (socket_ == kNoTestSocket || !BindSocket(socket_, host, 0) || (port_ = LocalPortOf(socket_)) == 0)
    throw std::runtime_error("cannot hold a port on " + host);
}

RefusingPort::~RefusingPort() { CloseSocket(socket_); }

HangingPort::HangingPort(const std::string& host) : listener_(OpenTcpSocket()) {
  if (listener_ == kNoTestSocket || !BindSocket(listener_, host, 0) || !ListenOnSocket(listener_, 0) ||
      (port_ = LocalPortOf(listener_)) == 0)
    throw std::runtime_error("cannot listen on " + host);
  // Connects the system completes fill the queue; the first that stays pending shows it full.
  for (int i = 0; i < 12 && !hangs_; ++i) {
    const TestSocket s = OpenTcpSocket();
    fillers_.push_back(s);
    SetNonBlocking(s, true);
    hangs_ = !ConnectSocket(s, host, port_) && WaitForSocket(s, true, 200) == 0;
  }
}

HangingPort::~HangingPort() {
  for (TestSocket s : fillers_) CloseSocket(s);
  CloseSocket(listener_);
}

bool WaitForListener(const std::string& host, uint16_t port, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    const TestSocket s = OpenTcpSocket();
    const bool ok = ConnectSocket(s, host, port);
    CloseSocket(s);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

bool CanBind(const std::string& host, uint16_t port) {
  const TestSocket s = OpenTcpSocket();
  const bool ok = BindSocket(s, host, port, true);
  CloseSocket(s);
  return ok;
}

}  // namespace skelder::test
