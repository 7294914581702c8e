#pragma once
// The process-wide socket stack: IPv4 addresses as dotted text, ports in host order, 32-bit
// socket values, and failures reported in the 100xx numbers the layers above compare against
// (10004, 10009, 10038, 10048, 10053, 10054, 10058, ...), on every platform.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace skelder::net {

using TNetSocket = int32_t;
inline constexpr TNetSocket kNoSocket = -1;

// Values as the socket interface defines them (identical on Windows and Linux).
inline constexpr int kAfInet = 2;
inline constexpr int kSockStream = 1;
inline constexpr int kSockDgram = 2;
inline constexpr int kIpProtoTcp = 6;
inline constexpr int kTcpNoDelay = 1;
inline constexpr int kShutSend = 1;
inline constexpr int kShutBoth = 2;
inline constexpr int32_t kWaitForever = -2;
inline constexpr int kMaxSocketSet = 64;
// What a receive that must not wait gives when no byte is there (not a failure).
inline constexpr int kNothingWaiting = -2;

// Error numbers the layers above test for.
inline constexpr int32_t kErrInterrupted = 10004;
inline constexpr int32_t kErrBadFile = 10009;
inline constexpr int32_t kErrWouldBlock = 10035;
inline constexpr int32_t kErrNotSocket = 10038;
inline constexpr int32_t kErrAddressInUse = 10048;
inline constexpr int32_t kErrConnAborted = 10053;
inline constexpr int32_t kErrConnReset = 10054;
inline constexpr int32_t kErrNotConnected = 10057;
inline constexpr int32_t kErrShutdown = 10058;
inline constexpr int32_t kErrConnRefused = 10061;
inline constexpr int32_t kErrHostNotFound = 11001;

// A fixed set of at most 64 sockets without allocation of its own, the unit a select works on.
class TNetSocketList {
 public:
  virtual ~TNetSocketList() = default;
  virtual TNetSocket Item(int index) const;  // ENetStackSetSizeExceeded outside 0..Count-1
  virtual void Add(TNetSocket socket);       // ENetStackSetSizeExceeded when full
  virtual void Remove(TNetSocket socket);    // the last socket moves into the freed slot
  virtual int Count() const { return count_; }
  void Clear() { count_ = 0; }

 private:
  int count_ = 0;
  std::array<TNetSocket, kMaxSocketSet> items_{};
};

class TNetStack {
 public:
  TNetStack();
  virtual ~TNetStack();
  TNetStack(const TNetStack&) = delete;
  TNetStack& operator=(const TNetStack&) = delete;

