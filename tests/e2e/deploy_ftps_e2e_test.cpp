// FTPS deployment end to end through the exports: "ftps://" locations to vsftpd (TLS required,
// every data connection required to resume the control connection's session) and to pyftpdlib's
// TLS handler, the remote tree byte for byte, the server's own log for the order (AUTH TLS before
// USER, passive mode by default), and a relay on the wire for what a listener would see of the
// log-in: nothing. A certificate that does not verify fails its location with its fingerprint and
// deploys once the notes trust that fingerprint; a server that refuses AUTH TLS fails the location
// and never hears the log-in.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "deploy_fixture.h"
#include "fault_server.h"
#include "loopback.h"
#include "test_socket.h"
#include "tls_certificates.h"

namespace skelder::test {
namespace {

using namespace loopback;
namespace fs = std::filesystem;

constexpr char kUser[] = "deployer";
constexpr char kSecret[] = "Zq9-tls-only-Pw";

// A TCP relay in front of a server: what it forwards from the client is what anyone on the way
// would see. Connections are taken one after another until it is destroyed.
class Relay {
 public:
  Relay(const std::string& host, const std::string& target, uint16_t targetPort) {
    listen_ = OpenTcpSocket();
    if (!BindSocket(listen_, host, 0) || !ListenOnSocket(listen_, 4)) return;
    port_ = LocalPortOf(listen_);
    thread_ = std::thread([this, target, targetPort] {
      while (!stop_) {
        if (WaitForSocket(listen_, false, 100) != 1) continue;
        const TestSocket client = AcceptOn(listen_);
        if (client == kNoTestSocket) continue;
        const TestSocket server = OpenTcpSocket();
        if (ConnectSocket(server, target, targetPort)) Pump(client, server);
        CloseSocket(server);
        CloseSocket(client);
      }
    });
  }
  ~Relay() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    CloseSocket(listen_);
  }
  uint16_t port() const { return port_; }
  std::string FromClient() {
    std::lock_guard<std::mutex> guard(mutex_);
    return fromClient_;
  }

 private:
  // Both ways until either side closes.
  void Pump(TestSocket client, TestSocket server) {
    char buffer[65536];
    while (!stop_) {
      for (const bool up : {true, false}) {
        const TestSocket from = up ? client : server;
        if (WaitForSocket(from, false, 5) != 1) continue;
        const long n = ReceiveSome(from, buffer, sizeof buffer);
        if (n <= 0 || !SendAll(up ? server : client, std::string(buffer, static_cast<size_t>(n)))) return;
        if (up) {
          std::lock_guard<std::mutex> guard(mutex_);
          fromClient_.append(buffer, static_cast<size_t>(n));
        }
      }
    }
  }
  TestSocket listen_ = kNoTestSocket;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string fromClient_;
  std::thread thread_;
};

std::vector<std::string> Verbs(const std::vector<std::string>& commands) {
  std::vector<std::string> out;
  for (const auto& c : commands) out.push_back(c.substr(0, c.find(' ')));
  return out;
}

size_t Count(const std::vector<std::string>& commands, const std::string& verb) {
  size_t n = 0;
  for (const auto& v : Verbs(commands)) n += v == verb;
  return n;
}

class DeployFtps : public DeployTest {
 protected:
  void SetUp() override {
    DeployTest::SetUp();
    SKELDER_REQUIRE(Certificates().why.empty(), Certificates().why);
  }
  // A server on port 21 of `host` that requires TLS, with `cert`; pyftpdlib with a user of its
  // own, vsftpd anonymous.
  FtpServer* StartTls(FtpServerKind kind, const std::string& host, const TestCertificate& cert) {
    FtpServerOptions options;
    options.tlsCert = cert.cert;
    options.tlsKey = cert.key;
    if (kind == FtpServerKind::kPyFtpd) {
      options.user = kUser;
      options.password = kSecret;
      options.anonymous = false;
    }
    FtpServer* server = StartServer(kind, host, options);
    if (server) MakeDirs(server->root() + "/base");
    return server;
  }
  // The base directory as the server names it (vsftpd serves the real paths).
  std::string Base(FtpServerKind kind) const {
    return kind == FtpServerKind::kVsftpd ? server_->root() + "/base" : "/base";
  }
  void ExpectSiteOnServer() {
    for (const auto& rel : SiteFiles())
      EXPECT_EQ(ReadFile(server_->root() + "/base/" + rel), ReadFile(repo_.Path(rel))) << rel;
    EXPECT_TRUE(FileExists(server_->root() + "/base/XRDeploy.dat"));
  }
  void Notes(const std::string& deployTo, const std::string& more = "") {
    repo_.Notes("", "[Web Folder]\r\nDeployTo=" + deployTo + "\r\nEnabled=1\r\n" + more);
  }
};

class DeployFtpsServers : public DeployFtps, public ::testing::WithParamInterface<FtpServerKind> {};

TEST_P(DeployFtpsServers, DeploysOverTlsInPassiveModeAndTheLogInNeverGoesInClearText) {
  const FtpServerKind kind = GetParam();
  const std::string host = kind == FtpServerKind::kPyFtpd ? kFtpsPyFtpd : kFtpsVsftpd;
  FtpServer* server = StartTls(kind, host, Certificates().good);
  SKELDER_REQUIRE(server, Why());
  Site();
  // Through the relay, on the server's address, so passive data connections (made to the
  // control connection's peer) reach the server itself.
  Relay relay(host, host, 21);
  ASSERT_NE(relay.port(), 0);
  const std::string userInfo = kind == FtpServerKind::kPyFtpd ? std::string(kUser) + ":" + kSecret + "@" : "";
  const std::string target = host + ":" + std::to_string(relay.port()) + Base(kind);
  Notes("FTPS://" + userInfo + target);
  const std::string trace = work_ / "ftp.trace";
  {
    ScopedEnv traced("SKELDER_FTP_TRACE", trace);
    ASSERT_EQ(Deploy(""), kSucceeded) << LogText() << ::testing::PrintToString(server->Commands());
  }
  ExpectSiteOnServer();
  EXPECT_EQ(Log(), Concat({kFetchHeading, SiteShown(), Heading(target), SiteShown()}));

  const std::vector<std::string> commands = server->Commands();
  ASSERT_GE(commands.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 3),
            (std::vector<std::string>{"AUTH TLS", "PBSZ 0", "PROT P"}));
  EXPECT_EQ(Verbs({commands.begin() + 3, commands.begin() + 5}), (std::vector<std::string>{"USER", "PASS"}));
  // Passive by default over TLS: a firewall cannot follow PORT inside it.
  EXPECT_EQ(Count(commands, "PORT"), 0u);
  EXPECT_EQ(Count(commands, "PASV"), Count(commands, "STOR") + Count(commands, "RETR"));

