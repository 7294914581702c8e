#pragma once
// A scripted TCP server on loopback for what real servers will not do on demand: it accepts
// connections one after another and plays one script per connection (send these bytes, expect
// a line, stall, close, reset, ...), recording every line and byte it receives.
//
//   FaultServer server({FaultScript().Send("220 hi\r\n").ExpectLine("USER bob").Stall()});
//   client.SetPort(server.port());
//   ... server.ReceivedLines(), server.Failures() (unmet expectations), server.WaitDone(ms)
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "test_socket.h"

namespace skelder::test {

class FaultServer;

// One accepted connection, as a script step sees it.
class FaultSession {
 public:
  FaultSession(FaultServer& server, TestSocket fd, int index) : server_(server), fd_(fd), index_(index) {}
  int index() const { return index_; }  // 0 for the first accepted connection
  TestSocket fd() const { return fd_; }
  // Hands the socket to the caller, who closes it; the session has none any more.
  TestSocket Detach();

  bool Send(const std::string& bytes);  // false when the peer has gone
  // One line up to LF (CR LF or LF removed); none when the peer closed or the server stops.
  // Waits at most `limit` (default: until the server stops).
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit = std::chrono::milliseconds(-1));
  // Everything until the peer closes (or the server stops).
  std::string ReadUntilClose();
  // Waits until the peer closes (or the server stops), reading and discarding nothing of it:
  // received bytes are kept as data.
  void Stall();
  void Close();          // orderly close
  void Reset();          // abortive close: the peer sees a reset
  void ShutdownWrite();  // half close: the peer reads end of data, can still send
  bool Closed() const { return fd_ == kNoTestSocket; }
  // The server's own host and port (for building replies that name another listener).
  FaultServer& server() { return server_; }

 private:
  bool Fill(std::chrono::milliseconds limit);  // false on close, stop or limit
  FaultServer& server_;
  TestSocket fd_;
  int index_;
  std::string pending_;  // received bytes not yet handed out as lines
};

// A step returns false to end the connection's script early.
using FaultStep = std::function<bool(FaultSession&)>;

class FaultScript {
 public:
  FaultScript& Send(std::string bytes);
  // Sends the bytes in pieces of `piece` bytes with `pause` between them.
  FaultScript& SendSlowly(std::string bytes, size_t piece, std::chrono::milliseconds pause);
  // Sends `unit` again and again, `pause` apart, until the peer goes or the server stops: a
  // reply that never ends, blank lines for ever, a listing without end.
  FaultScript& SendForever(std::string unit, std::chrono::milliseconds pause = std::chrono::milliseconds(0));
  // Reads one line; with `expected` given, a different line is recorded as a failure.
  FaultScript& ExpectLine(std::optional<std::string> expected = std::nullopt);
  // Reads lines until one starts with `prefix` (case-sensitive); lines before it are recorded.
  FaultScript& ExpectLineStartingWith(std::string prefix);
  FaultScript& ReadUntilClose();
  FaultScript& Sleep(std::chrono::milliseconds pause);
  FaultScript& Stall();
  FaultScript& Close();
  FaultScript& Reset();
  FaultScript& ShutdownWrite();
  FaultScript& Custom(FaultStep step);

  const std::vector<FaultStep>& steps() const { return steps_; }

 private:
  std::vector<FaultStep> steps_;
};

// Plain socket helpers for scripts that play the other end of a data connection.
// Connects from `from` (any local address when null) to ip:port; kNoTestSocket when that fails.
TestSocket ConnectFrom(const char* from, uint32_t ip, uint16_t port);
// Connects to the address of a "PORT h1,h2,h3,h4,p1,p2" line, as ConnectFrom.
TestSocket ConnectToPortLine(const std::string& line, const char* from = nullptr);
// Everything until the peer closes, waiting at most 5 s for each piece.
std::string Drain(TestSocket fd);

class FaultServer {
 public:
  // One script per accepted connection, in order; accepting stops after the last. Binds a free
  // port on `host` (a loopback address), or `port` when given.
  explicit FaultServer(std::vector<FaultScript> scripts, const std::string& host = "127.0.0.1", uint16_t port = 0);
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  uint16_t port() const { return port_; }
  const std::string& host() const { return host_; }

  // Lines received on every connection, in order.
  std::vector<std::string> ReceivedLines() const;
  // All bytes received on connection `index` (lines included, with their line ends).
  std::string ReceivedData(int index) const;
  // Unmet expectations, e.g. `expected "USER bob", got "USER ann"`.
  std::vector<std::string> Failures() const;
  int AcceptedCount() const { return accepted_.load(); }
  // True once every script has been played to its end.
  bool WaitDone(std::chrono::milliseconds limit);
  // Waits until `count` lines have arrived.
  bool WaitForLines(size_t count, std::chrono::milliseconds limit);
  void Stop();
  bool Stopping() const { return stop_.load(); }

  // Used by sessions.
  void RecordLine(const std::string& line);
  void RecordData(int index, const std::string& bytes);
  void RecordFailure(const std::string& failure);

 private:
  void Run();
  std::vector<FaultScript> scripts_;
  std::string host_;
  uint16_t port_ = 0;
  TestSocket listenFd_ = kNoTestSocket;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::atomic<int> accepted_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::vector<std::string> data_;
  std::vector<std::string> failures_;
  std::thread thread_;
};

}  // namespace skelder::test