  virtual void FillLocalAddresses();
  virtual std::string FirstLocalAddress();
  // Refilled on every call.
  virtual const std::vector<std::string>& LocalAddresses();
  virtual TNetSocket SockAccept(TNetSocket listening, std::string& peerIP, int32_t& peerPort) = 0;
  virtual int SockBind(TNetSocket socket, int family, const std::string& ip, int32_t port) = 0;
  virtual int SockClose(TNetSocket socket) = 0;
  virtual int SockConnect(TNetSocket socket, int family, const std::string& ip, int32_t port) = 0;
  virtual std::string HostAddressByName(const std::string& host) = 0;
  virtual std::string LocalHostName() = 0;
  virtual std::string HostNameByAddress(const std::string& ip) = 0;
  virtual int32_t ServicePort(const std::string& service) = 0;
  virtual std::vector<std::string> ServiceNamesOfPort(int32_t port) = 0;
  virtual uint16_t HostToNet16(uint16_t value) = 0;
  virtual int SockListen(TNetSocket socket, int backlog) = 0;
  virtual uint16_t NetToHost16(uint16_t value) = 0;
  virtual uint32_t HostToNet32(uint32_t value) = 0;
  virtual uint32_t NetToHost32(uint32_t value) = 0;
  virtual int SockReceive(TNetSocket socket, void* buffer, int length, int flags) = 0;
  virtual int SockReceiveFrom(TNetSocket socket, void* buffer, int length, int flags, std::string& ip,
                              int32_t& port) = 0;
  // A receive that never waits: as SockReceive, or kNothingWaiting when no byte is there yet.
  // This version asks a zero-time select first; stacks with a non-waiting flag do better.
  virtual int SockReceiveNow(TNetSocket socket, void* buffer, int length);
  // Each given list (any may be null) holds at most 64 sockets and is replaced by its ready
  // sockets. Timeout in ms, kWaitForever without limit. Result: ready count, 0 on timeout, -1.
  virtual int SockSelect(std::vector<TNetSocket>* readList, std::vector<TNetSocket>* writeList,
                         std::vector<TNetSocket>* errorList, int32_t timeoutMs) = 0;
  virtual int SockSend(TNetSocket socket, const void* buffer, int length, int flags) = 0;
  virtual int SockSendTo(TNetSocket socket, const void* buffer, int length, int flags, const std::string& ip,
                         int32_t port) = 0;
  virtual int SockSetOption(TNetSocket socket, int level, int option, const void* value, int length) = 0;
  virtual TNetSocket SockCreate(int family, int type, int protocol) = 0;
  virtual int SockShutdown(TNetSocket socket, int how) = 0;
  // "Socket Error # %d" CR LF and the code's text (empty for codes outside the table).
  virtual std::string ErrorText(int32_t code);
  // The calling thread's last socket error, already in the 100xx numbers.
  virtual int32_t LastSocketError() = 0;
  virtual void PeerAddressOf(TNetSocket socket, int& family, std::string& ip, int32_t& port) = 0;
  virtual void LocalAddressOf(TNetSocket socket, int& family, std::string& ip, int32_t& port) = 0;
  virtual int SockGetOption(TNetSocket socket, int level, int option, void* value, int& length) = 0;
  virtual std::string AddressToText(const std::array<uint8_t, 4>& bytes);
  virtual std::array<uint8_t, 4> TextToAddress(const std::string& text);

  // Lets a socket be bound to a port that connections closed a moment ago still hold while
  // they wait out their close; never to a port another socket listens on. False where the
  // platform's option would allow more than that.
  virtual bool AllowClosedPortReuse(TNetSocket /*socket*/) { return false; }
  // The ports the system hands out when asked for any port.
  virtual std::pair<int32_t, int32_t> EphemeralPortRange() { return {49152, 65535}; }
  // How a call blocked in another thread (a connect) is ended: true where only closing the
  // socket does it (Windows), false where shutting it down does (and closing would not).
  virtual bool CloseEndsBlockedCalls() const { return false; }

  // Whether the platform has a call that sends a whole open file on a socket.
  virtual bool HasFileTransmit() const { return false; }
  // Bytes sent (the file size) on success, 0 on failure.
  virtual int64_t TransmitFile(TNetSocket /*socket*/, const std::string& /*fileName*/) { return 0; }

  // False for any result but -1. For -1: records the error; true when it is on the ignore list,
  // else raises ENetSocketError.
  bool CheckSocketResult(int result, std::initializer_list<int32_t> ignore = {});
  [[noreturn]] void RaiseSocketFailure(int32_t code);
  TNetSocket NewSocket(int type, int protocol);  // ENetInvalidSocket on failure
  std::string ResolveName(const std::string& host);
  static bool IsDottedAddress(const std::string& text);
  int32_t LastError() const { return lastError_.load(); }

 protected:
  // The table of texts without the template; derived stacks add their own codes in front.
  static std::string CodeText(int32_t code);
  // Every address the name lookup answers, in its order (FillLocalAddresses uses it).
  virtual std::vector<std::string> AddressesByName(const std::string& host) { return {HostAddressByName(host)}; }

 private:
  std::atomic<int32_t> lastError_{0};
  std::unique_ptr<std::vector<std::string>> localAddresses_;
};

// The stack class chosen at start-up (the POSIX stack on Linux); tests may replace it while no
// component lives.
using TNetStackFactory = std::function<std::unique_ptr<TNetStack>()>;
void SetStackFactory(TNetStackFactory factory);
std::unique_ptr<TNetStack> MakePlatformStack();

}  // namespace skelder::net
