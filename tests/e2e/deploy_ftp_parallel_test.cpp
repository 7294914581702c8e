// FTP deployment over several sessions at once (FtpConnections), end to end through the exports
// against real servers on port 21 of loopback addresses. The servers' own logs say which session
// sent what: at most the configured number of sessions at once, every folder made once, a file's
// group over one session. The remote tree, the record and the log are those of a deployment over
// one session. Then what goes wrong: an upload refused, a connection reset, a cancel, a server
// that allows fewer sessions than asked for, and a setting that is no number of connections.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "deploy_fixture.h"
#include "loopback.h"

namespace skelder::test {
namespace {

using namespace loopback;
namespace fs = std::filesystem;

// One command line as a server logged it, with the session that sent it.
struct Line {
  std::string session;
  std::string command;
};

// pyftpdlib with the session-naming log and the faults of tests/support/pyftpd_parallel.py.
struct ParallelFaults {
  int maxSessions = 0;
  double hold = 0;
  std::string refuse, reset;

  static ParallelFaults MaxSessions(int n) {
    ParallelFaults f;
    f.maxSessions = n;
    return f;
  }
  static ParallelFaults Hold(double seconds) {
    ParallelFaults f;
    f.hold = seconds;
    return f;
  }
  static ParallelFaults Refuse(std::string name) {
    ParallelFaults f;
    f.refuse = std::move(name);
    return f;
  }
  static ParallelFaults Reset(std::string name) {
    ParallelFaults f;
    f.reset = std::move(name);
    return f;
  }
};

class ParallelPyFtpd : public PyFtpdServer {
 public:
  ParallelPyFtpd(FtpServerOptions options, ParallelFaults faults)
      : PyFtpdServer(std::move(options)), faults_(std::move(faults)) {}

 protected:
  std::vector<std::string> Prepare(std::string* why) override {
    std::vector<std::string> argv = PyFtpdServer::Prepare(why);
    if (argv.size() < 2) return argv;
    argv[1] = SourceDir() + "/tests/support/pyftpd_parallel.py";
    if (faults_.maxSessions) argv.insert(argv.end(), {"--max-sessions", std::to_string(faults_.maxSessions)});
    if (faults_.hold > 0) argv.insert(argv.end(), {"--hold", std::to_string(faults_.hold)});
    if (!faults_.refuse.empty()) argv.insert(argv.end(), {"--refuse", faults_.refuse});
    if (!faults_.reset.empty()) argv.insert(argv.end(), {"--reset", faults_.reset});
    return argv;
  }

 private:
  ParallelFaults faults_;
};

// vsftpd refusing more than maxSessions sessions from one address, its log lines kept with the
// process that wrote them ("<pid> <command>"; a session is one process once logged in).
class ParallelVsftpd : public VsftpdServer {
 public:
  ParallelVsftpd(FtpServerOptions options, int maxSessions)
      : VsftpdServer(std::move(options)), maxSessions_(maxSessions) {}

