// The FTP module against a scripted server (exact commands, refusals, silence) and a real one
// (transfers and their progress): log-in defaults, directories made on demand, the read limit
// that ends a silent server's wait without freezing the user interface, and the single module.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "counting_toolkit.h"
#include "deploy/d_ftp.h"
#include "fault_server.h"
#include "test_support.h"
#ifndef _WIN32
#include "deploy_fixture.h"
#include "ftp_servers.h"
#endif

namespace skelder::deploy {
namespace {

using namespace std::chrono_literals;
using test::FaultScript;
using test::FaultServer;

// Greeting and log-in as the module sends it, answered the usual way.
FaultScript LoggedIn(const std::string& user = "anonymous", const std::string& password = kAnonymousPassword) {
  FaultScript s;
  s.Send("220 ready\r\n")
      .ExpectLine("USER " + user)
      .Send("331 password please\r\n")
      .ExpectLine("PASS " + password)
      .Send("230 in\r\n")
      .ExpectLine("TYPE I")
      .Send("200 binary\r\n")
      .ExpectLine("SYST")
      .Send("215 UNIX\r\n");
  return s;
}

class FtpModule : public ::testing::Test {
 protected:
  void Use(FaultServer& server) { port_ = server.port(); }
  void TearDown() override { dm_.CloseSite(); }
  bool Open(const std::string& host, const std::string& user, const std::string& password, const std::string& base) {
    return dm_.OpenSite(
        host, user, password, base, message_, [this](int code, int64_t value) { progress_.emplace_back(code, value); },
        port_);
  }
  static void Finish(FaultServer& server) {
    EXPECT_TRUE(server.WaitDone(3s));
    EXPECT_TRUE(server.Failures().empty()) << ::testing::PrintToString(server.Failures());
  }

