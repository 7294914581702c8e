#include "net/net_socket_handle.h"

#include "net/net_anti_freeze.h"
#include "net/net_component.h"
#include "net/net_exception.h"
#include "platform/clock.h"

namespace skelder::net {

TNetSocketHandle::~TNetSocketHandle() {
  try {
    ShutSocket();
  } catch (...) {
    // Closing on the way out must not throw from a destructor.
  }
}

void TNetSocketHandle::Assign(const TNetSocketHandle& source) {
  IP = source.IP;
  Port = source.Port;
  PeerIP = source.PeerIP;
  PeerPort = source.PeerPort;
}

void TNetSocketHandle::OpenSocket(int type, int protocol) {
  ShutSocket();
  socket_ = ProcessStack().NewSocket(type, protocol);
  allocated_ = true;
}

void TNetSocketHandle::ShutSocket() {
  if (!allocated_.exchange(false)) return;
  TNetSocket s = socket_.exchange(kNoSocket);
  if (s == kNoSocket) return;
  TNetStack& stack = ProcessStack();
  stack.SockShutdown(s, kShutSend);
  stack.SockClose(s);
}

void TNetSocketHandle::Interrupt() {
  TNetStack& stack = ProcessStack();
  if (!stack.CloseEndsBlockedCalls()) {
    TNetSocket s = socket_.load();
    if (allocated_ && s != kNoSocket) stack.SockShutdown(s, kShutBoth);
    return;
  }
  // The handle lets go of the socket before closing it, so nothing closes it a second time; the
  // blocked call ends with 10038 or 10004, which the connect thread takes as the stop.
  if (!allocated_.exchange(false)) return;
  TNetSocket s = socket_.exchange(kNoSocket);
  if (s != kNoSocket) stack.SockClose(s);
}

int TNetSocketHandle::ConnectPeer(int family) {
  int result = ProcessStack().SockConnect(socket_, family, PeerIP, PeerPort);
  if (result != -1) {
    RefreshLocalAddress();
    RefreshPeerAddress();
  }
  return result;
}

int TNetSocketHandle::ReceiveDatagram(void* buffer, int length, int flags, std::string& ip, int32_t& port) {
  return ProcessStack().SockReceiveFrom(socket_, buffer, length, flags, ip, port);
}

bool TNetSocketHandle::TryBind() {
  TNetStack& stack = ProcessStack();
  if (stack.CheckSocketResult(stack.SockBind(socket_, kAfInet, IP, Port), {kErrAddressInUse})) return false;
  RefreshLocalAddress();
  return true;
}

void TNetSocketHandle::BindLocal() {
  if (Port != 0 || ClientPortMin == 0 || ClientPortMax == 0) {
    if (!TryBind()) throw ENetCouldNotBindSocket();
    return;
  }
  if (ClientPortMax < ClientPortMin) throw ENetInvalidPortRange(ClientPortMin, ClientPortMax);
  for (int32_t port = ClientPortMax; port >= ClientPortMin; --port) {
    Port = port;
    if (TryBind()) return;
  }
  Port = ClientPortMin;
  throw ENetCanNotBindPortInRange(ClientPortMin, ClientPortMax);
}

void TNetSocketHandle::BindListeningPort() {
  if (Port != 0 || (ClientPortMin != 0 && ClientPortMax != 0)) {
    BindLocal();
    return;
  }
  // Asked for before the first bind: the connections this listener accepts carry it into their
  // closing wait, which is what lets a later listener take their port.
  TNetStack& stack = ProcessStack();
  const bool reuse = stack.AllowClosedPortReuse(socket_);
  if (TryBind()) return;
  if (!reuse) throw ENetCouldNotBindSocket();
  // The system's own choice passes over ports in a closing wait; a search of its range does not.
  const auto [low, high] = stack.EphemeralPortRange();
  const int32_t count = high - low + 1;
  // Each search starts where the last one ended, so a busy session spreads over the range.
  static std::atomic<uint32_t> next{static_cast<uint32_t>(platform::MonotonicMs())};
  const uint32_t start = next.load();
  for (int32_t i = 0; i < count; ++i) {
    Port = low + static_cast<int32_t>((start + static_cast<uint32_t>(i)) % static_cast<uint32_t>(count));
    if (TryBind()) {
      next.store(start + static_cast<uint32_t>(i) + 1);
      return;
    }
  }
  Port = 0;
  throw ENetCouldNotBindSocket();
}

void TNetSocketHandle::ListenOn(int backlog) {
  TNetStack& stack = ProcessStack();
  stack.CheckSocketResult(stack.SockListen(socket_, backlog));
}

bool TNetSocketHandle::AcceptFrom(TNetSocket listening) {
  ResetAddresses(true);
  TNetStack& stack = ProcessStack();
  std::string ip;
  int32_t port = 0;
  TNetSocket s = stack.SockAccept(listening, ip, port);
  if (stack.CheckSocketResult(s, {kErrInterrupted, kErrNotSocket})) return false;
  socket_ = s;
  allocated_ = true;
  RefreshLocalAddress();
  // The address the accept gave: asking the socket again fails once the peer has reset it.
  PeerIP = ip;
  PeerPort = port;
  return true;
}

void TNetSocketHandle::TakeSocket(TNetSocket socket) {
  socket_ = socket;
  allocated_ = socket != kNoSocket;
}

int TNetSocketHandle::ReceiveData(void* buffer, int length, int flags) {
  return ProcessStack().SockReceive(socket_, buffer, length, flags);
}

int TNetSocketHandle::ReceiveNow(void* buffer, int length) {
  return ProcessStack().SockReceiveNow(socket_, buffer, length);
}

int TNetSocketHandle::SendData(const void* buffer, int length, int flags) {
  return ProcessStack().SockSend(socket_, buffer, length, flags);
}

void TNetSocketHandle::SetOption(int level, int option, const void* value, int length) {
  TNetStack& stack = ProcessStack();
  stack.CheckSocketResult(stack.SockSetOption(socket_, level, option, value, length));
}

void TNetSocketHandle::SetPeerAddress(const std::string& ip, int32_t port) {
  PeerIP = ip;
  PeerPort = port;
}

void TNetSocketHandle::ResetAddresses(bool resetLocal) {
  // Forgets the socket without closing it (an accept hands the value over this way).
  allocated_ = false;
  socket_ = kNoSocket;
  if (resetLocal) {
    IP.clear();
    Port = 0;
  }
  PeerIP.clear();
  PeerPort = 0;
}

void TNetSocketHandle::RefreshLocalAddress() {
  int family = 0;
  ProcessStack().LocalAddressOf(socket_, family, IP, Port);
}

void TNetSocketHandle::RefreshPeerAddress() {
  int family = 0;
  try {
    ProcessStack().PeerAddressOf(socket_, family, PeerIP, PeerPort);
  } catch (const ENetSocketError& e) {
    // A connection without a peer right after it was made: the peer reset it, and "not
    // connected" would blame this side.
    if (e.LastError != kErrNotConnected) throw;
    ProcessStack().RaiseSocketFailure(kErrConnReset);
  }
}

bool TNetSocketHandle::PollOnce(int32_t timeoutMs) {
  if (!allocated_) throw ENetConnClosedGracefully();
  std::vector<TNetSocket> readList{socket_.load()};
  bool readable = ProcessStack().SockSelect(&readList, nullptr, nullptr, timeoutMs) == 1;
  RunHook(!readable, false);
  return readable;
}

bool TNetSocketHandle::PollWritable(int32_t timeoutMs) {
  if (!allocated_) throw ENetConnClosedGracefully();
  const int32_t idle = HookIdleTimeOut();
  int32_t left = timeoutMs;
  for (;;) {
    const int32_t piece = idle > 0 && (left == kWaitForever || left > idle) ? idle : left;
    std::vector<TNetSocket> writeList{socket_.load()};
    if (ProcessStack().SockSelect(nullptr, &writeList, nullptr, piece) == 1) return true;
    RunHook(true, false);
    if (left != kWaitForever) {
      left -= piece;
      if (left <= 0) return false;
    }
  }
}

bool TNetSocketHandle::PollReadable(int32_t timeoutMs) {
  if (!allocated_) throw ENetConnClosedGracefully();
  int32_t idle = HookIdleTimeOut();
  if (idle > 0) {
    if (timeoutMs == kWaitForever) {
      while (!PollOnce(idle)) {
      }
      return true;
    }
    if (timeoutMs > idle && HookCutsBoundedWaits()) {
      // Only the time spent waiting counts towards the limit, not the turns in between.
      for (int32_t left = timeoutMs; left > 0; left -= idle) {
        if (PollOnce(left < idle ? left : idle)) return true;
      }
      return false;
    }
    if (timeoutMs > idle) {
      if (PollOnce(timeoutMs - idle)) return true;
      timeoutMs = idle;
    }
  }
  return PollOnce(timeoutMs);
}

}  // namespace skelder::net