 protected:
  std::vector<std::string> Prepare(std::string* why) override {
    std::vector<std::string> argv = VsftpdServer::Prepare(why);
    if (argv.size() < 2) return argv;
    std::string config = ReadFile(argv[1]);
    const std::string unlimited = "max_per_ip=0";
    config.replace(config.find(unlimited), unlimited.size(), "max_per_ip=" + std::to_string(maxSessions_));
    WriteFile(argv[1], config);
    return argv;
  }
  std::vector<std::string> ParseLog(const std::string& text) const override {
    static const std::regex line(R"(\[pid (\d+)\] .*FTP (command|response): Client "[^"]*", "(.*)\"\s*$)");
    std::vector<std::string> out;
    for (const std::string& l : SplitLines(text)) {
      std::smatch m;
      if (std::regex_search(l, m, line))
        out.push_back(m[1].str() + (m[2] == "response" ? " #reply " : " ") + m[3].str());
    }
    return out;
  }

 private:
  int maxSessions_;
};

std::vector<Line> Lines(const std::vector<std::string>& logged) {
  std::vector<Line> out;
  for (const auto& l : logged) {
    const size_t blank = l.find(' ');
    if (blank != std::string::npos) out.push_back({l.substr(0, blank), l.substr(blank + 1)});
  }
  return out;
}

// The most sessions alive at once: a session lives from its first logged line to its last.
size_t MostAtOnce(const std::vector<Line>& lines) {
  std::map<std::string, std::pair<size_t, size_t>> span;
  for (size_t i = 0; i < lines.size(); ++i) {
    auto [it, fresh] = span.try_emplace(lines[i].session, i, i);
    it->second.second = i;
  }
  size_t most = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    size_t alive = 0;
    for (const auto& [session, s] : span) alive += s.first <= i && i <= s.second;
    most = std::max(most, alive);
  }
  return most;
}

std::vector<std::string> Commands(const std::vector<Line>& lines, const std::string& verb) {
  std::vector<std::string> out;
  for (const auto& l : lines)
    if (l.command.rfind(verb + " ", 0) == 0) out.push_back(l.command.substr(verb.size() + 1));
  return out;
}

class DeployFtpParallel : public DeployTest {
 protected:
  FtpServer* StartPyFtpd(const std::string& host, const ParallelFaults& faults = {}) {
    return Started(host, std::make_unique<ParallelPyFtpd>(Options(host), faults));
  }
  FtpServer* StartVsftpd(const std::string& host, int maxSessions) {
    return Started(host, std::make_unique<ParallelVsftpd>(Options(host), maxSessions));
  }

  // 24 files in the folder itself, a folder, a folder inside it and another folder; a third
  // of them with a companion of their file group (".txt" beside ".htm"), sizes up to 180 KB so
  // that transfers overlap.
  void ParallelSite() {
    repo_.Group("htm;txt");
    const char* folders[] = {"", "a/", "a/b/", "c/"};
    int n = 0;
    for (const char* folder : folders) {
      for (int i = 0; i < 6; ++i, ++n) {
        const std::string name = std::string(folder) + "f" + std::to_string(n);
        repo_.File(name + ".htm", std::string(static_cast<size_t>((n * 7919) % 180000 + 1), static_cast<char>('a' + n)),
                   kTime1);
        if (n % 3 == 0) repo_.File(name + ".txt", "companion of " + name, kTime1);
      }
    }
  }
  // Files of the folder itself only, one size: each upload takes as long as the next.
  void FlatSite(int files) {
    for (int i = 0; i < files; ++i)
      repo_.File("g" + std::to_string(i / 10) + std::to_string(i % 10) + ".htm", std::string(5000, 'g'), kTime1);
  }
  // pyftpdlib's one-threaded loop loses an active data connection now and then when several
  // sessions make them at once and the client closes it before the loop looked at it (its
  // final reply then is "Active data channel timed out." after 30 s): against it the sessions go
  // passive, against vsftpd active.
  void Notes(const std::string& target, const std::string& connections) {
    repo_.Notes("", "[Web Folder]\r\nDeployTo=ftp://" + target +
                        (connections.empty() ? "" : "\r\nFtpConnections=" + connections) +
                        (vsftpd_ ? "" : "\r\nFtpPassive=1") + "\r\nEnabled=1\r\n");
  }
  std::string Remote(const std::string& base) const { return server_->root() + base; }
  // The base directory as the server names it (vsftpd, not changing its root, uses real paths).
  std::string Base(const std::string& base) const { return vsftpd_ ? Remote(base) : base; }
  std::string RemoteRecord(const std::string& base) const {
    const std::string path = Remote(base) + "/XRDeploy.dat";
    return FileExists(path) ? ReadFile(path) : "(none)";
  }
  // Every file at the location is the repository's, byte for byte.
  void ExpectSameAsRepository(const std::string& base) {
    for (const auto& rel : ListFiles(Remote(base))) {
      if (rel != "XRDeploy.dat") {
        EXPECT_EQ(ReadFile(Remote(base) + "/" + rel), ReadFile(repo_.Path(rel))) << rel;
      }
    }
  }
  // The record names exactly the files at the location (no groups in these sites): what was
  // stored is recorded, nothing else.
  void ExpectRecordIsWhatArrived(const std::string& base) {
    std::set<std::string> recorded, arrived;
    for (const auto& l : SplitLines(RemoteRecord(base))) recorded.insert(l);
    for (const auto& rel : ListFiles(Remote(base)))
      if (rel != "XRDeploy.dat") arrived.insert(Entry(rel, kTime1));
    EXPECT_EQ(recorded, arrived);
  }
  // The log's file lines of the location, and the sent ones among them in the order they came.
  std::vector<std::string> LocationLines() const {
    const std::vector<std::string> all = Log();
    const auto heading =
        std::find_if(all.begin(), all.end(), [](const std::string& l) { return l.rfind("Deploying to", 0) == 0; });
    return heading == all.end() ? std::vector<std::string>{} : std::vector<std::string>(heading + 2, all.end());
  }
  std::vector<std::string> SentShown() const {
    std::vector<std::string> sent;
    for (const auto& l : LocationLines())
      if (l.rfind("   ", 0) == 0 && l.find(" - ") == std::string::npos && l.rfind("   One of", 0) != 0)
        sent.push_back(l);
    return sent;
  }

