// A folder deployed through the stand-in host on every platform (under wine too): `ardmoor`
// loads the add-in through its exports, reads the host's installation folder from the user's
// registry, and deploys to a directory, to pyftpdlib (user and password) and to vsftpd
// (anonymous) in one run. The servers run on port 21 of loopback addresses of their own,
// started as ctest fixtures (tests/support/test_servers.py) because a Windows program under wine
// cannot start or stop a Linux one.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "deploy_log.h"
#include "fixture_servers.h"
#include "hostsim_fixture.h"
#include "platform/registry.h"
#include "test_support.h"

namespace skelder::test {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kTime1 = 1700000000;
constexpr int64_t kTime2 = 1700003600;
constexpr char kSep = static_cast<char>(fs::path::preferred_separator);

using Server = FixtureServer;

class HostDeployE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FileExists(BinProgram("ardmoor"))) << "build ardmoor first";
    fs::create_directories(install_);
    fs::create_directories(tmp_);
    fs::copy_file(BinDir() + "/" + AddinFileName(), install_ + "/" + AddinFileName());
  }

  // A server of the fixture with a fresh folder "base" of this test's own below its root.
  const Server* Start(const std::string& name) {
    return FixtureServerWithFolder(servers_, name, "base", bases_[name], why_);
  }
  std::string Remote(const Server& s) { return s.root + "/" + bases_[s.name]; }
  std::string FtpPath(const Server& s) { return (s.ftpRoot == "/" ? "" : s.ftpRoot) + "/" + bases_[s.name]; }
  std::string Location(const Server& s) {
    const std::string login = s.user == "anonymous" ? "" : s.user + ":" + s.password + "@";
    return "ftp://" + login + s.host + FtpPath(s);
  }

  // `ardmoor deploy --yes` of the repository's root folder; its exit status.
  int Deploy() {
    output_.clear();
    const int status =
        RunProgram({BinProgram("ardmoor"), "--repository", repo_.Root(), "deploy", "$", "--install-dir", BinDir(),
                    "--addin", install_ + "/" + AddinFileName(), "--yes"},
                   &output_, std::chrono::seconds(120), {"TMP=" + tmp_, "TEMP=" + tmp_, "TMPDIR=" + tmp_});
    // Every run removes the temporary folder it made for the checked-out copies.
    EXPECT_TRUE(fs::is_empty(tmp_)) << "temporary folder left behind";
    return status;
  }
  // The log beside the add-in, whose lines end in CR LF.
  std::vector<std::string> Log() {
    const std::string text = ReadFile(install_ + "/Skelder.log");
    std::string crlf;
    for (const auto& l : SplitLines(text)) crlf += l + "\r\n";
    EXPECT_EQ(text, crlf) << "every line ends in CR LF";
    return SplitLines(text);
  }
  std::string Entry(const std::string& rel, int64_t time) {
    return std::to_string(repo_.FileId(rel)) + "=" + std::to_string(PackedAge(time)) + "\r\n";
  }
  // A file as the log shows it: its folder's path and name, "\" + name for the deployed folder's
  // own files, with the platform's separator, except at an FTP location, which shows "/".
  static std::string Shown(std::string rel, char sep = kSep) {
    for (char& c : rel)
      if (c == '/') c = sep;
    return "   " + (rel.find(sep) == std::string::npos ? std::string(1, sep) : std::string()) + rel;
  }

  std::vector<Server> servers_ = FixtureServers();
  std::map<std::string, std::string> bases_;
  std::string why_;
  HostSimUser user_{false};  // ardmoor, a child process, writes the user's registry
  HostSimRepository repo_;
  TempDir work_;
  std::string install_ = work_ / "install";
  std::string tmp_ = work_ / "tmp";
  std::string output_;
};

