#pragma once
// Real SOCKS proxies on loopback for the SOCKS tests: dante (SOCKS 4 and 5 without
// authentication; it has no 4A) and microsocks (SOCKS 5 with user name and password). Each
// launcher writes its own configuration into a private temporary folder, starts the server in
// the foreground on a free port, waits until it listens and stops it when destroyed.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "test_support.h"

namespace skelder::test {

class SocksServer {
 public:
  virtual ~SocksServer() = default;
  // False (with Error() telling why) when the program is missing or never listened.
  bool Started() const { return started_; }
  const std::string& Error() const { return error_; }
  const std::string& Host() const { return host_; }
  uint16_t Port() const { return port_; }
  // Whatever the server wrote to its log so far (for diagnostics in failure messages).
  std::string Log() const;

 protected:
  SocksServer() = default;
  // Starts the command line argv() makes for port_, waits for the listener on host_:port_.
  void Launch(const std::function<std::vector<std::string>()>& argv);

  std::unique_ptr<TempDir> dir_ = std::make_unique<TempDir>("skelder-socks-");
  ChildProcess process_;
  std::string host_ = "127.0.0.1";
  uint16_t port_ = 0;
  std::string logFile_;
  bool started_ = false;
  std::string error_;
};

// danted without authentication, internal and external address 127.0.0.1, SOCKS 4 and 5.
class DanteServer : public SocksServer {
 public:
  DanteServer();

 private:
  void WriteConfig(const std::string& conf) const;  // for port_
};

// microsocks requiring the given user name and password.
class MicrosocksServer : public SocksServer {
 public:
  MicrosocksServer(const std::string& user, const std::string& password);
};

// A program path when it is installed, else empty.
std::string FindProgram(const std::string& name);

}  // namespace skelder::test