  bool vsftpd_ = false;

 private:
  FtpServerOptions Options(const std::string& host) {
    FtpServerOptions options;
    options.host = host;
    options.port = 21;
    return options;
  }
  FtpServer* Started(const std::string& host, std::unique_ptr<FtpServer> server) {
    if (!CanBind(host, 21)) {
      why_ = "cannot bind port 21 on " + host + " (needs root)";
      return nullptr;
    }
    server_ = std::move(server);
    if (!server_->Start(&why_)) {
      server_.reset();
      return nullptr;
    }
    return server_.get();
  }
};

class DeployFtpParallelServers : public DeployFtpParallel, public ::testing::WithParamInterface<FtpServerKind> {};

TEST_P(DeployFtpParallelServers, FourSessionsDeployWhatOneDoes) {
  vsftpd_ = GetParam() == FtpServerKind::kVsftpd;
  FtpServer* server =
      vsftpd_ ? StartVsftpd(kParallelVsftpd, 4) : StartPyFtpd(kParallelPyFtpd, ParallelFaults::MaxSessions(4));
  SKELDER_REQUIRE(server, Why());
  const std::string host = vsftpd_ ? kParallelVsftpd : kParallelPyFtpd;
  MakeDirs(Remote("/one"));
  MakeDirs(Remote("/four"));
  ParallelSite();

  Notes(host + Base("/one"), "");
  ASSERT_EQ(Deploy(""), kSucceeded) << LogText();
  std::vector<std::string> oneLog = Log();
  const std::string heading = "Deploying to '" + host + Base("/one") + "'...";
  *std::find(oneLog.begin(), oneLog.end(), heading) = "Deploying to '" + host + Base("/four") + "'...";

  const size_t mark = server->CommandCount();
  Notes(host + Base("/four"), "4");
  ASSERT_EQ(Deploy(""), kSucceeded) << LogText();
  EXPECT_EQ(ListFiles(Remote("/four")), ListFiles(Remote("/one")));
  ExpectSameAsRepository("/four");
  EXPECT_EQ(RemoteRecord("/four"), RemoteRecord("/one"));
  // Each file's line once, in the file list's order: the log of one session.
  EXPECT_EQ(Log(), oneLog);

  const std::vector<Line> lines = Lines(server->CommandsSince(mark));
  const size_t most = MostAtOnce(lines);
  EXPECT_LE(most, 4u) << ::testing::PrintToString(server->CommandsSince(mark));
  EXPECT_GE(most, 2u) << "the files went over one session at a time";
  for (const auto& l : lines) EXPECT_EQ(l.command.find("too many"), std::string::npos) << l.command;
  std::vector<std::string> made = Commands(lines, "MKD");
  std::sort(made.begin(), made.end());
  EXPECT_EQ(made, (std::vector<std::string>{"a", "a/b", "c"}));

  // A file's group travels over one session, the companion right after it.
  std::map<std::string, std::vector<std::string>> stored;
  for (const auto& l : lines)
    if (l.command.rfind("STOR ", 0) == 0) stored[l.session].push_back(l.command.substr(5));
  EXPECT_GE(stored.size(), 2u);
  size_t companions = 0;
  for (const auto& [session, names] : stored) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i].size() < 4 || names[i].compare(names[i].size() - 4, 4, ".txt") != 0) continue;
      ++companions;
      const std::string partner = names[i].substr(0, names[i].size() - 4) + ".htm";
      EXPECT_TRUE(i > 0 && names[i - 1] == partner) << session << ": " << ::testing::PrintToString(names);
    }
  }
  EXPECT_EQ(companions, 16u);  // 8 groups, each sent for both of its files

  // Nothing changed: one session reads the record and stores it back; no other opens.
  const size_t again = server->CommandCount();
  ASSERT_EQ(Deploy(""), kSucceeded) << LogText();
  const std::vector<Line> quiet = Lines(server->CommandsSince(again));
  std::set<std::string> sessions;
  for (const auto& l : quiet) sessions.insert(l.session);
  EXPECT_EQ(sessions.size(), 1u) << ::testing::PrintToString(server->CommandsSince(again));
  EXPECT_EQ(Commands(quiet, "STOR"), std::vector<std::string>{"XRDeploy.dat"});
  EXPECT_EQ(RemoteRecord("/four"), RemoteRecord("/one"));
}

