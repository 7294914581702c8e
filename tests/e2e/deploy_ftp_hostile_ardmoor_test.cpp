// `ardmoor deploy` against hostile FTP servers on port 21 of loopback addresses: a greeting that
// never ends, a server that answers with blank lines for ever, one whose reply never ends in the
// middle of a run. Each location must fail within a bounded time with the memory of a normal
// run, and the record, stored over a fresh session, keeps the files sent before the fault.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "addin_process.h"
#include "fault_server.h"
#include "deploy_fixture.h"
#include "loopback.h"
#include "hostsim_fixture.h"
#include "test_support.h"

namespace skelder::test {
namespace {

using namespace loopback;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int64_t kTime1 = 1700000000;
constexpr int32_t kLimitMs = 1500;  // SKELDER_FTP_TIMEOUT_MS of the runs

// A small FTP server on a fault session: answers the commands a deployment sends, takes the
// uploads (active mode) and keeps them by name, until `hostileAt` says a line is where the
// fault starts; then it sends `unit` for ever, `pause` apart.
struct MiniFtp {
  std::function<bool(const std::string& line, int uploads)> hostileAt;
  std::string unit;
  std::chrono::milliseconds pause{0};

  std::mutex mutex;
  std::map<std::string, std::string> stored;  // name -> last content stored under it

  FaultStep Step() {
    return [this](FaultSession& s) {
      if (hostileAt && hostileAt("", 0)) return Hostile(s);  // before the greeting
      s.Send("220 ready\r\n");
      std::string port;
      int uploads = 0;
      while (auto line = s.ReadLine()) {
        if (hostileAt && hostileAt(*line, uploads)) return Hostile(s);
        static const std::map<std::string, std::string> answers = {{"USER", "331 password please"},
                                                                   {"PASS", "230 in"},
                                                                   {"TYPE", "200 binary"},
                                                                   {"SYST", "215 UNIX"},
                                                                   {"CWD", "250 ok"},
                                                                   {"MKD", "257 made"},
                                                                   {"PORT", "200 PORT ok"},
                                                                   {"RETR", "550 No such file."}};
        const std::string verb = line->substr(0, line->find(' '));
        if (verb == "PORT") port = *line;
        if (verb == "STOR") {
          s.Send("150 go\r\n");
          const std::string content = Receive(port, s.server().host());
          std::lock_guard<std::mutex> guard(mutex);
          stored[line->substr(5)] = content;
          ++uploads;
        }
        const auto answer = answers.find(verb);
        s.Send((verb == "STOR" ? "226 stored" : answer != answers.end() ? answer->second : "502 not here") + "\r\n");
      }
      return false;
    };
  }

  bool Hostile(FaultSession& s) {
    FaultScript().SendForever(unit, pause).steps().front()(s);
    return false;
  }

  // Connects back to a PORT line from the server's own address and takes everything.
  static std::string Receive(const std::string& portLine, const std::string& from) {
    const auto fd = ConnectToPortLine(portLine, from.c_str());
    if (fd == kNoTestSocket) return {};
    std::string all = Drain(fd);
    CloseSocket(fd);
    return all;
  }

  std::string Stored(const std::string& name) {
    std::lock_guard<std::mutex> guard(mutex);
    auto it = stored.find(name);
    return it == stored.end() ? "(none)" : it->second;
  }
  size_t StoredCount() {
    std::lock_guard<std::mutex> guard(mutex);
    return stored.size();
  }
};

class ArdmoorHostileFtp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FileExists(BinDir() + "/ardmoor")) << "build ardmoor first";
    fs::create_directories(install_);
    fs::copy_file(BinDir() + "/Skelder.so", install_ + "/Skelder.so");
    repo_.File("a.htm", "alpha", kTime1).File("b.htm", "bravo", kTime1).File("c.htm", "charlie", kTime1);
  }

  // `ardmoor deploy --yes` in a child process of its own (exec'd, so its peak memory is the
  // program's), with the read limit of the FTP module set to kLimitMs.
  ChildResult Deploy(const std::string& host) {
    repo_.Notes("", "[Web Folder]\r\nDeployTo=ftp://" + host + "/base\r\n");
    const std::string cmd = "SKELDER_FTP_TIMEOUT_MS=" + std::to_string(kLimitMs) + " exec '" + BinDir() +
                            "/ardmoor' --repository '" + repo_.Root() + "' deploy '" + repo_.Root() +
                            "' --install-dir '" + BinDir() + "' --addin '" + install_ + "/Skelder.so' --yes";
    const auto start = std::chrono::steady_clock::now();
    ChildResult result = RunInChild(
        [&]() -> int {
          execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
          return 127;
        },
        {}, 60s);
    took_ = std::chrono::steady_clock::now() - start;
    return result;
  }

  std::string Log() const {
    const std::string path = install_ + "/Skelder.log";
    return FileExists(path) ? ReadFile(path) : std::string();
  }
  std::string Entry(const std::string& rel) {
    return std::to_string(repo_.FileId(rel)) + "=" + std::to_string(PackedAge(kTime1)) + "\r\n";
  }

  // The peak memory of a normal run of the same deployment, to compare against. Each test has a
  // loopback address of its own for it: ctest runs them side by side.
  long NormalPeakKb(const std::string& host) {
    MiniFtp normal;
    FaultServer server({FaultScript().Custom(normal.Step())}, host, 21);
    const ChildResult run = Deploy(host);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(normal.StoredCount(), 4u);  // three files and the record
    return run.peakRssKb;
  }

  HostSimUser user_;
  HostSimRepository repo_;
  TempDir work_;
  std::string install_ = work_ / "install";
  std::chrono::steady_clock::duration took_{};
};

