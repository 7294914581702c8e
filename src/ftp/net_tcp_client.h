#pragma once
// A TCP client connection: opens through a socket I/O handler of its own (or an assigned one),
// optionally bound to a local address, port or port range, with a timed connect.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "ftp/net_tcp_connection.h"

namespace skelder::ftp {

class TNetTCPClient : public TNetTCPConnection {
 public:
  using TNetTCPConnection::TNetTCPConnection;

  std::string BoundIP;
  int32_t BoundPort = 0;
  int32_t BoundPortMin = 0;
  int32_t BoundPortMax = 0;
  net::TNetNotifyEvent OnConnected;
  std::string Password;  // stored only; the FTP session uses it
  std::string Username;

  const std::string& Host() const { return host_; }
  virtual void SetHost(const std::string& host) { host_ = host; }
  int32_t Port() const { return port_; }
  virtual void SetPortNumber(int32_t port) { port_ = port; }

  virtual void NotifyConnected();
  // timeoutMs -1: the default wait (no limit, or 120 s while the responsiveness hook is active).
  virtual void OpenConnection(int32_t timeoutMs = -1);
  virtual std::string ConnectAndReadAll();

 private:
  void DropQuietly();
  std::string host_;
  int32_t port_ = 0;
};

// Runs a blocking connect of a binding in a thread of its own, so the opening thread can give
// up after a time limit.
class TNetConnectThread {
 public:
  explicit TNetConnectThread(net::TNetSocketHandle& binding);
  ~TNetConnectThread();  // joins
  TNetConnectThread(const TNetConnectThread&) = delete;
  TNetConnectThread& operator=(const TNetConnectThread&) = delete;

  // True once the connect ended; waits at most timeoutMs for it.
  bool WaitFinished(int32_t timeoutMs);
  bool Finished();
  void Terminate() { terminated_ = true; }
  void Join();
  // Empty unless the connect failed.
  std::string ErrorText();

 private:
  void Run();
  net::TNetSocketHandle& binding_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::atomic<bool> terminated_{false};
  std::string errorText_;
  std::thread thread_;
};

}  // namespace skelder::ftp
