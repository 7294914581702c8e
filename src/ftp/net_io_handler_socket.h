#pragma once
// The I/O handler a connection reads and writes through, and its socket implementation, which
// owns one binding and the SOCKS settings.
#include <cstdint>
#include <memory>
#include <string>

#include "ftp/net_socks.h"
#include "net/net_component.h"
#include "net/net_socket_handle.h"

namespace skelder::ftp {

class TNetIOHandler : public net::TNetComponent {
 public:
  using net::TNetComponent::TNetComponent;

  virtual void AfterAccept() {}
  virtual void CloseBinding() = 0;
  // timeoutMs: 0 or -1 = the default wait, kWaitForever = none, else a timed connect.
  virtual void ConnectTo(const std::string& host, int32_t port, const std::string& boundIP, int32_t boundPort,
                         int32_t boundPortMin, int32_t boundPortMax, int32_t timeoutMs) = 0;
  virtual bool HandleConnected() = 0;
  virtual void PrepareHandle() = 0;
  virtual bool WaitReadable(int32_t timeoutMs) = 0;
  // Counts as the socket calls give them: bytes, 0 at orderly close, -1 on failure.
  virtual int ReceiveInto(void* buffer, int length) = 0;
  // The same without waiting: net::kNothingWaiting when no byte is there yet. A handler that
  // cannot tell answers that always, so each of its receives follows a readiness wait.
  virtual int ReceiveNow(void* /*buffer*/, int /*length*/) { return net::kNothingWaiting; }
  virtual int SendFrom(const void* buffer, int length) = 0;
  // Whether SendFrom would go out without waiting longer than timeoutMs for the peer to take
  // data. A handler that cannot tell answers true.
  virtual bool WaitWritable(int32_t /*timeoutMs*/) { return true; }
};

class TNetIOHandlerSocket : public TNetIOHandler {
 public:
  using TNetIOHandler::TNetIOHandler;
  ~TNetIOHandlerSocket() override;

  void CloseBinding() override;
  void ConnectTo(const std::string& host, int32_t port, const std::string& boundIP, int32_t boundPort,
                 int32_t boundPortMin, int32_t boundPortMax, int32_t timeoutMs) override;
  bool HandleConnected() override;
  void PrepareHandle() override;
  bool WaitReadable(int32_t timeoutMs) override;
  int ReceiveInto(void* buffer, int length) override;  // ENetClosedSocket without a socket
  int ReceiveNow(void* buffer, int length) override;   // the same
  int SendFrom(const void* buffer, int length) override;
  bool WaitWritable(int32_t timeoutMs) override;
  // False when the bytes on the socket are not the connection's own (encrypted), so nothing may
  // send a file straight to the socket.
  virtual bool PassesBytesUnchanged() const { return true; }

  // Null until PrepareHandle.
  net::TNetSocketHandle* Binding() const { return binding_.get(); }
  bool UseNagle = true;

  // Created on first use and owned.
  TNetSocksInfo& SocksInfo();
  // One with an owner is referenced (and the handler's own freed); one without is copied.
  void SetSocksInfo(TNetSocksInfo* info);

 protected:
  void Notification(net::TNetBaseComponent* component) override;

 private:
  void TimedConnect(int32_t timeoutMs);
  std::unique_ptr<net::TNetSocketHandle> binding_;
  std::unique_ptr<TNetSocksInfo> ownSocks_;
  TNetSocksInfo* socks_ = nullptr;
};

// Length of one connect step while waiting for a timed connect.
inline constexpr int32_t kConnectStepMs = 125;
// Connect limit while the responsiveness hook is active and no limit was given.
inline constexpr int32_t kHookConnectTimeoutMs = 120000;

}  // namespace skelder::ftp