TEST_F(HostDeployE2e, ADirectoryAndTwoServersByteForByteThenOnlyWhatChanged) {
  const Server* py = Start("pyftpdlib");
  SKELDER_REQUIRE(py, why_);
  const Server* vs = Start("vsftpd");
  SKELDER_REQUIRE(vs, why_);
  const std::string web = (fs::path(work_.path()) / "web").make_preferred().string();
  repo_.Group("htm;txt")
      .File("index.htm", "<html>home</html>\r\n", kTime1)
      .File("index.txt", "notes v1", kTime1)
      .File("about/index.htm", "<html>about</html>", kTime1)
      .File("img/logo.gif", std::string("GIF89a\0\x01\r\n\x1a\xff", 12), kTime1)
      .File("img/sub/deep.css", "a{}", kTime1);
  repo_.Notes("", "[Web Folder]\r\nDeployTo=" + web + "," + Location(*py) + "," + Location(*vs) + "\r\n");
  const std::vector<std::string> files = {"about/index.htm", "img/logo.gif", "img/sub/deep.css", "index.htm",
                                          "index.txt"};
  const std::vector<std::string> remotes = {web, Remote(*py), Remote(*vs)};
  const std::vector<std::string> targets = {web + kSep, py->host + FtpPath(*py), vs->host + FtpPath(*vs)};
  const std::vector<std::string> all = {"index.htm", "index.txt", "about/index.htm", "img/logo.gif",
                                        "img/sub/deep.css"};
  auto expectLog = [&](const std::vector<std::string>& sent) {
    std::vector<std::string> expected = kFetchHeading;
    for (const auto& rel : all) expected.push_back(Shown(rel));
    for (size_t t = 0; t < targets.size(); ++t) {
      for (const auto& line : Heading(targets[t])) expected.push_back(line);
      for (const auto& rel : sent) expected.push_back(Shown(rel, t == 0 ? kSep : '/'));
    }
    EXPECT_EQ(Log(), expected);
  };
  auto expectRecords = [&](int64_t indexTime) {
    const std::string record = Entry("index.htm", indexTime) + Entry("index.txt", kTime1) +
                               Entry("about/index.htm", kTime1) + Entry("img/logo.gif", kTime1) +
                               Entry("img/sub/deep.css", kTime1);
    for (const auto& remote : remotes) {
      EXPECT_EQ(ListFiles(remote), Concat({{"XRDeploy.dat"}, files})) << remote;
      for (const auto& rel : files) EXPECT_EQ(ReadFile(remote + "/" + rel), ReadFile(repo_.Path(rel))) << rel;
      EXPECT_EQ(ReadFile(remote + "/XRDeploy.dat"), record) << remote;
    }
  };

  ASSERT_EQ(Deploy(), 0) << output_;
  EXPECT_NE(output_.find("Outcome: succeeded"), std::string::npos) << output_;
  EXPECT_EQ(output_.find(py->password), std::string::npos) << "the password is never shown";
  expectRecords(kTime1);
  expectLog(all);
  // The host's installation folder came from the user's registry, where --install-dir put it.
  EXPECT_EQ(platform::registry::ReadString("\\Software\\Vorn\\Ardmoor", "InstallDir"), fs::absolute(BinDir()).string());

  ASSERT_EQ(Deploy(), 0) << output_;  // nothing changed: only the records go back
  expectRecords(kTime1);
  expectLog({});

  // A newer index.htm goes out with its group's index.txt, everywhere.
  repo_.File("index.htm", "<html>home v2</html>", kTime2).File("index.txt", "notes v2", kTime1);
  ASSERT_EQ(Deploy(), 0) << output_;
  expectRecords(kTime2);
  expectLog({"index.htm"});
}

// Four sessions to each server (under wine too, where they are threads of the DLL): every file
// byte for byte, and the record and the log as one session writes them, in the file list's order.
// Passive mode: the fixture's pyftpdlib, one thread for every session, now and then loses an
// active data connection that several sessions open at once.
TEST_F(HostDeployE2e, FourSessionsToEachServerWriteWhatOneWrites) {
  const Server* py = Start("pyftpdlib");
  SKELDER_REQUIRE(py, why_);
  const Server* vs = Start("vsftpd");
  SKELDER_REQUIRE(vs, why_);
  std::vector<std::string> files;
  for (int i = 0; i < 24; ++i) {
    const std::string rel =
        (i % 4 ? "d" + std::to_string(i % 4) + "/" : std::string()) + "p" + std::to_string(i) + ".htm";
    repo_.File(rel, std::string(static_cast<size_t>(1 + 3000 * i), static_cast<char>('a' + i)), kTime1);
    files.push_back(rel);
  }
  repo_.Notes("", "[Web Folder]\r\nDeployTo=" + Location(*py) + "," + Location(*vs) +
                      "\r\nFtpConnections=4\r\nFtpPassive=1\r\n");
  ASSERT_EQ(Deploy(), 0) << output_;
  // The fetch lists every file in the file list's order; each location sends them all.
  const std::vector<std::string> log = Log();
  ASSERT_GE(log.size(), 2 + files.size());
  std::vector<std::string> fetched(log.begin() + 2, log.begin() + 2 + static_cast<std::ptrdiff_t>(files.size()));
  std::vector<std::string> sent, expected = kFetchHeading;
  std::string record;
  for (const auto& line : fetched) {
    expected.push_back(line);
    std::string rel = line.substr(3);
    for (char& c : rel)
      if (c == kSep) c = '/';
    if (rel[0] == '/') rel.erase(0, 1);
    sent.push_back(Shown(rel, '/'));
    record += Entry(rel, kTime1);
  }
  for (const Server* s : {py, vs}) {
    for (const auto& line : Heading(s->host + FtpPath(*s))) expected.push_back(line);
    for (const auto& line : sent) expected.push_back(line);
    std::vector<std::string> sorted = files;
    sorted.push_back("XRDeploy.dat");
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(ListFiles(Remote(*s)), sorted) << s->name;
    for (const auto& rel : files) EXPECT_EQ(ReadFile(Remote(*s) + "/" + rel), ReadFile(repo_.Path(rel))) << rel;
    EXPECT_EQ(ReadFile(Remote(*s) + "/XRDeploy.dat"), record) << s->name;
  }
  EXPECT_EQ(log, expected);
}

TEST_F(HostDeployE2e, InstallWritesTheUsersAddinList) {
  std::string out;
  ASSERT_EQ(RunProgram({BinProgram("ardmoor"), "--repository", repo_.Root(), "install", "--install-dir", BinDir(),
                        "--addin", install_ + "/" + AddinFileName()},
                       &out),
            0)
      << out;
  const std::string list = user_.UserDir() + "KVOAddins.dat";
  ASSERT_TRUE(FileExists(list)) << out;
  EXPECT_EQ(SplitLines(ReadFile(list)), (std::vector<std::string>{"[Addins]", "Skelder Command Handler=Skelder.dll"}));
}

}  // namespace
}  // namespace skelder::test
