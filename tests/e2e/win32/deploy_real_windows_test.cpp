// Deployments through the real windows of `ardmoor.exe deploy --ui win32`: a script clicks the
// deploy dialog's buttons by posting messages to them and answers the message boxes, to a
// directory and to pyftpdlib of the test_servers fixture; and a Cancel posted while an upload
// blocks (the fixture's stalling server never answers "stall.bin") asks its question inside
// the blocked transfer, and Yes ends the run cancelled with only what was sent in the record.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "deploy_log.h"
#include "fixture_servers.h"
#include "hostsim_fixture.h"
#include "test_support.h"

namespace skelder::test {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kTime1 = 1700000000;

class RealWindowsDeploy : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FileExists(BinProgram("ardmoor"))) << "build ardmoor first";
    fs::create_directories(install_);
    fs::create_directories(tmp_);
    fs::copy_file(BinDir() + "/" + AddinFileName(), install_ + "/" + AddinFileName());
  }

  // A server of the fixture with a fresh folder of this test's own below its root; null (and
  // why_ says why) when the fixture could not start it.
  const FixtureServer* Server(const std::string& name) {
    return FixtureServerWithFolder(servers_, name, "win", base_, why_);
  }
  std::string Location(const FixtureServer& s) {
    return "ftp://" + s.user + ":" + s.password + "@" + s.host + "/" + base_;
  }
  std::string Remote(const FixtureServer& s) { return s.root + "/" + base_; }

  // `ardmoor deploy` of the repository's root with the win32 backend playing `script`.
  int Deploy(const std::string& script, std::vector<std::string> env = {}) {
    const std::string scriptPath = work_ / "script.txt";
    WriteFile(scriptPath, script);
    env.insert(env.end(), {"TMP=" + tmp_, "TEMP=" + tmp_, "TMPDIR=" + tmp_});
    output_.clear();
    return RunProgram({BinProgram("ardmoor"), "--repository", repo_.Root(), "deploy", "$", "--install-dir", BinDir(),
                       "--addin", install_ + "/" + AddinFileName(), "--ui", "win32", "--ui-options", scriptPath},
                      &output_, std::chrono::seconds(150), env);
  }
  std::vector<std::string> Log() { return SplitLines(ReadFile(install_ + "/Skelder.log")); }
  std::string Entry(const std::string& rel) {
    return std::to_string(repo_.FileId(rel)) + "=" + std::to_string(PackedAge(kTime1)) + "\r\n";
  }

  std::vector<FixtureServer> servers_ = FixtureServers();
  std::string base_, why_, output_;
  HostSimUser user_{false};  // ardmoor, a child process, writes the user's registry
  HostSimRepository repo_;
  TempDir work_;
  std::string install_ = work_ / "install";
  std::string tmp_ = work_ / "tmp";
};

TEST_F(RealWindowsDeploy, ContinueAndDoneClickedOnTheWindowsDeployToADirectoryAndAServer) {
  const FixtureServer* py = Server("pyftpdlib");
  SKELDER_REQUIRE(py, why_);
  const std::string web = (fs::path(work_.path()) / "web").make_preferred().string();
  repo_.File("index.htm", "<html>home</html>\r\n", kTime1).File("img/logo.gif", std::string("GIF\0\xff", 5), kTime1);
  repo_.Notes("", "[Web Folder]\r\nDeployTo=" + web + "," + Location(*py) + "\r\n");

  ASSERT_EQ(Deploy("click btnOK\nclick btnDone\n"), 0) << output_;
  EXPECT_NE(output_.find("Outcome: succeeded"), std::string::npos) << output_;
  EXPECT_EQ(output_.find(py->password), std::string::npos) << "the password is never shown";
  for (const std::string& remote : {web, Remote(*py)}) {
    EXPECT_EQ(ListFiles(remote), (std::vector<std::string>{"XRDeploy.dat", "img/logo.gif", "index.htm"})) << remote;
    EXPECT_EQ(ReadFile(remote + "/img/logo.gif"), std::string("GIF\0\xff", 5));
    EXPECT_EQ(ReadFile(remote + "/XRDeploy.dat"), Entry("index.htm") + Entry("img/logo.gif")) << remote;
  }
  EXPECT_TRUE(fs::is_empty(tmp_)) << "the checked-out copies are gone";
}

TEST_F(RealWindowsDeploy, TheConfirmationPagesCancelDeploysNothing) {
  const std::string web = (fs::path(work_.path()) / "web").make_preferred().string();
  repo_.File("index.htm", "x", kTime1).Notes("", "[Web Folder]\r\nDeployTo=" + web + "\r\n");
  // Esc goes to the control with the focus (Continue); the dialog's rules make it Cancel's.
  ASSERT_EQ(Deploy("press Esc\n"), 3) << output_;  // nothing deployed
  EXPECT_NE(output_.find("Outcome: not run"), std::string::npos) << output_;
  EXPECT_FALSE(fs::exists(web));
}

TEST_F(RealWindowsDeploy, CancelPostedWhileAnUploadBlocksAsksThenYesCancelsKeepingWhatWasSent) {
  const FixtureServer* stall = Server("pyftpdlib-stall");
  SKELDER_REQUIRE(stall, why_);
  repo_.File("a.htm", "alpha", kTime1)
      .File("b.htm", "bravo", kTime1)
      .File("stall.bin", std::string(1000, 's'), kTime1)
      .File("z.htm", "zulu", kTime1);
  repo_.Notes("", "[Web Folder]\r\nDeployTo=" + Location(*stall) + "\r\n");
  // The upload of stall.bin is never answered: the client waits for the reply, with the
  // responsiveness hook's turns every 250 ms, until the read limit. A few turns come before it
  // (Continue, one a file while fetching); the 40th falls well inside the 30 s of waiting.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Deploy("click btnOK\nat 40 click btnCancel\nanswer Yes\nclick btnDone\n", {"SKELDER_FTP_TIMEOUT_MS=30000"}),
            2)  // cancelled
      << output_;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  // Yes was answered (cancelled, not failed), and only after b.htm had gone out: the question
  // came inside the blocked transfer, not before it.
  EXPECT_NE(output_.find("Outcome: cancelled"), std::string::npos) << output_;
  const std::vector<std::string> log = Log();
  const std::string target = stall->host + "/" + base_;
  const std::vector<std::string> sent = Concat({Heading(target), {"   /a.htm", "   /b.htm"}});
  const size_t fetched = kFetchHeading.size() + 4;  // the four files checked out
  ASSERT_GE(log.size(), fetched + sent.size());
  EXPECT_EQ(std::vector<std::string>(log.begin() + fetched, log.begin() + fetched + sent.size()), sent);
  for (size_t i = fetched; i < log.size(); ++i) EXPECT_EQ(log[i].find("z.htm"), std::string::npos) << log[i];
  EXPECT_EQ(ReadFile(Remote(*stall) + "/a.htm"), "alpha");
  EXPECT_EQ(ReadFile(Remote(*stall) + "/b.htm"), "bravo");
  EXPECT_FALSE(fs::exists(Remote(*stall) + "/z.htm")) << "nothing after the blocked file";
  EXPECT_EQ(ReadFile(Remote(*stall) + "/XRDeploy.dat"), Entry("a.htm") + Entry("b.htm"));
}

}  // namespace
}  // namespace skelder::test
