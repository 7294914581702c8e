// The TLS backend against a real TLS server (Python's ssl module over the same OpenSSL), driven
// over a real socket the way the I/O handler drives it: the handshake completes whatever the
// certificate, Peer() says whether it verified and why not, the fingerprint is the one the
// openssl command prints, data goes both ways, close_notify is seen, sessions resume through the
// cache, and a server that offers only TLS 1.1 is refused.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "net/tls.h"
#include "test_socket.h"
#include "test_support.h"
#include "tls_certificates.h"

namespace skelder::test {
namespace {

constexpr char kHost[] = "127.0.0.40";

class EchoServer {
 public:
  // Null, with the reason, when the server cannot be had.
  static std::unique_ptr<EchoServer> Start(const TestCertificate& cert, const std::string& maxVersion,
                                           std::string& why) {
    auto server = std::unique_ptr<EchoServer>(new EchoServer);
    const std::string portFile = server->dir_ / "port";
    std::vector<std::string> argv = {"/usr/bin/python3",
                                     SourceDir() + "/tests/support/tls_echo_server.py",
                                     "--host",
                                     kHost,
                                     "--port-file",
                                     portFile,
                                     "--cert",
                                     cert.cert,
                                     "--key",
                                     cert.key};
    if (!maxVersion.empty()) argv.insert(argv.end(), {"--max-version", maxVersion});
    server->process_ = ChildProcess(argv, server->dir_ / "out.txt");
    for (int i = 0; i < 1500 && !FileExists(portFile); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!FileExists(portFile)) {
      why = "the TLS test server did not start";
      return nullptr;
    }
    server->port_ = static_cast<uint16_t>(std::stoi(ReadFile(portFile)));
    return server;
  }
  uint16_t port() const { return port_; }

 private:
  EchoServer() = default;
  TempDir dir_{"skelder-tls-server-"};
  ChildProcess process_;
  uint16_t port_ = 0;
};

// One connection: the handshake, a line there and back, the server's close_notify.
struct Talk {
  net::TTlsPeer peer;
  std::string echoed;
  bool peerClosed = false;
  std::string error;  // ETlsError's message, when the handshake failed
};

class Connection {
 public:
  Connection(uint16_t port, const net::TTlsClientSettings& settings) : channel_(net::NewTlsClient(settings)) {
    socket_ = OpenTcpSocket();
    connected_ = ConnectSocket(socket_, kHost, port);
  }
  ~Connection() { CloseSocket(socket_); }
  bool connected() const { return connected_; }

  void Send() { SendAll(socket_, channel_->TakeOutgoing()); }
  // One receive fed to the channel; false at the peer's close or after 10 s of nothing.
  bool Pull() {
    if (WaitForSocket(socket_, false, 10000) != 1) return false;
    char buffer[16384];
    const long n = ReceiveSome(socket_, buffer, sizeof buffer);
    if (n <= 0) return false;
    channel_->Feed(buffer, static_cast<size_t>(n));
    return true;
  }
  net::TTlsChannel& channel() { return *channel_; }

