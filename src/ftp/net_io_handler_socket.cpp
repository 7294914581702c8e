#include "ftp/net_io_handler_socket.h"

#include "ftp/net_tcp_client.h"
#include "ftp/net_tcp_connection.h"
#include "net/net_anti_freeze.h"
#include "net/net_stack.h"

namespace skelder::ftp {

using net::ProcessStack;

TNetIOHandlerSocket::~TNetIOHandlerSocket() {
  if (socks_ != nullptr && socks_ != ownSocks_.get()) socks_->RemoveFreeNotification(this);
}

void TNetIOHandlerSocket::CloseBinding() {
  if (binding_) binding_->ShutSocket();
}

bool TNetIOHandlerSocket::HandleConnected() { return binding_ && binding_->Allocated(); }

void TNetIOHandlerSocket::PrepareHandle() {
  if (!binding_)
    binding_ = std::make_unique<net::TNetSocketHandle>();
  else
    binding_->ResetAddresses(true);
}

bool TNetIOHandlerSocket::WaitReadable(int32_t timeoutMs) {
  if (!binding_) throw net::ENetConnClosedGracefully();
  return binding_->PollReadable(timeoutMs);
}

bool TNetIOHandlerSocket::WaitWritable(int32_t timeoutMs) {
  if (!binding_) throw net::ENetConnClosedGracefully();
  return binding_->PollWritable(timeoutMs);
}

int TNetIOHandlerSocket::ReceiveInto(void* buffer, int length) {
  if (!binding_ || !binding_->Allocated()) throw ENetClosedSocket();
  return binding_->ReceiveData(buffer, length, 0);
}

int TNetIOHandlerSocket::ReceiveNow(void* buffer, int length) {
  if (!binding_ || !binding_->Allocated()) throw ENetClosedSocket();
  return binding_->ReceiveNow(buffer, length);
}

int TNetIOHandlerSocket::SendFrom(const void* buffer, int length) {
  if (!binding_ || !binding_->Allocated()) throw ENetClosedSocket();
  return binding_->SendData(buffer, length, 0);
}

TNetSocksInfo& TNetIOHandlerSocket::SocksInfo() {
  if (socks_ == nullptr) {
    ownSocks_ = std::make_unique<TNetSocksInfo>(this);
    socks_ = ownSocks_.get();
  }
  return *socks_;
}

void TNetIOHandlerSocket::SetSocksInfo(TNetSocksInfo* info) {
  if (info == nullptr || info == socks_) return;
  if (info->Owner() != nullptr) {
    if (socks_ != nullptr && socks_ != ownSocks_.get()) socks_->RemoveFreeNotification(this);
    ownSocks_.reset();
    socks_ = info;
    socks_->FreeNotification(this);
  } else {
    SocksInfo().Assign(*info);
  }
}

void TNetIOHandlerSocket::Notification(net::TNetBaseComponent* component) {
  if (component == socks_ && socks_ != ownSocks_.get()) socks_ = nullptr;
}

void TNetIOHandlerSocket::ConnectTo(const std::string& host, int32_t port, const std::string& boundIP,
                                    int32_t boundPort, int32_t boundPortMin, int32_t boundPortMax, int32_t timeoutMs) {
  if (!binding_) PrepareHandle();
  TNetSocksInfo* socks = socks_;
  bool viaSocks = socks != nullptr && socks->Version != svNoSocks;
  std::string target = viaSocks ? socks->Host : host;
  int32_t targetPort = viaSocks ? socks->Port : port;

  binding_->OpenSocket(net::kSockStream, 0);
  binding_->IP = boundIP;
  binding_->Port = boundPort;
  binding_->ClientPortMin = boundPortMin;
  binding_->ClientPortMax = boundPortMax;
  // Any address and any port is what the connect binds by itself, and it chooses better: a
  // port for this very peer, so connections closed a moment ago that still wait out their close
  // do not use the ports up, as they do for a bind made before the peer is known.
  const bool anyAddress = boundIP.empty() || boundIP == "0.0.0.0";
  if (!anyAddress || boundPort != 0 || (boundPortMin != 0 && boundPortMax != 0)) binding_->BindLocal();

  net::TNetStack& stack = ProcessStack();
  if (!net::TNetStack::IsDottedAddress(target)) ReportStatus(net::stResolving, target);
  binding_->SetPeerAddress(stack.ResolveName(target), targetPort);

  if (!UseNagle) {
    int32_t one = 1;
    binding_->SetOption(net::kIpProtoTcp, net::kTcpNoDelay, &one, sizeof one);
  }
  ReportStatus(net::stConnecting, binding_->PeerIP);

  if (timeoutMs != -1 && timeoutMs != 0)
    TimedConnect(timeoutMs);
  else if (net::HookInUse())
    TimedConnect(kHookConnectTimeoutMs);
  else
    stack.CheckSocketResult(binding_->ConnectPeer(net::kAfInet));

  if (socks != nullptr) {
    socks->IOHandler = this;
    socks->NegotiateSocks(host, port);
  }
}

void TNetIOHandlerSocket::TimedConnect(int32_t timeoutMs) {
  TNetConnectThread thread(*binding_);
  int32_t step = kConnectStepMs;
  int32_t idle = net::HookIdleTimeOut();
  if (idle > 0 && idle < step) step = idle;
  const bool forever = timeoutMs == net::kWaitForever;
  int32_t remaining = forever ? step + 1 : timeoutMs;
  while (step < remaining) {
    // Waiting on the thread instead of a plain sleep ends the step as soon as it is done.
    if (thread.WaitFinished(step)) {
      remaining = 0;
      break;
    }
    net::RunHook(true, false);
    if (!forever) remaining -= step;
  }
  if (remaining > 0) thread.WaitFinished(remaining);
  if (!thread.Finished()) {
    thread.Terminate();
    // On Linux closing a descriptor does not wake a blocked connect: shut it down, let the
    // thread end, and only then close, so no descriptor is reused under it.
    binding_->Interrupt();
    thread.Join();
    CloseBinding();
    throw ENetConnectTimeout();
  }
  thread.Join();
  std::string error = thread.ErrorText();
  if (!error.empty()) throw ENetConnectException(error);
}

}  // namespace skelder::ftp