  test::ScopedCountingToolkit toolkit_;
  TdmFtp dm_;
  std::string message_ = "stale";
  uint16_t port_ = 21;  // the server of the test
  std::vector<std::pair<int, int64_t>> progress_;
};

TEST_F(FtpModule, IsSetUpForDeployment) {
  EXPECT_EQ(dm_.netFtp.RecvBufferSize, 8192);
  EXPECT_EQ(dm_.netFtp.SendBufferSize, 4096);
  EXPECT_EQ(dm_.netFtp.MaxLineAction, ftp::maException);
  EXPECT_FALSE(dm_.netFtp.Passive);
  EXPECT_EQ(dm_.netFtp.Port(), 21);
  EXPECT_EQ(dm_.netFtp.ProxySettings().ProxyType, ftp::fpcmNone);
  EXPECT_EQ(dm_.netFtp.ProxySettings().Port, 0);
  // Every wait of the client ends: replies, data reads and the wait for the data connection.
  EXPECT_EQ(dm_.Timeout(), kDefaultFtpTimeoutMs);
  EXPECT_EQ(dm_.netFtp.ReadTimeout, 60000);
  EXPECT_EQ(dm_.netFtp.DataReadTimeout, 60000);
  EXPECT_EQ(dm_.netFtp.AcceptTimeout, 60000);
  EXPECT_TRUE(net::HookInUse());
}

TEST_F(FtpModule, AnonymousDefaultsAndTheBaseDirectory) {
  FaultScript script = LoggedIn();
  script.ExpectLine("CWD /pub/site").Send("250 ok\r\n").ReadUntilClose();
  FaultServer server({script});
  Use(server);
  ASSERT_TRUE(Open("127.0.0.1", "", "", "/pub/site")) << message_;
  EXPECT_EQ(message_, "");
  EXPECT_EQ(dm_.BaseDir(), "/pub/site");
  dm_.CloseSite();
  Finish(server);
  // No QUIT: closing the site only drops the connection.
  EXPECT_EQ(server.ReceivedLines().back(), "CWD /pub/site");
}

TEST_F(FtpModule, UserWithoutPasswordGetsTheDefaultPassword) {
  FaultScript script = LoggedIn("bob", kAnonymousPassword);
  script.ExpectLine("CWD /x").Send("250 ok\r\n").ReadUntilClose();
  FaultServer server({script});
  Use(server);
  EXPECT_TRUE(Open("127.0.0.1", "bob", "", "/x")) << message_;
  dm_.CloseSite();
  Finish(server);
}

TEST_F(FtpModule, EmptyBaseDirectoryIsSentAsAnEmptyArgumentAndItsRefusalFails) {
  FaultScript script = LoggedIn("u", "p");
  script.ExpectLine("CWD ").Send("550 No such directory.\r\n").ReadUntilClose();
  FaultServer server({script});
  Use(server);
  EXPECT_FALSE(Open("127.0.0.1", "u", "p", ""));
  // The server's text does not say which folder on which server; the message does.
  EXPECT_EQ(message_, "Cannot open the folder '' on 127.0.0.1: No such directory.\r\n");
  // A refusal leaves the session in step with the server.
  EXPECT_TRUE(dm_.SessionUsable());
  dm_.CloseSite();
  Finish(server);
}

TEST_F(FtpModule, RefusedLogInKeepsTheServersText) {
  FaultServer server({FaultScript()
                          .Send("220 ready\r\n")
                          .ExpectLine("USER u")
                          .Send("331 pw\r\n")
                          .ExpectLine("PASS p")
                          .Send("530-Login incorrect.\r\n530 Try again.\r\n")
                          .ReadUntilClose()});
  Use(server);
  EXPECT_FALSE(Open("127.0.0.1", "u", "p", "/"));
  EXPECT_EQ(message_, "Login incorrect.\r\nTry again.\r\n");
  EXPECT_FALSE(dm_.netFtp.IsConnected());
  Finish(server);
}

TEST_F(FtpModule, OverlongReplyLineFailsTheSite) {
  FaultServer server({FaultScript().Send("220 " + std::string(20000, 'x') + "\r\n").ReadUntilClose()});
  Use(server);
  EXPECT_FALSE(Open("127.0.0.1", "", "", "/"));
  EXPECT_EQ(message_, "Max line length exceeded.");
}

// The second level of a missing folder: the first is made and entered, the second made, then
// the upload changes to the base and into both levels again; that change now decides.
TEST_F(FtpModule, MissingFolderIsMadeLevelByLevelThenEnteredAgain) {
  test::TempDir dir;
  test::WriteFile(dir / "page.htm", "x");
  FaultScript script = LoggedIn();
  script.ExpectLine("CWD /base")
      .Send("250 ok\r\n")
      .ExpectLine("CWD /base")
      .Send("250 ok\r\n")
      .ExpectLine("CWD a/b")
      .Send("550 No such directory.\r\n")
      .ExpectLine("MKD a")
      .Send("550 exists\r\n")  // ignored
      .ExpectLine("CWD a")
      .Send("250 ok\r\n")
      .ExpectLine("MKD b")
      .Send("257 made\r\n")
      .ExpectLine("CWD /base")
      .Send("250 ok\r\n")
      .ExpectLine("CWD a/b")
      .Send("550 Still missing.\r\n")
      .ReadUntilClose();
  FaultServer server({script});
  Use(server);
  ASSERT_TRUE(Open("127.0.0.1", "", "", "/base")) << message_;
  // The relative folder arrives with the host's separators.
  EXPECT_FALSE(dm_.PutFile(dir / "page.htm", "a\\b", message_));
  EXPECT_EQ(message_, "Cannot open the folder '/base/a/b' on 127.0.0.1: Still missing.\r\n");
  dm_.CloseSite();
  Finish(server);
}

TEST_F(FtpModule, MakeDirsPassesOverEmptyPartsAndIgnoresRefusals) {
  FaultScript script = LoggedIn();
  script.ExpectLine("CWD /")
      .Send("250 ok\r\n")
      .ExpectLine("MKD x")
      .Send("550 exists\r\n")
      .ExpectLine("CWD x")
      .Send("250 ok\r\n")
      .ExpectLine("MKD y")
      .Send("257 made\r\n")
      .ExpectLine("CWD y")
      .Send("550 odd\r\n")
      .ExpectLine("MKD z")
      .Send("257 made\r\n")
      .ExpectLine("NOOP")
      .Send("200 ok\r\n")
      .ReadUntilClose();
  FaultServer server({script});
  Use(server);
  ASSERT_TRUE(Open("127.0.0.1", "", "", "/")) << message_;
  dm_.MakeDirs("/x//y/z");
  EXPECT_TRUE(dm_.SessionUsable());
  EXPECT_EQ(dm_.netFtp.SendRaw("NOOP"), 200);  // nothing else went out before it
  dm_.CloseSite();
  Finish(server);
}

// A server that says nothing: the read limit ends the wait with its message, and the user
// interface keeps getting turns all through it.
TEST_F(FtpModule, SilentServerFailsAfterTheReadLimitWhileTheInterfaceRuns) {
  FaultServer server({FaultScript().Send("220 ready\r\n").ExpectLine("USER anonymous").Stall()});
  Use(server);
  dm_.SetTimeout(1000);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Open("127.0.0.1", "", "", "/"));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(message_, "Read Timeout");
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 5s);
  // 1,000 ms in pieces of 250 ms: a turn after each, not one wait of 750 ms.
  EXPECT_GE(toolkit_->turns, 4);
  EXPECT_FALSE(dm_.SessionUsable());
  server.Stop();
}