  // On the wire: the request for TLS, then nothing readable.
  const std::string wire = relay.FromClient();
  EXPECT_EQ(wire.rfind("AUTH TLS\r\n", 0), 0u) << wire.substr(0, 40);
  for (const char* secret : {"USER", "PASS", kUser, kSecret, "STOR", "index.htm"})
    EXPECT_EQ(wire.find(secret), std::string::npos) << secret;
  // The trace tells each handshake: the control connection's new session, then every data
  // connection resuming it, with the certificate's fingerprint.
  const std::string traced = ReadFile(trace);
  EXPECT_NE(traced.find("TLS handshake (control connection): TLSv1."), std::string::npos) << traced;
  EXPECT_NE(traced.find(", new session; certificate " + Certificates().good.fingerprint + " verified"),
            std::string::npos)
      << traced;
  size_t data = 0, resumed = 0;
  for (size_t at = traced.find("TLS handshake (data connection)"); at != std::string::npos;
       at = traced.find("TLS handshake (data connection)", at + 1)) {
    ++data;
    resumed += traced.compare(traced.find(", ", traced.find(", ", at) + 2), 18, ", session resumed;") == 0;
  }
  EXPECT_GE(data, Count(commands, "STOR"));
  EXPECT_EQ(resumed, data) << traced;
  // Nor anywhere a person looks.
  EXPECT_EQ(traced.find(kSecret), std::string::npos);
  EXPECT_EQ(LogText().find(kSecret), std::string::npos);
  EXPECT_EQ(Transcript().find(kSecret), std::string::npos);
  EXPECT_EQ(last_.output.find(kSecret), std::string::npos);

  // Nothing changed: the record comes and goes, nothing else.
  const size_t mark = server->CommandCount();
  ASSERT_EQ(Deploy(""), kSucceeded) << LogText();
  EXPECT_EQ(Count(server->CommandsSince(mark), "STOR"), 1u);
  EXPECT_EQ(Log(), Concat({kFetchHeading, SiteShown(), Heading(target)}));
}

INSTANTIATE_TEST_SUITE_P(Servers, DeployFtpsServers, ::testing::Values(FtpServerKind::kPyFtpd, FtpServerKind::kVsftpd),
                         [](const auto& param) { return std::string(FtpServerKindName(param.param)); });

// FtpPassive=0 still means active mode, over TLS too.
TEST_F(DeployFtps, FtpPassiveZeroForcesActiveMode) {
  FtpServer* server = StartTls(FtpServerKind::kVsftpd, kFtpsVsftpd, Certificates().good);
  SKELDER_REQUIRE(server, Why());
  Site();
  Notes("ftps://" + std::string(kFtpsVsftpd) + Base(FtpServerKind::kVsftpd), "FtpPassive=0\r\n");
  ASSERT_EQ(Deploy(""), kSucceeded) << LogText();
  ExpectSiteOnServer();
  EXPECT_EQ(Count(server->Commands(), "PASV"), 0u);
  EXPECT_EQ(Count(server->Commands(), "PORT"), 6u);  // the record, four files, the record
}

