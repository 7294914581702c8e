#pragma once
// The binding: one socket with its local and peer addresses, bound optionally inside a port
// range, with a readability wait that the responsiveness hook cuts into short pieces.
#include <atomic>
#include <cstdint>
#include <string>

#include "net/net_stack.h"

namespace skelder::net {

class TNetSocketHandle {
 public:
  // `initialPort` is the port a collection supplies to handles made inside it.
  explicit TNetSocketHandle(int32_t initialPort = 0) : Port(initialPort) {}
  virtual ~TNetSocketHandle();  // runs ShutSocket
  TNetSocketHandle(const TNetSocketHandle&) = delete;
  TNetSocketHandle& operator=(const TNetSocketHandle&) = delete;

  // Copies IP, Port and the peer address and port, never the socket.
  void Assign(const TNetSocketHandle& source);

  void OpenSocket(int type = kSockStream, int protocol = 0);
  // Clears the allocated flag first, then shuts sending down and closes.
  virtual void ShutSocket();
  // Connect to the peer; the result goes back unexamined.
  virtual int ConnectPeer(int family = kAfInet);
  virtual int ReceiveDatagram(void* buffer, int length, int flags, std::string& ip, int32_t& port);
  void BindLocal();
  // BindLocal for a socket about to listen. With port 0 and no range, when the system has no
  // port left to give, which happens when thousands of connections closed within the last
  // minute still hold theirs in their closing wait, a free one is sought in the system's range
  // with those waits passed over (never a port another socket listens on).
  void BindListeningPort();
  void ListenOn(int backlog);
  // False (no exception) when interrupted (10004) or the listening socket went away (10038).
  bool AcceptFrom(TNetSocket listening);
  int ReceiveData(void* buffer, int length, int flags);
  // Never waits: kNothingWaiting when no byte is there yet, else as ReceiveData.
  int ReceiveNow(void* buffer, int length);
  int SendData(const void* buffer, int length, int flags);
  void SetOption(int level, int option, const void* value, int length);
  void SetPeerAddress(const std::string& ip, int32_t port);
  void ResetAddresses(bool resetLocal);
  void RefreshLocalAddress();
  void RefreshPeerAddress();
  // ENetConnClosedGracefully without a socket. Timeout in ms, kWaitForever without limit.
  bool PollReadable(int32_t timeoutMs);
  // Whether a send would go out now (or fail at once, the peer being gone), waiting at most
  // timeoutMs (kWaitForever: no limit). While the hook is in use the wait is cut into pieces of
  // its idle time with a turn after each.
  bool PollWritable(int32_t timeoutMs);
  // Ends a connect blocked in another thread. Where shutting down does that (POSIX), both
  // directions are shut and the descriptor stays ours until ShutSocket, so it cannot be reused
  // under that thread; where only closing does (Windows), the handle lets go of the socket and
  // closes it.
  void Interrupt();
  // Makes an open socket this handle's again (a listener the handle gave up for an accept);
  // addresses stay as they are.
  void TakeSocket(TNetSocket socket);

  TNetSocket Socket() const { return socket_.load(); }
  bool Allocated() const { return allocated_.load(); }

  std::string IP;
  int32_t Port = 0;
  std::string PeerIP;
  int32_t PeerPort = 0;
  int32_t ClientPortMin = 0;
  int32_t ClientPortMax = 0;

 private:
  bool TryBind();  // false when the address is in use
  bool PollOnce(int32_t timeoutMs);
  std::atomic<TNetSocket> socket_{kNoSocket};
  std::atomic<bool> allocated_{false};
};

}  // namespace skelder::net