TEST_F(FtpModule, SessionBrokenByATimeoutIsReopened) {
  FaultScript first = LoggedIn();
  first.ExpectLine("CWD /b").Send("250 ok\r\n").ExpectLine("CWD /b").Stall();
  FaultScript second = LoggedIn();
  second.ExpectLine("CWD /b").Send("250 ok\r\n").ReadUntilClose();
  FaultServer server({first, second});
  Use(server);
  dm_.SetTimeout(500);
  ASSERT_TRUE(Open("127.0.0.1", "", "", "/b")) << message_;
  test::TempDir dir;
  EXPECT_FALSE(dm_.GetFile(dir / "record", "XRDeploy.dat", message_));
  EXPECT_EQ(message_, "Read Timeout");
  EXPECT_FALSE(dm_.SessionUsable());
  EXPECT_TRUE(dm_.ReopenSite(message_)) << message_;
  EXPECT_TRUE(dm_.SessionUsable());
  dm_.CloseSite();
  EXPECT_EQ(server.AcceptedCount(), 2);
}

// pyftpdlib is started from the test process, which a Windows program under wine cannot wait
// for or stop.
#ifndef _WIN32
TEST_F(FtpModule, TransfersReportTheirProgressAndFilesArriveWhole) {
  test::FtpServerOptions options;
  test::PyFtpdServer server(options);
  std::string why;
  SKELDER_REQUIRE(server.Start(&why), why);
  test::MakeDirs(server.root() + "/base");
  port_ = server.port();
  ASSERT_TRUE(Open(server.host(), "", "", "/base")) << message_;

  test::TempDir dir;
  const std::string payload(10000, 'p');
  test::WriteFile(dir / "sub/page.htm", payload);
  ASSERT_TRUE(dm_.PutFile(dir / "sub/page.htm", "one\\two", message_)) << message_;
  EXPECT_EQ(test::ReadFile(server.root() + "/base/one/two/page.htm"), payload);
  ASSERT_FALSE(progress_.empty());
  EXPECT_EQ(progress_.front(), std::make_pair(0, int64_t{10000}));
  EXPECT_EQ(progress_.back(), std::make_pair(2, int64_t{0}));
  EXPECT_EQ(progress_[progress_.size() - 2], std::make_pair(1, int64_t{10000}));
  for (size_t i = 2; i + 1 < progress_.size(); ++i) {
    EXPECT_EQ(progress_[i].first, 1);
    EXPECT_GT(progress_[i].second, progress_[i - 1].second);
  }
  // A file of the base itself, then back down into a fresh local file.
  test::WriteFile(dir / "XRDeploy.dat", "1=2\r\n");
  ASSERT_TRUE(dm_.PutFile(dir / "XRDeploy.dat", "", message_)) << message_;
  progress_.clear();
  ASSERT_TRUE(dm_.GetFile(dir / "fetched", "XRDeploy.dat", message_)) << message_;
  EXPECT_EQ(test::ReadFile(dir / "fetched"), "1=2\r\n");
  EXPECT_EQ(progress_.front().first, 0);
  EXPECT_EQ(progress_.back(), std::make_pair(2, int64_t{0}));
  // A missing remote file is a refusal: the session goes on.
  EXPECT_FALSE(dm_.GetFile(dir / "none", "missing.dat", message_));
  EXPECT_TRUE(dm_.SessionUsable());
  EXPECT_TRUE(dm_.GetFile(dir / "again", "XRDeploy.dat", message_)) << message_;
}

