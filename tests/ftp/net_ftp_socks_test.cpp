// Passive-mode transfers through a real SOCKS proxy: the data connections take the control
// connection's SOCKS settings, so both go through the proxy.
#include <gtest/gtest.h>

#include "ftp/net_ftp.h"
#include "ftp_servers.h"
#include "socks_servers.h"
#include "test_support.h"

using namespace skelder::ftp;
using namespace skelder::test;

namespace {

// Lines of the proxy's log that report a connection made for a client.
int Connections(const std::string& log) {
  int n = 0;
  for (size_t at = log.find("connected to "); at != std::string::npos; at = log.find("connected to ", at + 1)) ++n;
  return n;
}

TEST(FtpThroughSocks, PassiveDataConnectionsUseTheControlConnectionsProxy) {
  MicrosocksServer proxy("proxyuser", "proxy-pw");
  SKELDER_REQUIRE(proxy.Started(), proxy.Error());
  PyFtpdServer server;
  std::string why;
  SKELDER_REQUIRE(server.Start(&why), why);

  TNetIOHandlerSocket handler;
  TNetSocksInfo& socks = handler.SocksInfo();
  socks.Version = svSocks5;
  socks.Authentication = saUsernamePassword;
  socks.Host = proxy.Host();
  socks.Port = proxy.Port();
  socks.Username = "proxyuser";
  socks.Password = "proxy-pw";

  TNetFTP ftp;
  ftp.SetIOHandler(&handler);
  ftp.SetHost(server.host());
  ftp.SetPortNumber(server.port());
  ftp.Username = "anonymous";
  ftp.Password = "socks@example.com";
  ftp.Passive = true;
  ftp.ReadTimeout = 10000;
  ftp.DataReadTimeout = 10000;
  ftp.OpenSession(true, -1);

  const std::string payload(100000, 'p');
  TNetMemoryStream up(payload);
  ftp.Upload(up, "via-proxy.bin", false);
  TNetMemoryStream down;
  ftp.Download("via-proxy.bin", down, false);
  EXPECT_EQ(ReadFile(server.root() + "/via-proxy.bin"), payload);
  EXPECT_EQ(down.Data(), payload);
  ftp.CloseConnection();
  // The control connection and both data connections went through the proxy.
  const std::string log = proxy.Log();
  EXPECT_EQ(Connections(log), 3) << log;
  EXPECT_NE(log.find("connected to 127.0.0.1:" + std::to_string(server.port()) + "\n"), std::string::npos) << log;
}

}  // namespace
