#pragma once
// A socket I/O handler that can switch to TLS on a connected socket (FTP's explicit TLS: the
// control connection starts in clear text and turns to TLS after "AUTH TLS"; data connections
// turn to TLS once made). Before StartTls it is a plain socket handler; after it everything read
// and written goes through the platform's TLS channel. Connecting (SOCKS included) is the socket
// handler's own, so TLS runs through a proxy as well.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ftp/net_io_handler_socket.h"
#include "net/tls.h"

namespace skelder::ftp {

class TNetIOHandlerTls : public TNetIOHandlerSocket {
 public:
  using TNetIOHandlerSocket::TNetIOHandlerSocket;

  // Runs the handshake over the connected socket within timeoutMs (net::kWaitForever: no limit).
  // ETlsError when it fails, times out or the peer closes; a socket failure raises as such. The
  // certificate is not judged here: Peer() says what it is, and the caller decides before it
  // sends anything of its own.
  void StartTls(const net::TTlsClientSettings& settings, int32_t timeoutMs);
  bool TlsActive() const { return channel_ != nullptr; }
  // Valid after StartTls.
  net::TTlsPeer Peer() const;

  // While TLS is on: the longest wait for the rest of a record a read has begun with and for the
  // peer to take encrypted bytes (0: no limit).
  int32_t TimeoutMs = 60000;

  bool PassesBytesUnchanged() const override { return !TlsActive(); }
  void CloseBinding() override;
  void PrepareHandle() override;
  // True once decrypted bytes are there (or the peer's close, or a failure to report): bytes
  // that only make part of a record do not count.
  bool WaitReadable(int32_t timeoutMs) override;
  int ReceiveInto(void* buffer, int length) override;
  int ReceiveNow(void* buffer, int length) override;
  int SendFrom(const void* buffer, int length) override;

 private:
  void ResetTls();
  bool Ready() const { return plainAt_ < plain_.size() || peerClosed_ || failure_ != 0; }
  // Decrypts what was fed so far into the plain buffer; true when that made Ready().
  bool Decrypt();
  // One receive from the socket after it was found readable, fed to the channel.
  void Pull();
  // Everything the channel has to send, out on the socket; the send's count on failure (<= 0).
  int Flush();
  int Serve(void* buffer, int length);

  std::unique_ptr<net::TTlsChannel> channel_;
  // Decrypted bytes not yet taken: at most one block, so a peer cannot make it grow.
  std::string plain_;
  size_t plainAt_ = 0;
  std::vector<char> raw_;
  bool peerClosed_ = false;
  bool closing_ = false;
  int32_t failure_ = 0;  // socket error of a receive, raised where the bytes would be taken
};

// A handshake that has not ended by then fails, where no read limit of the connection applies.
inline constexpr int32_t kTlsHandshakeTimeoutMs = 60000;

}  // namespace skelder::ftp