// A server that stops reading an upload far larger than the socket buffers: the send's wait is
// bounded too, and the user interface keeps its turns while it lasts.
TEST_F(FtpModule, UploadToAServerThatStopsReadingFailsAfterTheLimit) {
  test::DeployServerFaults faults;
  faults.stallOn = "huge.bin";
  test::DeployPyFtpdServer server({}, faults);
  std::string why;
  SKELDER_REQUIRE(server.Start(&why), why);
  port_ = server.port();
  dm_.SetTimeout(1000);
  ASSERT_TRUE(Open(server.host(), "", "", "/")) << message_;
  test::TempDir dir;
  {
    std::string chunk(1 << 20, 'h');
    std::string all;
    for (int i = 0; i < 64; ++i) all += chunk;
    test::WriteFile(dir / "huge.bin", all);
  }
  const int turnsBefore = toolkit_->turns;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(dm_.PutFile(dir / "huge.bin", "", message_));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  EXPECT_EQ(message_, "Write Timeout");
  EXPECT_GE(toolkit_->turns - turnsBefore, 3);
  EXPECT_FALSE(dm_.SessionUsable());
}

#endif  // _WIN32

// A download the server broke off (426) fails; the session stays usable only when the reply the
// server owes after it (226) came, else the module counts it out of step.
TEST_F(FtpModule, TransferBrokenOffByTheServerLeavesTheSessionInStepOnlyWithItsLateReply) {
  for (const bool late226 : {true, false}) {
    SCOPED_TRACE(late226 ? "426 then 226" : "426 alone");
    const std::string host = "127.0.0.152";
    FaultServer data({FaultScript().Send("part").Close()}, host);
    FaultScript s = LoggedIn();
    s.ExpectLine("CWD /").Send("250 ok\r\n").ExpectLine("CWD /").Send("250 ok\r\n");
    s.ExpectLine("PASV").Send("227 Entering Passive Mode (127,0,0,152," + std::to_string(data.port() / 256) + "," +
                              std::to_string(data.port() % 256) + ")\r\n");
    s.ExpectLine("RETR XRDeploy.dat").Send("150 go\r\n").Sleep(200ms).Send("426 Broken off.\r\n");
    if (late226) s.Send("226 Closing.\r\n");
    s.Stall();
    FaultServer server({s}, host);
    Use(server);
    dm_.SetPassive(true);
    dm_.netFtp.LateReplyWait = 500;
    ASSERT_TRUE(Open(host, "", "", "/")) << message_;
    test::TempDir dir;
    EXPECT_FALSE(dm_.GetFile(dir / "record", "XRDeploy.dat", message_));
    EXPECT_EQ(message_, "Broken off.\r\n");
    EXPECT_EQ(dm_.SessionUsable(), late226);
    dm_.CloseSite();
    server.Stop();
  }
}

TEST(FtpModuleInstance, MadeOnceWithTheLimitFromTheEnvironment) {
  FreeFtpModule();
  {
    test::ScopedEnv limit(kFtpTimeoutVariable, "1234");
    EXPECT_FALSE(FtpModuleExists());
    TdmFtp& first = dmFtp();
    EXPECT_TRUE(FtpModuleExists());
    EXPECT_EQ(first.Timeout(), 1234);
    EXPECT_EQ(first.netFtp.ReadTimeout, 1234);
    EXPECT_EQ(first.netFtp.AcceptTimeout, 1234);
    EXPECT_EQ(&dmFtp(), &first);
  }
  // Read once: a later change of the variable does not reach the existing module.
  {
    test::ScopedEnv limit(kFtpTimeoutVariable, "99");
    EXPECT_EQ(dmFtp().Timeout(), 1234);
  }
  FreeFtpModule();
  EXPECT_FALSE(FtpModuleExists());
  for (const char* bad : {"abc", "0", "-5", ""}) {
    test::ScopedEnv limit(kFtpTimeoutVariable, std::string(bad));
    EXPECT_EQ(dmFtp().Timeout(), kDefaultFtpTimeoutMs) << bad;
    FreeFtpModule();
  }
}

}  // namespace
}  // namespace skelder::deploy