 private:
  std::unique_ptr<net::TTlsChannel> channel_;
  TestSocket socket_;
  bool connected_ = false;
};

Talk TalkTo(uint16_t port, const std::string& hostName, std::shared_ptr<net::TTlsSessionCache> cache = nullptr) {
  Talk talk;
  Connection c(port, {hostName, std::move(cache)});
  if (!c.connected()) {
    talk.error = "no connection";
    return talk;
  }
  try {
    while (!c.channel().Handshake()) {
      c.Send();
      if (!c.Pull()) throw net::ETlsError("the server closed in the handshake");
    }
    c.Send();
    talk.peer = c.channel().Peer();
    c.channel().Write("ping\n", 5);
    c.Send();
    char buffer[64];
    while (!c.channel().PeerClosed()) {
      const size_t n = c.channel().Read(buffer, sizeof buffer);
      talk.echoed.append(buffer, n);
      if (n == 0 && !c.channel().PeerClosed() && !c.Pull()) break;
    }
    talk.peerClosed = c.channel().PeerClosed();
    c.channel().Shutdown();
    c.Send();
  } catch (const net::ETlsError& e) {
    talk.error = e.what();
  }
  return talk;
}

class TlsOpenSsl : public ::testing::Test {
 protected:
  void SetUp() override {
    const TestCertificates& certs = Certificates();
    SKELDER_REQUIRE(certs.why.empty(), certs.why);
  }
  const TestCertificates& certs() const { return Certificates(); }
};

TEST_F(TlsOpenSsl, TheHandshakeCompletesAndPeerSaysWhetherTheCertificateVerified) {
  struct Case {
    const char* name;
    const TestCertificate TestCertificates::*cert;
    std::string hostName;
    const char* problem;  // empty: verified
  };
  const Case cases[] = {
      {"signed by the trusted authority", &TestCertificates::good, kHost, ""},
      {"for another address", &TestCertificates::good, "127.0.0.39", "it was not issued for 127.0.0.39"},
      {"a name asked, an address certified", &TestCertificates::good, "localhost", "it was not issued for localhost"},
      {"for another name only", &TestCertificates::wrongName, kHost, "it was not issued for 127.0.0.40"},
      {"by an unknown authority", &TestCertificates::unknownCa, kHost, "unable to get local issuer certificate"},
      {"self-signed", &TestCertificates::selfSigned, kHost, "self-signed certificate"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TestCertificate& cert = certs().*c.cert;
    std::string why;
    auto server = EchoServer::Start(cert, "", why);
    ASSERT_TRUE(server) << why;
    const Talk talk = TalkTo(server->port(), c.hostName);
    ASSERT_EQ(talk.error, "");
    EXPECT_EQ(talk.peer.Verified, std::string(c.problem).empty());
    EXPECT_EQ(talk.peer.Problem, c.problem);
    EXPECT_EQ(net::FingerprintText(talk.peer.Fingerprint), cert.fingerprint);
    EXPECT_EQ(talk.peer.Protocol, "TLSv1.3");
    EXPECT_FALSE(talk.peer.Resumed);
    // Data flows whatever the certificate: the decision is the caller's.
    EXPECT_EQ(talk.echoed, "ping\n");
    EXPECT_TRUE(talk.peerClosed);
  }
}

TEST_F(TlsOpenSsl, ALaterConnectionResumesTheSessionOfTheCache) {
  std::string why;
  auto server = EchoServer::Start(certs().good, "", why);
  ASSERT_TRUE(server) << why;
  auto cache = net::NewTlsSessionCache();
  const Talk first = TalkTo(server->port(), kHost, cache);
  ASSERT_EQ(first.error, "");
  EXPECT_FALSE(first.peer.Resumed);
  for (int i = 0; i < 3; ++i) {
    // The TLS 1.3 ticket came after the handshake and was taken in by Read.
    const Talk later = TalkTo(server->port(), kHost, cache);
    ASSERT_EQ(later.error, "");
    EXPECT_TRUE(later.peer.Resumed) << i;
    // A resumed session keeps what the first handshake learned of the certificate.
    EXPECT_TRUE(later.peer.Verified);
    EXPECT_EQ(net::FingerprintText(later.peer.Fingerprint), certs().good.fingerprint);
  }
  // Without a cache nothing is resumed.
  EXPECT_FALSE(TalkTo(server->port(), kHost).peer.Resumed);
}

TEST_F(TlsOpenSsl, AServerThatOffersNothingNewerThanTls11IsRefused) {
  std::string why;
  auto server = EchoServer::Start(certs().good, "1.1", why);
  ASSERT_TRUE(server) << why;
  const Talk talk = TalkTo(server->port(), kHost);
  EXPECT_EQ(talk.error.rfind("TLS handshake failed: ", 0), 0u) << talk.error;
  EXPECT_EQ(talk.echoed, "");
}

}  // namespace
}  // namespace skelder::test
