#include "ftp/net_io_handler_tls.h"

#include <algorithm>
#include <cstring>

#include "ftp/net_tcp_connection.h"
#include "net/net_stack.h"
#include "platform/clock.h"

namespace skelder::ftp {

namespace {

// A TLS record holds at most 16 KiB of data; a receive takes a record with its overhead.
constexpr size_t kPlainBlock = 16 * 1024;
constexpr size_t kRawBlock = 17 * 1024 + 512;
// close_notify is a courtesy: a peer that takes nothing does not hold the close up for long.
constexpr int32_t kCloseNotifyWaitMs = 1000;

// What is left of a wait that began at `start`; kWaitForever stays.
int32_t Remaining(int32_t timeoutMs, uint64_t start) {
  if (timeoutMs < 0) return net::kWaitForever;
  const uint64_t elapsed = platform::MonotonicMs() - start;
  return elapsed >= static_cast<uint64_t>(timeoutMs) ? 0 : timeoutMs - static_cast<int32_t>(elapsed);
}

std::string Duration(int32_t ms) {
  if (ms % 1000 != 0) return std::to_string(ms) + " ms";
  return ms == 1000 ? std::string("1 second") : std::to_string(ms / 1000) + " seconds";
}

}  // namespace

void TNetIOHandlerTls::ResetTls() {
  channel_.reset();
  plain_.clear();
  plainAt_ = 0;
  peerClosed_ = false;
  failure_ = 0;
}

void TNetIOHandlerTls::PrepareHandle() {
  ResetTls();
  TNetIOHandlerSocket::PrepareHandle();
}

void TNetIOHandlerTls::CloseBinding() {
  if (channel_ && !closing_ && HandleConnected() && failure_ == 0) {
    closing_ = true;  // a handler run from the hook below may close the connection itself
    try {
      // The orderly end: the peer tells a complete transfer from a cut one by it.
      channel_->Shutdown();
      const std::string alert = channel_->TakeOutgoing();
      if (!alert.empty() && TNetIOHandlerSocket::WaitWritable(kCloseNotifyWaitMs))
        TNetIOHandlerSocket::SendFrom(alert.data(), static_cast<int>(alert.size()));
      if (!peerClosed_) {
        // Records the peer sent that were never read (TLS 1.3 tickets after an upload's
        // handshake) would turn the close into a reset, and a reset can cost the peer the end
        // of what it has not read yet: our end is said, then the peer's is awaited, briefly.
        // A proxy may end both of its connections at our end of data, leaving unread what the
        // server sent it, which resets the server's side: through one, the server's close_notify
        // is awaited before ours goes out as the end of the connection.
        const bool viaProxy = SocksInfo().Version != svNoSocks;
        if (!viaProxy) net::ProcessStack().SockShutdown(Binding()->Socket(), net::kShutSend);
        const uint64_t start = platform::MonotonicMs();
        if (raw_.size() < kRawBlock) raw_.resize(kRawBlock);
        while (Binding()->Allocated()) {
          const int32_t wait = Remaining(kCloseNotifyWaitMs, start);
          if (wait == 0 || !TNetIOHandlerSocket::WaitReadable(wait)) break;
          if (TNetIOHandlerSocket::ReceiveInto(raw_.data(), static_cast<int>(raw_.size())) <= 0) break;
        }
      }
    } catch (const std::exception&) {
      // Closing goes on whatever the channel's or the socket's state.
    }
    closing_ = false;
  }
  ResetTls();
  TNetIOHandlerSocket::CloseBinding();
}

void TNetIOHandlerTls::StartTls(const net::TTlsClientSettings& settings, int32_t timeoutMs) {
  ResetTls();
  if (!HandleConnected()) throw ENetClosedSocket();
  channel_ = net::NewTlsClient(settings);
  if (raw_.size() < kRawBlock) raw_.resize(kRawBlock);
  const uint64_t start = platform::MonotonicMs();
  try {
    while (!channel_->Handshake()) {
      if (Flush() <= 0) throw net::ETlsError("TLS handshake failed: the server closed the connection");
      const int32_t wait = Remaining(timeoutMs, start);
      if (wait == 0 || !TNetIOHandlerSocket::WaitReadable(wait))
        throw net::ETlsError("TLS handshake failed: no answer from the server within " + Duration(timeoutMs));
      const int count = TNetIOHandlerSocket::ReceiveInto(raw_.data(), static_cast<int>(raw_.size()));
      if (count == 0) throw net::ETlsError("TLS handshake failed: the server closed the connection");
      if (count < 0) {
        net::TNetStack& stack = net::ProcessStack();
        stack.RaiseSocketFailure(stack.LastSocketError());
      }
      channel_->Feed(raw_.data(), static_cast<size_t>(count));
    }
    // The client's last handshake flight (its Finished).
    if (Flush() < 0) {
      net::TNetStack& stack = net::ProcessStack();
      stack.RaiseSocketFailure(stack.LastSocketError());
    }
  } catch (const net::ETlsError&) {
    // The alert that says why, for the server's log; the channel stays, failed, so nothing
    // goes out in clear text after this.
    try {
      Flush();
    } catch (...) {
    }
    failure_ = net::kErrConnAborted;
    throw;
  } catch (...) {
    failure_ = net::kErrConnAborted;
    throw;
  }
}

net::TTlsPeer TNetIOHandlerTls::Peer() const { return channel_ ? channel_->Peer() : net::TTlsPeer{}; }

int TNetIOHandlerTls::Flush() {
  const std::string bytes = channel_->TakeOutgoing();
  size_t at = 0;
  while (at < bytes.size()) {
    if (TimeoutMs > 0 && !TNetIOHandlerSocket::WaitWritable(TimeoutMs)) throw ENetWriteTimeout();
    const int sent = TNetIOHandlerSocket::SendFrom(bytes.data() + at, static_cast<int>(bytes.size() - at));
    if (sent <= 0) return sent;
    at += static_cast<size_t>(sent);
  }
  return 1;
}

bool TNetIOHandlerTls::Decrypt() {
  if (Ready()) return true;
  plain_.resize(kPlainBlock);
  const size_t count = channel_->Read(plain_.data(), plain_.size());
  plain_.resize(count);
  plainAt_ = 0;
  // Reading may have made an answer of the channel's own (a key update).
  if (Flush() < 0) failure_ = net::ProcessStack().LastSocketError();
  if (channel_->PeerClosed()) peerClosed_ = true;
  return Ready();
}

void TNetIOHandlerTls::Pull() {
  if (raw_.size() < kRawBlock) raw_.resize(kRawBlock);
  const int count = TNetIOHandlerSocket::ReceiveInto(raw_.data(), static_cast<int>(raw_.size()));
  if (count > 0)
    channel_->Feed(raw_.data(), static_cast<size_t>(count));
  else if (count == 0)
    peerClosed_ = true;  // the socket closed without close_notify: the end all the same
  else
    failure_ = net::ProcessStack().LastSocketError();
}

bool TNetIOHandlerTls::WaitReadable(int32_t timeoutMs) {
  if (!channel_) return TNetIOHandlerSocket::WaitReadable(timeoutMs);
  const uint64_t start = platform::MonotonicMs();
  while (!Decrypt()) {
    const int32_t wait = Remaining(timeoutMs, start);
    if (!TNetIOHandlerSocket::WaitReadable(wait)) return false;
    Pull();
    if (wait == 0 && !Decrypt()) return false;
  }
  return true;
}

int TNetIOHandlerTls::Serve(void* buffer, int length) {
  if (plainAt_ < plain_.size()) {
    const size_t count = std::min(plain_.size() - plainAt_, static_cast<size_t>(std::max(length, 0)));
    std::memcpy(buffer, plain_.data() + plainAt_, count);
    plainAt_ += count;
    return static_cast<int>(count);
  }
  if (failure_ != 0) {
    const int32_t code = failure_;
    failure_ = 0;
    peerClosed_ = true;
    net::ProcessStack().RaiseSocketFailure(code);
  }
  return 0;  // the peer closed
}

int TNetIOHandlerTls::ReceiveInto(void* buffer, int length) {
  if (!channel_) return TNetIOHandlerSocket::ReceiveInto(buffer, length);
  if (!HandleConnected()) throw ENetClosedSocket();
  // Called once WaitReadable said so; a caller that did not wait still gets a bounded wait.
  if (!Ready() && !WaitReadable(TimeoutMs > 0 ? TimeoutMs : net::kWaitForever)) throw ENetReadTimeout();
  return Serve(buffer, length);
}

int TNetIOHandlerTls::ReceiveNow(void* buffer, int length) {
  if (!channel_) return TNetIOHandlerSocket::ReceiveNow(buffer, length);
  if (!HandleConnected()) throw ENetClosedSocket();
  if (!Decrypt()) {
    if (raw_.size() < kRawBlock) raw_.resize(kRawBlock);
    const int count = TNetIOHandlerSocket::ReceiveNow(raw_.data(), static_cast<int>(raw_.size()));
    if (count == net::kNothingWaiting) return net::kNothingWaiting;
    if (count > 0)
      channel_->Feed(raw_.data(), static_cast<size_t>(count));
    else if (count == 0)
      peerClosed_ = true;
    else
      failure_ = net::ProcessStack().LastSocketError();
    // Part of a record is no data yet.
    if (!Decrypt()) return net::kNothingWaiting;
  }
  // A failure is raised by the receive that waits, after the bytes before it were taken.
  if (plainAt_ >= plain_.size() && failure_ != 0) return net::kNothingWaiting;
  return Serve(buffer, length);
}

int TNetIOHandlerTls::SendFrom(const void* buffer, int length) {
  if (!channel_) return TNetIOHandlerSocket::SendFrom(buffer, length);
  if (!HandleConnected()) throw ENetClosedSocket();
  if (failure_ != 0 && plainAt_ >= plain_.size()) Serve(nullptr, 0);  // raises the failure
  const int count = std::min(length, static_cast<int>(kPlainBlock));
  channel_->Write(static_cast<const char*>(buffer), static_cast<size_t>(count));
  // A record goes out whole or the connection is of no further use: a partial one cannot be
  // taken back.
  const int sent = Flush();
  return sent <= 0 ? sent : count;
}

}  // namespace skelder::ftp