INSTANTIATE_TEST_SUITE_P(Servers, DeployFtpParallelServers,
                         ::testing::Values(FtpServerKind::kPyFtpd, FtpServerKind::kVsftpd),
                         [](const auto& param) { return std::string(FtpServerKindName(param.param)); });

// One upload refused, or a session reset, fails the location at that file; the files the other
// sessions stored meanwhile are recorded, and only those.
TEST_F(DeployFtpParallel, AFailedFileFailsTheLocationAndKeepsWhatTheOthersStored) {
  struct Case {
    const char* host;
    ParallelFaults faults;
    std::string message;  // a part of the failed file's line
  };
  const Case cases[] = {
      {kParallelRefused, ParallelFaults::Refuse("g13.htm"), "Refused by the test server."},
      {kParallelReset, ParallelFaults::Reset("g13.htm"), "Socket Error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    server_.reset();
    SKELDER_REQUIRE(StartPyFtpd(c.host, c.faults), Why());
    MakeDirs(Remote("/base"));
    FlatSite(30);
    Notes(std::string(c.host) + "/base", "4");
    ASSERT_EQ(Deploy(""), kFailed) << LogText();
    const std::vector<std::string> lines = LocationLines();
    const auto failed = std::find_if(lines.begin(), lines.end(),
                                     [](const std::string& l) { return l.find(" - ") != std::string::npos; });
    ASSERT_NE(failed, lines.end()) << LogText();
    EXPECT_EQ(failed->rfind("   /g13.htm - Error Code: ", 0), 0u) << *failed;
    EXPECT_NE(failed->find(c.message), std::string::npos) << *failed;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find(" - ") != std::string::npos; }),
              1);
    EXPECT_FALSE(FileExists(Remote("/base/g13.htm")));
    // Stored and logged are the same files; the record holds them and nothing else.
    std::vector<std::string> arrived;
    for (const auto& rel : ListFiles(Remote("/base")))
      if (rel != "XRDeploy.dat") arrived.push_back("   /" + rel);
    std::vector<std::string> sent = SentShown();
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, arrived);
    EXPECT_GE(arrived.size(), 13u);  // those before it in the list at least
    EXPECT_LT(arrived.size(), 29u);  // handing out stopped
    ExpectSameAsRepository("/base");
    ExpectRecordIsWhatArrived("/base");
    ASSERT_EQ(MessageBoxes().size(), 1u) << Transcript();
  }
}

