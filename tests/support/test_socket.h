#pragma once
// The socket calls the tests make themselves (the scripted fault server, the far end of a data
// connection, a bystander socket), over POSIX sockets or WinSock: one set of names, so the code
// above is written once. No system header leaks out of here, so the windows.h macros stay in
// test_socket.cpp. Addresses are IPv4 as dotted text; every call starts WinSock when it must.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace skelder::test {

// A socket: a descriptor on POSIX, a SOCKET (pointer-sized, unsigned) on Windows.
#ifdef _WIN32
using TestSocket = std::uintptr_t;
#else
using TestSocket = int;
#endif
inline constexpr TestSocket kNoTestSocket = static_cast<TestSocket>(-1);

TestSocket OpenTcpSocket();  // kNoTestSocket when none can be made
void CloseSocket(TestSocket s);
void ShutdownSending(TestSocket s);
// Makes the socket's close a reset instead of an orderly close.
void ResetOnClose(TestSocket s);
// Closes with a reset instead of an orderly close.
void ResetSocket(TestSocket s);

bool BindSocket(TestSocket s, const std::string& ip, uint16_t port, bool reuseAddress = false);
bool ListenOnSocket(TestSocket s, int backlog);
TestSocket AcceptOn(TestSocket listening);  // kNoTestSocket on failure
bool ConnectSocket(TestSocket s, const std::string& ip, uint16_t port);
uint16_t LocalPortOf(TestSocket s);  // 0 when unknown
// Still a socket of this process (not closed by someone else).
bool IsOpenSocket(TestSocket s);

// Waits at most `ms` (a negative wait: without limit) for the socket to become readable (or
// writable). 1 when it is, 0 when the time passed (or a signal came), -1 on failure.
int WaitForSocket(TestSocket s, bool forWriting, int ms);
void SetNonBlocking(TestSocket s, bool on);
void SetReceiveTimeout(TestSocket s, int ms);

// One send or receive call: the count, 0 at the peer's close (receive), -1 on failure. A send to
// a peer that has gone fails; it never raises a signal.
long SendSome(TestSocket s, const char* data, std::size_t length);
long ReceiveSome(TestSocket s, char* buffer, std::size_t length);
// All of it, or false when the peer goes first.
bool SendAll(TestSocket s, const std::string& bytes);
// What the last failed call of this thread means.
bool LastCallWouldBlock();
bool LastCallInterrupted();
std::string LastSocketErrorText();

// A port on `host` that refuses every connection for the object's life: bound by this process,
// never listening, so no other test can take it meanwhile.
class RefusingPort {
 public:
  explicit RefusingPort(const std::string& host = "127.0.0.1");
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  uint16_t port() const { return port_; }

 private:
  TestSocket socket_;
  uint16_t port_ = 0;
};

// A port on `host` whose connects hang for the object's life: a listener that never accepts,
// its queue filled. Hangs() is false on a system that completes or refuses such connects.
class HangingPort {
 public:
  explicit HangingPort(const std::string& host = "127.0.0.1");
  ~HangingPort();
  HangingPort(const HangingPort&) = delete;
  HangingPort& operator=(const HangingPort&) = delete;
  uint16_t port() const { return port_; }
  bool Hangs() const { return hangs_; }

 private:
  TestSocket listener_;
  std::vector<TestSocket> fillers_;
  uint16_t port_ = 0;
  bool hangs_ = false;
};

// "127.0.0.1" as a 32-bit number in host order; 0 for text that is no address.
uint32_t ParseIPv4(const std::string& text);
std::string FormatIPv4(uint32_t ip);

}  // namespace skelder::test
