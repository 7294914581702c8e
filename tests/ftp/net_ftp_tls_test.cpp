// Explicit TLS in the FTP session against real servers on loopback: pyftpdlib's TLS handler and
// vsftpd with TLS required for log-in and data and every data connection required to resume the
// control connection's session; active and passive mode; transfers compared byte for byte; the
// server's own log for the order (AUTH TLS before USER). The certificate decision for each kind
// of certificate, with and without its fingerprint trusted, and, with the scripted server, a
// refused AUTH TLS, clear-text bytes after the 234, and a server that never takes up the handshake.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "fault_server.h"
#include "ftp/net_ftp.h"
#include "ftp/net_io_handler_tls.h"
#include "ftp_servers.h"
#include "socks_servers.h"
#include "test_support.h"
#include "tls_certificates.h"

using namespace skelder::ftp;
using namespace skelder::test;

namespace {

// One address per server, so both may run at once.
constexpr char kPyFtpdHost[] = "127.0.0.40";
constexpr char kVsftpdHost[] = "127.0.0.41";
constexpr char kFaultHost[] = "127.0.0.42";

std::vector<std::string> Verbs(const std::vector<std::string>& commands) {
  std::vector<std::string> out;
  for (const auto& c : commands) out.push_back(c.substr(0, c.find(' ') == 4 ? 4 : c.find(' ')));
  return out;
}

struct Handshakes {
  std::vector<std::string> places;
  std::vector<bool> resumed;
};

void Configure(TNetFTP& ftp, const std::string& host, uint16_t port, Handshakes* seen = nullptr) {
  Certificates();  // the trusted store is set before the first TLS connection reads it
  ftp.SetHost(host);
  ftp.SetPortNumber(port);
  ftp.Username = "anonymous";
  ftp.Password = "skelder@example.com";
  ftp.UseTls = true;
  ftp.RecvBufferSize = 8192;
  ftp.SendBufferSize = 4096;
  ftp.ReadTimeout = 20000;
  ftp.DataReadTimeout = 20000;
  ftp.AcceptTimeout = 20000;
  if (seen)
    ftp.OnTlsHandshake = [seen](const std::string& place, const skelder::net::TTlsPeer& peer) {
      seen->places.push_back(place);
      seen->resumed.push_back(peer.Resumed);
    };
}

std::unique_ptr<FtpServer> StartTlsServer(FtpServerKind kind, const TestCertificate& cert, std::string& why) {
  FtpServerOptions options;
  options.host = kind == FtpServerKind::kPyFtpd ? kPyFtpdHost : kVsftpdHost;
  options.tlsCert = cert.cert;
  options.tlsKey = cert.key;
  auto server = MakeFtpServer(kind, options);
  if (!server->Start(&why)) return nullptr;
  return server;
}

using Param = std::tuple<FtpServerKind, bool /*passive*/>;

class FtpTls : public ::testing::TestWithParam<Param> {
 protected:
  void SetUp() override { SKELDER_REQUIRE(Certificates().why.empty(), Certificates().why); }
  FtpServerKind Kind() const { return std::get<0>(GetParam()); }
  bool PassiveMode() const { return std::get<1>(GetParam()); }
};

TEST_P(FtpTls, EverythingAfterTheGreetingGoesOverTlsAndDataConnectionsResume) {
  std::string why;
  auto server = StartTlsServer(Kind(), Certificates().good, why);
  SKELDER_REQUIRE(server, why);
  TNetFTP ftp;
  Handshakes seen;
  Configure(ftp, server->host(), server->port(), &seen);
  ftp.Passive = PassiveMode();
  ftp.OpenSession(true, -1);
  // Sizes around the TLS record (16 KiB) and the chunk sizes.
  const size_t sizes[] = {0, 1, 16383, 16384, 16385, 300000};
  for (size_t i = 0; i < std::size(sizes); ++i) {
    const std::string data = Pattern(sizes[i], static_cast<uint32_t>(i));
    const std::string name = "f" + std::to_string(i) + ".bin";
    TNetMemoryStream up(data);
    ftp.Upload(up, name, false);
    EXPECT_EQ(ReadFile(server->root() + "/" + name), data) << sizes[i];
    TNetMemoryStream down;
    ftp.Download(name, down, false);
    EXPECT_EQ(down.Data(), data) << sizes[i];
  }
  ftp.CloseConnection();

  const std::vector<std::string> commands = server->Commands();
  ASSERT_GE(commands.size(), 5u);
  EXPECT_EQ(Verbs({commands.begin(), commands.begin() + 5}),
            (std::vector<std::string>{"AUTH", "PBSZ", "PROT", "USER", "PASS"}));
  EXPECT_EQ(commands[0], "AUTH TLS");
  EXPECT_EQ(commands[1], "PBSZ 0");
  EXPECT_EQ(commands[2], "PROT P");
  // The control connection, then one data connection per transfer, each resuming the session
  // (vsftpd refuses a data connection that does not).
  ASSERT_EQ(seen.places.size(), 1 + 2 * std::size(sizes));
  EXPECT_EQ(seen.places.front(), "control connection");
  EXPECT_FALSE(seen.resumed.front());
  for (size_t i = 1; i < seen.places.size(); ++i) {
    EXPECT_EQ(seen.places[i], "data connection");
    EXPECT_TRUE(seen.resumed[i]) << i;
  }
}

// A certificate that does not verify fails the session before the log-in, naming its
// fingerprint and why; trusted by that fingerprint, the same server is used.
class FtpTlsTrust : public ::testing::TestWithParam<FtpServerKind> {
 protected:
  void SetUp() override { SKELDER_REQUIRE(Certificates().why.empty(), Certificates().why); }
  FtpServerKind Kind() const { return GetParam(); }
};

TEST_P(FtpTlsTrust, ACertificateThatDoesNotVerifyIsUsedOnlyWhenItsFingerprintIsTrusted) {
  struct Case {
    const char* name;
    const TestCertificate TestCertificates::*cert;
    const char* problem;
  };
  const Case cases[] = {
      {"by an unknown authority", &TestCertificates::unknownCa, "unable to get local issuer certificate"},
      {"self-signed", &TestCertificates::selfSigned, "self-signed certificate"},
      {"for another name", &TestCertificates::wrongName, "it was not issued for "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TestCertificate& cert = Certificates().*c.cert;
    std::string why;
    auto server = StartTlsServer(Kind(), cert, why);
    SKELDER_REQUIRE(server, why);
    TNetFTP ftp;
    Configure(ftp, server->host(), server->port());
    // Another certificate's fingerprint changes nothing.
    std::vector<skelder::net::TSha256> other;
    std::string problem;
    ASSERT_TRUE(skelder::net::ParseFingerprints(Certificates().good.fingerprint, other, problem));
    ftp.TrustedCertificates = other;
    try {
      ftp.OpenSession(true, -1);
      ADD_FAILURE() << "the session opened";
    } catch (const ETlsCertificateRefused& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(std::string("(") + c.problem), std::string::npos) << message;
      EXPECT_NE(message.find("its SHA-256 fingerprint is " + cert.fingerprint + "."), std::string::npos) << message;
    }
    EXPECT_FALSE(ftp.IsConnected());
    EXPECT_EQ(server->Commands(), std::vector<std::string>{"AUTH TLS"}) << "nothing after the handshake";

    // The fingerprint as the message gives it, in lower case without colons as well.
    std::string bare;
    for (char ch : cert.fingerprint)
      if (ch != ':') bare += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (const std::string& written : {cert.fingerprint, bare}) {
      ASSERT_TRUE(skelder::net::ParseFingerprints(Certificates().good.fingerprint + "," + written,
                                                  ftp.TrustedCertificates, problem));
      ftp.OpenSession(true, -1);
      TNetMemoryStream up("trusted");
      ftp.Upload(up, "t.txt", false);
      ftp.CloseConnection();
      EXPECT_EQ(ReadFile(server->root() + "/t.txt"), "trusted");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpTls,
                         ::testing::Combine(::testing::Values(FtpServerKind::kPyFtpd, FtpServerKind::kVsftpd),
                                            ::testing::Bool()),
                         [](const auto& param) {
                           return std::string(FtpServerKindName(std::get<0>(param.param))) +
                                  (std::get<1>(param.param) ? "_passive" : "_active");
                         });

INSTANTIATE_TEST_SUITE_P(Servers, FtpTlsTrust, ::testing::Values(FtpServerKind::kPyFtpd, FtpServerKind::kVsftpd),
                         [](const auto& param) { return std::string(FtpServerKindName(param.param)); });

// TLS runs over whatever the socket handler connected through: a SOCKS proxy carries the
// control connection and the passive data connections, TLS from end to end.
TEST(FtpTlsThroughSocks, ControlAndDataConnectionsGoThroughTheProxy) {
  SKELDER_REQUIRE(Certificates().why.empty(), Certificates().why);
  MicrosocksServer proxy("proxyuser", "proxy-pw");
  SKELDER_REQUIRE(proxy.Started(), proxy.Error());
  std::string why;
  auto server = StartTlsServer(FtpServerKind::kPyFtpd, Certificates().good, why);
  SKELDER_REQUIRE(server, why);

  TNetIOHandlerTls handler;
  TNetSocksInfo& socks = handler.SocksInfo();
  socks.Version = svSocks5;
  socks.Authentication = saUsernamePassword;
  socks.Host = proxy.Host();
  socks.Port = proxy.Port();
  socks.Username = "proxyuser";
  socks.Password = "proxy-pw";
  TNetFTP ftp;
  ftp.SetIOHandler(&handler);
  Handshakes seen;
  Configure(ftp, server->host(), server->port(), &seen);
  ftp.Passive = true;
  ftp.OpenSession(true, -1);
  const std::string payload = Pattern(100000, 7);
  TNetMemoryStream up(payload);
  ftp.Upload(up, "via-proxy.bin", false);
  TNetMemoryStream down;
  ftp.Download("via-proxy.bin", down, false);
  ftp.CloseConnection();
  EXPECT_EQ(ReadFile(server->root() + "/via-proxy.bin"), payload);
  EXPECT_EQ(down.Data(), payload);
  EXPECT_EQ(seen.places.size(), 3u);
  EXPECT_EQ(seen.resumed, (std::vector<bool>{false, true, true}));
  const std::string log = proxy.Log();
  size_t connections = 0;
  for (size_t at = log.find("connected to "); at != std::string::npos; at = log.find("connected to ", at + 1))
    ++connections;
  EXPECT_EQ(connections, 3u) << log;
}

// A socket handler assigned from outside cannot turn to TLS: the session refuses to start
// rather than log in in clear text.
TEST(FtpTlsThroughSocks, AnAssignedPlainHandlerIsRefused) {
  TNetIOHandlerSocket plain;
  TNetFTP ftp;
  ftp.SetIOHandler(&plain);
  Configure(ftp, kFaultHost, 21);
  try {
    ftp.OpenSession(true, -1);
    ADD_FAILURE() << "the session opened";
  } catch (const skelder::net::ETlsError& e) {
    EXPECT_STREQ(e.what(), "TLS needs the connection's I/O handler to be a TLS handler");
  }
  EXPECT_FALSE(plain.HandleConnected());
}

// What the scripted server does that no real one does on demand.
TEST(FtpTlsFaults, TheSessionFailsWithoutEverFallingBackToClearText) {
  struct Case {
    const char* name;
    FaultScript script;
    const char* message;  // start of the error's message
  };
  Case cases[] = {
      {"AUTH TLS refused",
       FaultScript().Send("220 hi\r\n").ExpectLine("AUTH TLS").Send("500 AUTH not understood\r\n").ReadUntilClose(),
       "The server refused TLS: it answered \"AUTH TLS\" with 500 AUTH not understood"},
      {"AUTH TLS answered with another positive code",
       FaultScript().Send("220 hi\r\n").ExpectLine("AUTH TLS").Send("200 fine\r\n").ReadUntilClose(),
       "The server refused TLS: it answered \"AUTH TLS\" with 200 fine"},
      {"clear text after the 234",
       FaultScript()
           .Send("220 hi\r\n")
           .ExpectLine("AUTH TLS")
           .Send("234 go ahead\r\n230 logged in\r\n")
           .ReadUntilClose(),
       "TLS failed: the server sent more after accepting \"AUTH TLS\""},
      {"no handshake after the 234",
       FaultScript().Send("220 hi\r\n").ExpectLine("AUTH TLS").Send("234 go ahead\r\n").Stall(),
       "TLS handshake failed: no answer from the server within 1 second"},
      {"closed instead of a handshake",
       FaultScript()
           .Send("220 hi\r\n")
           .ExpectLine("AUTH TLS")
           .Send("234 go ahead\r\n")
           .Sleep(std::chrono::milliseconds(100))
           .Close(),
       "TLS handshake failed: the server closed the connection"},
      {"not TLS after the 234",
       FaultScript()
           .Send("220 hi\r\n")
           .ExpectLine("AUTH TLS")
           .Send("234 go ahead\r\n")
           .Sleep(std::chrono::milliseconds(200))
           .Send("331 send PASS\r\n")
           .ReadUntilClose(),
       "TLS handshake failed: "},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    FaultServer server({c.script}, kFaultHost);
    TNetFTP ftp;
    Configure(ftp, server.host(), server.port());
    ftp.ReadTimeout = 1000;
    try {
      ftp.OpenSession(true, -1);
      ADD_FAILURE() << "the session opened";
    } catch (const skelder::net::ENetException& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
    EXPECT_FALSE(ftp.IsConnected());
    server.Stop();
    const std::vector<std::string> lines = server.ReceivedLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "AUTH TLS");
    // Nothing of the log-in, in clear text or otherwise.
    for (int i = 0; i < server.AcceptedCount(); ++i) {
      const std::string data = server.ReceivedData(i);
      EXPECT_EQ(data.find("USER"), std::string::npos);
      EXPECT_EQ(data.find("skelder@example.com"), std::string::npos);
    }
  }
}

}  // namespace
