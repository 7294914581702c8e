// A folder deployed through the stand-in host on every platform (under wine too): `ardmoor`
// loads the add-in through its exports, reads the host's installation folder from the user's
// registry, and deploys to a directory, to pyftpdlib (user and password) and to vsftpd
// (anonymous) in one run, and to pyftpdlib over explicit TLS (Schannel's under wine). The servers run on port 21 of
// loopback addresses of their own, started as ctest fixtures (tests/support/test_servers.py) because a Windows program
// under wine cannot start or stop a Linux one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
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

  // `ardmoor deploy --yes` of the repository's root folder (with `more` options); its exit status.
  int Deploy(const std::vector<std::string>& more = {}) {
    output_.clear();
    std::vector<std::string> argv = {BinProgram("ardmoor"),
                                     "--repository",
                                     repo_.Root(),
                                     "deploy",
                                     "$",
                                     "--install-dir",
                                     BinDir(),
                                     "--addin",
                                     install_ + "/" + AddinFileName(),
                                     "--yes"};
    argv.insert(argv.end(), more.begin(), more.end());
    const int status =
        RunProgram(argv, &output_, std::chrono::seconds(120), {"TMP=" + tmp_, "TEMP=" + tmp_, "TMPDIR=" + tmp_});
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

// An "ftps://" location on the fixture's TLS server (log-in and data over TLS only, passive by
// default, a self-signed certificate): refused with its fingerprint while the notes do not trust
// it, then trusted by that fingerprint alone (no trust store involved, under wine either), the
// tree byte for byte and the record, the log-in nowhere in clear text or in the log.
TEST_F(HostDeployE2e, AnFtpsLocationIsRefusedWithItsFingerprintThenDeploysTrustingIt) {
  const Server* tls = Start("pyftpdlib-tls");
  SKELDER_REQUIRE(tls, why_);
  ASSERT_EQ(tls->fingerprint.size(), 95u) << tls->fingerprint;
  const std::vector<std::string> files = {"index.htm", "data/blob.bin", "data/sub/deep.css"};
  repo_.File(files[0], "<html>secure</html>\r\n", kTime1)
      .File(files[1], std::string("\0\r\n\x1a\0\xff\r\r\n\n\x1a", 11) + std::string(70000, '\0'), kTime1)
      .File(files[2], "a{}\r\n", kTime1);
  const std::string location = "ftps://" + tls->user + ":" + tls->password + "@" + tls->host + FtpPath(*tls);
  const std::string target = tls->host + FtpPath(*tls);
  std::vector<std::string> fetched = kFetchHeading, sent;
  for (const auto& rel : files) {
    fetched.push_back(Shown(rel));
    sent.push_back(Shown(rel, '/'));
  }
  // The command lines the server received since `mark` bytes of its log.
  auto commandsSince = [&](size_t mark) { return SplitLines(ReadFile(tls->commandLog).substr(mark)); };
  auto verbs = [](const std::vector<std::string>& lines) {
    std::map<std::string, size_t> n;
    for (const auto& l : lines) ++n[l.substr(0, l.find(' '))];
    return n;
  };
  auto expectNoSecret = [&] {
    EXPECT_EQ(output_.find(tls->password), std::string::npos) << "the password is never shown";
    EXPECT_EQ(ReadFile(install_ + "/Skelder.log").find(tls->password), std::string::npos);
  };

  size_t mark = ReadFile(tls->commandLog).size();
  repo_.Notes("", "[Web Folder]\r\nDeployTo=" + location + "\r\n");
  EXPECT_NE(Deploy(), 0) << output_;
  EXPECT_NE(output_.find("Outcome: failed"), std::string::npos) << output_;
  const std::vector<std::string> failed = Log();
  ASSERT_EQ(failed.size(), fetched.size() + 5) << ::testing::PrintToString(failed);
  EXPECT_EQ(std::vector<std::string>(failed.begin(), failed.end() - 1), Concat({fetched, Heading(target)}));
  // Why it does not verify is the TLS library's to say; the rest is ours, fingerprint and all.
  const std::string refusal = failed.back();
  const std::string tail = "); its SHA-256 fingerprint is " + tls->fingerprint +
                           ". If that is your server's certificate, add the fingerprint to TrustedCertificates.";
  EXPECT_EQ(refusal.rfind("   The server's certificate is not trusted (", 0), 0u) << refusal;
  EXPECT_TRUE(refusal.size() > tail.size() && refusal.compare(refusal.size() - tail.size(), tail.size(), tail) == 0)
      << refusal;
  EXPECT_EQ(commandsSince(mark), std::vector<std::string>{"AUTH TLS"}) << "nothing after the refused handshake";
  EXPECT_FALSE(FileExists(Remote(*tls) + "/XRDeploy.dat"));
  expectNoSecret();

  // Trusted by its fingerprint, in lower case and without colons, beside another one.
  std::string bare;
  for (char c : tls->fingerprint)
    if (c != ':') bare += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  repo_.Notes("", "[Web Folder]\r\nDeployTo=" + location + "\r\nTrustedCertificates=" + std::string(64, '0') + ", " +
                      bare + "\r\n");
  mark = ReadFile(tls->commandLog).size();
  const std::string trace = work_ / "ftps.trace";
  ASSERT_EQ(Deploy({"--trace", trace}), 0) << output_;
  EXPECT_EQ(Log(), Concat({fetched, Heading(target), sent}));
  EXPECT_EQ(ListFiles(Remote(*tls)), (std::vector<std::string>{"XRDeploy.dat", files[1], files[2], files[0]}));
  std::string record;
  for (const auto& rel : files) {
    EXPECT_EQ(ReadFile(Remote(*tls) + "/" + rel), ReadFile(repo_.Path(rel))) << rel;
    record += Entry(rel, kTime1);
  }
  EXPECT_EQ(ReadFile(Remote(*tls) + "/XRDeploy.dat"), record);
  const std::vector<std::string> commands = commandsSince(mark);
  ASSERT_GE(commands.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 5),
            (std::vector<std::string>{"AUTH TLS", "PBSZ 0", "PROT P", "USER " + tls->user, "PASS ****"}));
  // Passive, the default over TLS: a data connection per transfer, none by PORT.
  std::map<std::string, size_t> n = verbs(commands);
  EXPECT_EQ(n["PORT"] + n["EPRT"], 0u);
  EXPECT_EQ(n["PASV"], n["STOR"] + n["RETR"]);
  EXPECT_GE(n["STOR"], files.size() + 1);
  // Each handshake, the control connection's and every data connection's, took the certificate
  // by its fingerprint; the trace holds no password either.
  const std::string traced = ReadFile(trace);
  size_t handshakes = 0;
  for (size_t at = traced.find("TLS handshake ("); at != std::string::npos;
       at = traced.find("TLS handshake (", at + 1)) {
    ++handshakes;
    const std::string line = traced.substr(at, traced.find('\n', at) - at);
    EXPECT_NE(line.find("; certificate " + tls->fingerprint + " trusted by its fingerprint ("), std::string::npos)
        << line;
  }
  EXPECT_GE(handshakes, 1 + n["STOR"]) << traced;
  EXPECT_EQ(traced.find(tls->password), std::string::npos);
  expectNoSecret();
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
