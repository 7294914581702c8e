// SOCKS through real proxies on loopback: dante (SOCKS 4 and 5 without authentication) and
// microsocks (SOCKS 5 with user name and password), in front of a real FTP server, so what
// arrives through the proxy is checked by a real peer.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ftp/net_ftp.h"
#include "ftp/net_io_handler_socket.h"
#include "ftp/net_socks.h"
#include "ftp/net_stream.h"
#include "ftp_servers.h"
#include "socks_servers.h"

namespace skelder::ftp {
namespace {

using test::DanteServer;
using test::FtpServerOptions;
using test::MicrosocksServer;
using test::PyFtpdServer;

constexpr const char* kUser = "socksuser";
constexpr const char* kPassword = "Pr0xy-Secret";

class SocksThroughProxy : public ::testing::Test {
 protected:
  void SetUp() override {
    FtpServerOptions options;
    options.user = "ftpuser";
    options.password = "ftppass";
    options.anonymous = false;
    ftpServer_ = std::make_unique<PyFtpdServer>(options);
    std::string why;
    started_ = ftpServer_->Start(&why);
    why_ = why;
  }

  // A session whose control connection (and passive data connections) go through the proxy.
  void Configure(TSocksVersion version, const test::SocksServer& proxy, TSocksAuthentication auth,
                 const std::string& user = {}, const std::string& password = {}) {
    handler_ = std::make_unique<TNetIOHandlerSocket>();
    TNetSocksInfo& socks = handler_->SocksInfo();
    socks.Version = version;
    socks.Host = proxy.Host();
    socks.Port = proxy.Port();
    socks.Authentication = auth;
    socks.Username = user;
    socks.Password = password;
    ftp_ = std::make_unique<TNetFTP>();
    ftp_->SetIOHandler(handler_.get());
    ftp_->ReadTimeout = 10000;
    ftp_->SetHost(ftpServer_->host());
    ftp_->SetPortNumber(ftpServer_->port());
    ftp_->Username = "ftpuser";
    ftp_->Password = "ftppass";
  }

  // Logs in through the proxy and moves a file up and down in passive mode.
  void RoundTrip() {
    ftp_->OpenSession(true, 10000);
    EXPECT_EQ(ftp_->LoginMsg().NumericCode(), 230);
    ftp_->Passive = true;
    const std::string payload(70000, 'x');
    TNetMemoryStream up(payload + "end");
    ftp_->Upload(up, "through.txt", false);
    TNetMemoryStream down;
    ftp_->Download("through.txt", down, false);
    EXPECT_EQ(down.Data(), payload + "end");
    EXPECT_EQ(test::ReadFile(ftpServer_->root() + "/through.txt"), payload + "end");
    ftp_->CloseConnection();
  }

  void TearDown() override {
    ftp_.reset();  // before the handler it borrows
    handler_.reset();
  }

  std::unique_ptr<PyFtpdServer> ftpServer_;
  bool started_ = false;
  std::string why_;
  std::unique_ptr<TNetIOHandlerSocket> handler_;
  std::unique_ptr<TNetFTP> ftp_;
};

// dante has no SOCKS 4A (it would connect to 0.0.0.1); the scripted server checks 4A's bytes.
TEST_F(SocksThroughProxy, DanteCarriesSocks5AndSocks4Sessions) {
  SKELDER_REQUIRE(started_, why_);
  DanteServer dante;
  SKELDER_REQUIRE(dante.Started(), dante.Error());
  for (TSocksVersion version : {svSocks5, svSocks4}) {
    SCOPED_TRACE(static_cast<int>(version));
    Configure(version, dante, saNoAuthentication);
    EXPECT_NO_THROW(RoundTrip()) << dante.Log();
  }
}

TEST_F(SocksThroughProxy, DanteReportsARefusedTarget) {
  SKELDER_REQUIRE(started_, why_);
  DanteServer dante;
  SKELDER_REQUIRE(dante.Started(), dante.Error());
  const test::RefusingPort refusing;
  const uint16_t closed = refusing.port();
  Configure(svSocks5, dante, saNoAuthentication);
  ftp_->SetPortNumber(closed);
  EXPECT_THROW(ftp_->OpenSession(true, 10000), ENetSocksServerConnectionRefusedError);
  EXPECT_FALSE(ftp_->IsConnected());

  Configure(svSocks4, dante, saNoAuthentication);
  ftp_->SetPortNumber(closed);
  try {
    ftp_->OpenSession(true, 10000);
    FAIL() << "connected to a closed port";
  } catch (const ENetSocksRequestFailed& e) {
    EXPECT_STREQ(e.what(), "Request rejected or failed.");
  }
}

TEST_F(SocksThroughProxy, MicrosocksWithUserNameAndPassword) {
  SKELDER_REQUIRE(started_, why_);
  MicrosocksServer proxy(kUser, kPassword);
  SKELDER_REQUIRE(proxy.Started(), proxy.Error());
  Configure(svSocks5, proxy, saUsernamePassword, kUser, kPassword);
  RoundTrip();
}

TEST_F(SocksThroughProxy, MicrosocksRefusesAWrongPasswordAndAMissingOne) {
  SKELDER_REQUIRE(started_, why_);
  MicrosocksServer proxy(kUser, kPassword);
  SKELDER_REQUIRE(proxy.Started(), proxy.Error());

  Configure(svSocks5, proxy, saUsernamePassword, kUser, "wrong");
  try {
    ftp_->OpenSession(true, 10000);
    FAIL() << "a wrong proxy password was accepted";
  } catch (const ENetSocksAuthError& e) {
    EXPECT_STREQ(e.what(), "Authentication error to socks server.");
  }
  EXPECT_FALSE(ftp_->IsConnected());

  // Offering no authentication to a proxy that demands it: the proxy answers 255.
  Configure(svSocks5, proxy, saNoAuthentication);
  try {
    ftp_->OpenSession(true, 10000);
    FAIL() << "a proxy demanding a password let us through";
  } catch (const ENetSocksAuthMethodError& e) {
    EXPECT_STREQ(e.what(), "Invalid socks authentication method.");
  }
  // Nothing reached the FTP server either time.
  EXPECT_TRUE(ftpServer_->Commands().empty());
}

}  // namespace
}  // namespace skelder::ftp