// Cancel while every session waits for an upload's final reply: the question comes at once, no
// session takes another file, the files in flight end whole and are recorded.
TEST_F(DeployFtpParallel, CancelStopsHandingOutAndKeepsTheFilesInFlight) {
  SKELDER_REQUIRE(StartPyFtpd(kParallelCancel, ParallelFaults::Hold(3.0)), Why());
  MakeDirs(Remote("/base"));
  FlatSite(12);
  Notes(std::string(kParallelCancel) + "/base", "4");
  // Turns 1-13: Continue and the twelve files fetched; then the dialog turns every few tens of
  // milliseconds while the four sessions wait out their first uploads' three seconds: turn 40
  // comes about a second into that wait, when every session has its file.
  ASSERT_EQ(Deploy("click btnOK\nat 40 click btnCancel\nanswer Yes\n"), kCancelled) << LogText() << Transcript();
  const std::vector<std::string> lines = LocationLines();
  ASSERT_EQ(lines.size(), 5u) << LogText();
  EXPECT_EQ(lines[4], lines[3] + " - Cancelled by user");
  const std::vector<std::string> stored = Commands(Lines(server_->Commands()), "STOR");
  EXPECT_EQ(stored.size(), 5u) << ::testing::PrintToString(stored);  // four files, the record
  EXPECT_EQ(ListFiles(Remote("/base")).size(), 5u);
  ExpectSameAsRepository("/base");
  ExpectRecordIsWhatArrived("/base");
  const auto boxes = MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u) << Transcript();
  EXPECT_NE(boxes[0].find("Are you sure you want to cancell this deployment?"), std::string::npos);
  EXPECT_NE(boxes[1].find("text=\"Cancelled by User\""), std::string::npos) << boxes[1];
  EXPECT_NE(Transcript().find("at 40 click btnCancel"), std::string::npos) << Transcript();
}

// A server that allows two sessions: the two that could not be opened are noted and the others
// carry the files. A value that is no number of connections means one, with a line saying so.
TEST_F(DeployFtpParallel, FewerSessionsThanAskedForAndAValueThatIsNoNumber) {
  SKELDER_REQUIRE(StartPyFtpd(kParallelFewerSessions, ParallelFaults::MaxSessions(2)), Why());
  MakeDirs(Remote("/base"));
  FlatSite(20);
  const std::string target = std::string(kParallelFewerSessions) + "/base";
  Notes(target, "4");
  ASSERT_EQ(Deploy(""), kSucceeded) << LogText();
  ExpectSameAsRepository("/base");
  ExpectRecordIsWhatArrived("/base");
  EXPECT_EQ(ListFiles(Remote("/base")).size(), 21u);
  size_t notes = 0;
  for (const auto& l : LocationLines())
    notes += l.rfind(std::string("   One of the FTP connections to ") + kParallelFewerSessions +
                         " could not be opened, the others go on: ",
                     0) == 0;
  EXPECT_EQ(notes, 2u) << LogText();
  EXPECT_EQ(SentShown().size(), 20u);

  for (const std::string value : {"17", "0", "x", "-2"}) {
    fs::remove_all(Remote("/base"));
    MakeDirs(Remote("/base"));
    const size_t mark = server_->CommandCount();
    Notes(target, value);
    ASSERT_EQ(Deploy(""), kSucceeded) << value << LogText();
    const std::vector<std::string> lines = LocationLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0],
              "   The number of FTP connections '" + value + "' is not a number from 1 to 16: one connection is used");
    std::set<std::string> sessions;
    for (const auto& l : Lines(server_->CommandsSince(mark)))
      if (l.command[0] != '#') sessions.insert(l.session);
    EXPECT_EQ(sessions.size(), 1u) << value;
    EXPECT_EQ(ListFiles(Remote("/base")).size(), 21u);
  }
}

}  // namespace
}  // namespace skelder::test