// The greeting never ends: the location fails with the reply limit's error, nothing is sent.
TEST_F(ArdmoorHostileFtp, EndlessGreetingFailsTheLocationWithFlatMemory) {
  SKELDER_REQUIRE(CanBind(kEndlessGreeting, 21) && CanBind(kGreetingBaseline, 21), "cannot bind port 21 (needs root)");
  const long normal = NormalPeakKb(kGreetingBaseline);
  MiniFtp hostile;
  hostile.hostileAt = [](const std::string& line, int) { return line.empty(); };
  hostile.unit = "220-Welcome, and welcome again\r\n";
  FaultServer server({FaultScript().Custom(hostile.Step())}, kEndlessGreeting, 21);
  const ChildResult run = Deploy(kEndlessGreeting);
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("Outcome: failed"), std::string::npos) << run.output;
  EXPECT_LT(took_, 20s);
  EXPECT_LT(run.peakRssKb, normal + 32 * 1024) << "normal run: " << normal << " KiB";
  EXPECT_NE(Log().find(std::string("\r\n   Reply too long: the server at ") + kEndlessGreeting +
                       ":21 sent more than 10000 lines or 1048576 bytes without ending its reply.\r\n"),
            std::string::npos)
      << Log();
  EXPECT_EQ(hostile.StoredCount(), 0u);
}

// In the middle of the run the server stops answering with replies: blank lines for ever, or
// one reply that never ends. The file at hand fails, and the record, stored over a fresh
// session, holds the file sent before.
TEST_F(ArdmoorHostileFtp, HostileReplyInMidRunKeepsTheFilesSentBefore) {
  struct Case {
    const char* host;
    std::string unit;
    std::chrono::milliseconds pause;
    std::string error;
  };
  const std::vector<Case> cases = {
      {kHostileMidRunBlankLines, "\r\n", 20ms, "Read Timeout"},
      {kHostileMidRunEndlessReply, "250-still changing directory\r\n", 0ms,
       std::string("Reply too long: the server at ") + kHostileMidRunEndlessReply +
           ":21 sent more than 10000 lines or 1048576 bytes without ending its reply."},
  };
  SKELDER_REQUIRE(
      CanBind(kHostileMidRunBlankLines, 21) && CanBind(kHostileMidRunEndlessReply, 21) && CanBind(kMidRunBaseline, 21),
      "cannot bind port 21 (needs root)");
  const long normal = NormalPeakKb(kMidRunBaseline);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    // First session: a.htm goes through, then the change of directory before b.htm meets the
    // fault. Second session: the record.
    MiniFtp first;
    first.hostileAt = [](const std::string& line, int uploads) { return uploads == 1 && line.rfind("CWD", 0) == 0; };
    first.unit = c.unit;
    first.pause = c.pause;
    MiniFtp second;
    FaultServer server({FaultScript().Custom(first.Step()), FaultScript().Custom(second.Step())}, c.host, 21);
    const ChildResult run = Deploy(c.host);
    ASSERT_FALSE(run.timedOut) << run.output;
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_LT(took_, std::chrono::milliseconds(10 * kLimitMs));
    EXPECT_LT(run.peakRssKb, normal + 32 * 1024) << "normal run: " << normal << " KiB";
    EXPECT_NE(Log().find("\r\n   /a.htm\r\n   /b.htm - Error Code: " + c.error + "\r\n"), std::string::npos) << Log();
    EXPECT_EQ(first.Stored("a.htm"), "alpha");
    EXPECT_EQ(second.Stored("XRDeploy.dat"), Entry("a.htm"));
  }
}

}  // namespace
}  // namespace skelder::test
