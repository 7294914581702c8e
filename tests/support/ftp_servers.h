#pragma once
// Real FTP servers for the tests, started on a loopback address with a config the test writes
// and stopped when the object goes away: pyftpdlib (user with password and/or anonymous) and
// vsftpd (anonymous with write rights). Both keep a log of the commands they received, which
// the tests read to check the command order.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace skelder::test {

struct FtpServerOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0;  // 0: any free port on host
  std::string root;   // the served directory; empty: a fresh temporary one
  std::string user;   // pyftpdlib only: a user with every right (empty: none)
  std::string password;
  bool anonymous = true;  // anonymous log-in with write rights
  // Explicit TLS required for log-ins and data (both set): the server's certificate and key.
  // vsftpd also requires every data connection to resume the control connection's session.
  std::string tlsCert, tlsKey;
  // vsftpd only: further lines for its config.
  std::vector<std::string> extraConfig;
};

class FtpServer {
 public:
  virtual ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  // Starts the server and waits until it accepts connections. False with the reason in *why
  // when the server program is missing or does not come up.
  bool Start(std::string* why);
  void Stop();

  const std::string& host() const { return options_.host; }
  uint16_t port() const { return options_.port; }
  // The served directory on disk (what "/" is for the log-in used).
  const std::string& root() const { return options_.root; }
  const char* name() const { return name_; }

  // Every command line the server received, in order, as logged by the server itself.
  std::vector<std::string> Commands() const;
  // Commands received after the given count (Commands().size() taken earlier).
  std::vector<std::string> CommandsSince(size_t mark) const;
  size_t CommandCount() const { return Commands().size(); }

 protected:
  FtpServer(const char* name, FtpServerOptions options);
  // Writes what the server needs into work dir and returns its command line.
  virtual std::vector<std::string> Prepare(std::string* why) = 0;
  // Whether the server binds port 0 itself and writes the port it got to portFile_.
  virtual bool ReportsItsPort() const { return false; }
  virtual std::vector<std::string> ParseLog(const std::string& text) const = 0;

  const char* name_;
  FtpServerOptions options_;
  std::unique_ptr<TempDir> work_;     // config, logs
  std::unique_ptr<TempDir> ownRoot_;  // when no root was given
  std::string commandLog_;
  std::string portFile_;  // with port 0 asked for, from a server that reports its port
  ChildProcess process_;

 private:
  bool Launch(std::string* why);  // starts the prepared server and waits until it listens
};

class PyFtpdServer : public FtpServer {
 public:
  explicit PyFtpdServer(FtpServerOptions options = {});

 protected:
  std::vector<std::string> Prepare(std::string* why) override;
  bool ReportsItsPort() const override { return true; }
  std::vector<std::string> ParseLog(const std::string& text) const override;
};

class VsftpdServer : public FtpServer {
 public:
  explicit VsftpdServer(FtpServerOptions options = {});

 protected:
  std::vector<std::string> Prepare(std::string* why) override;
  std::vector<std::string> ParseLog(const std::string& text) const override;
};

// Both kinds, for tests that run the same case against each server.
enum class FtpServerKind { kPyFtpd, kVsftpd };
std::unique_ptr<FtpServer> MakeFtpServer(FtpServerKind kind, FtpServerOptions options = {});
const char* FtpServerKindName(FtpServerKind kind);

}  // namespace skelder::test