// Every session of a parallel deployment makes its own TLS session before it logs in.
TEST_F(DeployFtps, EachOfSeveralSessionsTurnsToTlsBeforeItsLogIn) {
  FtpServer* server = StartTls(FtpServerKind::kVsftpd, kFtpsVsftpd, Certificates().good);
  SKELDER_REQUIRE(server, Why());
  Site();
  Notes("ftps://" + std::string(kFtpsVsftpd) + Base(FtpServerKind::kVsftpd), "FtpConnections=4\r\n");
  ASSERT_EQ(Deploy(""), kSucceeded) << LogText();
  ExpectSiteOnServer();
  const std::vector<std::string> commands = server->Commands();
  EXPECT_GT(Count(commands, "USER"), 1u);
  EXPECT_EQ(Count(commands, "AUTH"), Count(commands, "USER"));
  EXPECT_EQ(Count(commands, "PORT"), 0u);
}

// A certificate that does not verify fails the location under its heading, naming the
// fingerprint; the same fingerprint in TrustedCertificates lets it deploy. A malformed list
// fails every ftps location before anything connects.
TEST_F(DeployFtps, AnUntrustedCertificateFailsWithItsFingerprintUntilTheNotesTrustIt) {
  struct Case {
    const char* name;
    const TestCertificate TestCertificates::*cert;
    std::string problem;
  };
  const Case cases[] = {
      {"by an unknown authority", &TestCertificates::unknownCa, "unable to get local issuer certificate"},
      {"for another name", &TestCertificates::wrongName, std::string("it was not issued for ") + kFtpsCertificates},
      {"self-signed", &TestCertificates::selfSigned, "self-signed certificate"},
  };
  Site();
  const std::string target = std::string(kFtpsCertificates) + "/base";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TestCertificate& cert = Certificates().*c.cert;
    server_.reset();  // the last case's server gives up port 21 first
    FtpServer* server = StartTls(FtpServerKind::kPyFtpd, kFtpsCertificates, cert);
    SKELDER_REQUIRE(server, Why());
    const std::string location = std::string("ftps://") + kUser + ":" + kSecret + "@" + target;
    Notes(location);
    ASSERT_EQ(Deploy(""), kFailed) << LogText();
    const std::string message = "The server's certificate is not trusted (" + c.problem +
                                "); its SHA-256 fingerprint is " + cert.fingerprint +
                                ". If that is your server's certificate, add the fingerprint to TrustedCertificates.";
    EXPECT_EQ(Log(), Concat({kFetchHeading, SiteShown(), Heading(target), {"   " + message}}));
    EXPECT_EQ(server->Commands(), std::vector<std::string>{"AUTH TLS"});
    EXPECT_NE(Transcript().find(cert.fingerprint), std::string::npos) << "the error box names it";

    // Trusted by that fingerprint (in lower case, beside another one), it deploys.
    std::string lower;
    for (char ch : cert.fingerprint) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    Notes(location, "TrustedCertificates=" + Certificates().good.fingerprint + ", " + lower + "\r\n");
    ASSERT_EQ(Deploy(""), kSucceeded) << LogText();
    ExpectSiteOnServer();
  }

  const size_t mark = server_->CommandCount();
  Notes("ftps://" + target, "TrustedCertificates=" + Certificates().good.fingerprint + ",12:34\r\n");
  ASSERT_EQ(Deploy(""), kFailed);
  EXPECT_EQ(Log(), Concat({kFetchHeading,
                           SiteShown(),
                           Heading(target),
                           {"   The folder's TrustedCertificates cannot be read: '12:34' is not a SHA-256 "
                            "fingerprint (64 hexadecimal digits, colons between byte pairs allowed)"}}));
  EXPECT_EQ(server_->CommandCount(), mark) << "nothing connected";
}

// A server that does not take AUTH TLS fails the location: the log-in never goes in clear text.
TEST_F(DeployFtps, AServerThatRefusesAuthTlsFailsTheLocation) {
  Certificates();
  FaultServer server({FaultScript()
                          .Send("220 plain only\r\n")
                          .ExpectLine("AUTH TLS")
                          .Send("530 Please login with USER and PASS.\r\n")
                          .ReadUntilClose()},
                     kFtpsAuthRefused);
  Site();
  const std::string target = std::string(kFtpsAuthRefused) + ":" + std::to_string(server.port()) + "/base";
  Notes(std::string("ftps://") + kUser + ":" + kSecret + "@" + target);
  ASSERT_EQ(Deploy(""), kFailed) << LogText();
  EXPECT_EQ(Log(), Concat({kFetchHeading,
                           SiteShown(),
                           Heading(target),
                           {"   The server refused TLS: it answered \"AUTH TLS\" with 530 Please login with USER and "
                            "PASS."}}));
  server.Stop();
  EXPECT_EQ(server.ReceivedLines(), std::vector<std::string>{"AUTH TLS"});
  EXPECT_EQ(server.ReceivedData(0).find(kSecret), std::string::npos);
  EXPECT_TRUE(server.Failures().empty());
}

}  // namespace
}  // namespace skelder::test
