// The FTP trace of real deployments through the exports, against pyftpdlib on port 21 of
// loopback addresses: in active and in passive mode it holds every command the server's own log
// holds, in order, the data connections with their mode, addresses and byte counts, and the
// password nowhere; another run appends to it; a trace file that cannot be opened costs one log
// line and nothing else; without SKELDER_FTP_TRACE no file appears; the file is closed when the
// add-in is unloaded; `ardmoor deploy --trace`.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "deploy_fixture.h"
#include "loopback.h"
#include "platform/callconv.h"
#include "platform/dynlib.h"

namespace skelder::test {
namespace {

using namespace loopback;

namespace fs = std::filesystem;

constexpr char kTraceVariable[] = "SKELDER_FTP_TRACE";
constexpr char kSecret[] = "Tr4ce-never-holds-this";

class DeployFtpTrace : public DeployTest {
 protected:
  FtpServer* Start(const std::string& host) {
    FtpServerOptions options;
    options.user = "deployer";
    options.password = kSecret;
    options.anonymous = false;
    FtpServer* server = StartServer(FtpServerKind::kPyFtpd, host, options);
    if (server) MakeDirs(server->root() + "/base");
    return server;
  }
  void SmallSite() {
    repo_.File("a.htm", "alpha", kTime1)
        .File("b.htm", std::string(70000, 'b'), kTime1)
        .File("sub/d.htm", "delta", kTime1);
  }
  std::string Location(const std::string& host, const std::string& base = "/base") const {
    return std::string("ftp://deployer:") + kSecret + "@" + host + base;
  }
  int DeployTraced() { return Deploy("", "yes,virtual-clock", {{kTraceVariable, trace_}}); }

  // The texts of the trace's lines of one kind ('>' sent, '<' received, '*' the rest).
  std::vector<std::string> Events(char kind) const {
    std::vector<std::string> out;
    const std::string marker = std::string("] ") + kind + " ";
    for (const auto& line : SplitLines(ReadFile(trace_))) {
      const size_t at = line.find(marker);
      if (at != std::string::npos) out.push_back(line.substr(at + marker.size()));
    }
    return out;
  }

  std::string trace_ = work_ / "ftp.trace";
};

// Active mode by default, passive with FtpPassive=1: each with its own server.
TEST_F(DeployFtpTrace, ADeploymentsTraceHoldsEveryCommandTheServerLoggedAndNoPassword) {
  for (const bool passive : {false, true}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    const std::string host = passive ? kTracePassive : kTraceActive;
    FtpServer* server = Start(host);
    SKELDER_REQUIRE(server, Why());
    SmallSite();
    repo_.Notes("", "[Web Folder]\r\nDeployTo=" + Location(host) + (passive ? "\r\nFtpPassive=1\r\n" : "\r\n"));
    if (fs::exists(trace_)) fs::remove(trace_);

    ASSERT_EQ(DeployTraced(), kSucceeded) << LogText();
    const std::string text = ReadFile(trace_);
    EXPECT_EQ(text.find(kSecret), std::string::npos) << text;
    EXPECT_EQ(LogText().find("] > "), std::string::npos) << "the trace never goes to the log";
    // The server logs "PASS ****" as well.
    EXPECT_EQ(Events('>'), server->Commands()) << text;
    const std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[1\] [<>*] .*)");
    for (const auto& line : SplitLines(text)) EXPECT_TRUE(std::regex_match(line, shape)) << line;

    const std::vector<std::string> notes = Events('*');
    ASSERT_GE(notes.size(), 3u) << text;
    EXPECT_EQ(notes.front(), "Connecting to " + host + ":21");
    EXPECT_EQ(notes[1].rfind("Connected: local 127.", 0), 0u) << notes[1];
    EXPECT_EQ(notes.back(), "Disconnected");
    // One data connection per upload, in the location's mode, with the bytes of each file and
    // of the record.
    const std::regex opened(
        "Data connection opened \\((active|passive), upload\\): local 127\\.[0-9.]+:[0-9]+, server " +
        std::string(host) + ":[0-9]+");
    const std::regex closed("Data connection closed: ([0-9]+) bytes sent, complete");
    size_t uploads = 0;
    std::vector<uint64_t> sent;
    std::smatch m;
    for (const auto& note : notes) {
      if (std::regex_match(note, m, opened)) {
        ++uploads;
        EXPECT_EQ(m[1], passive ? "passive" : "active") << note;
      }
      if (std::regex_match(note, m, closed)) sent.push_back(std::stoull(m[1]));
    }
    std::sort(sent.begin(), sent.end());
    std::vector<uint64_t> sizes = {5, 5, 70000, fs::file_size(server->root() + "/base/XRDeploy.dat")};
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(uploads, 4u) << text;
    EXPECT_EQ(sent, sizes) << text;

    // The next run appends: the first run's trace stays as it was.
    ASSERT_EQ(DeployTraced(), kSucceeded) << LogText();
    const std::string both = ReadFile(trace_);
    EXPECT_EQ(both.substr(0, text.size()), text);
    EXPECT_GT(both.size(), text.size());
    server_.reset();
  }
}

// Four sessions at once, each on a thread of its own: no line torn or mixed, a number per
// session, and every command the server logged, each session's in its own order.
TEST_F(DeployFtpTrace, SessionsAtOnceWriteWholeLinesEachUnderItsNumber) {
  FtpServer* server = Start(kTraceParallel);
  SKELDER_REQUIRE(server, Why());
  for (int i = 0; i < 24; ++i) repo_.File("f" + std::to_string(i) + ".htm", std::string(2000 + i, 'x'), kTime1);
  // Passive: pyftpdlib's one thread loses an active data connection now and then when several
  // sessions make them at once.
  repo_.Notes("", "[Web Folder]\r\nDeployTo=" + Location(kTraceParallel) + "\r\nFtpConnections=4\r\nFtpPassive=1\r\n");
  ASSERT_EQ(DeployTraced(), kSucceeded) << LogText();
  const std::string text = ReadFile(trace_);
  EXPECT_EQ(text.find(kSecret), std::string::npos);
  const std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[(\d+)\] ([<>*]) (.*))");
  std::map<std::string, std::vector<std::string>> sent;  // by session
  std::vector<std::string> all;
  std::smatch m;
  for (const auto& line : SplitLines(text)) {
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
    if (m[2] == ">") {
      sent[m[1]].push_back(m[3]);
      all.push_back(m[3]);
    }
  }
  EXPECT_EQ(sent.size(), 4u) << text;
  for (const auto& [session, commands] : sent) {
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0], "USER deployer") << session;
    EXPECT_EQ(commands[1], "PASS ****") << session;
  }
  std::vector<std::string> logged = server->Commands();
  std::sort(all.begin(), all.end());
  std::sort(logged.begin(), logged.end());
  EXPECT_EQ(all, logged);
}

TEST_F(DeployFtpTrace, AFileThatCannotBeOpenedCostsOneLogLine) {
  SKELDER_REQUIRE(Start(kTraceNotOpened), Why());
  MakeDirs(server_->root() + "/base2");
  SmallSite();
  Locations(Location(kTraceNotOpened) + "," + Location(kTraceNotOpened, "/base2"));
  const std::string missing = work_ / "no-such-folder/ftp.trace";
  ASSERT_EQ(Deploy("", "yes,virtual-clock", {{kTraceVariable, missing}}), kSucceeded) << LogText();
  const std::vector<std::string> shown = {"   /a.htm", "   /b.htm", "   sub/d.htm"};
  const std::string problem = "   The FTP trace file '" + missing +
                              "' cannot be opened (No such file or directory): the deployment goes on without a trace";
  EXPECT_EQ(Log(), Concat({kFetchHeading,
                           shown,
                           Heading(std::string(kTraceNotOpened) + "/base"),
                           {problem},
                           shown,
                           Heading(std::string(kTraceNotOpened) + "/base2"),
                           shown}));
  EXPECT_FALSE(fs::exists(work_ / "no-such-folder"));
}

TEST_F(DeployFtpTrace, WithoutTheVariableNoFileAppears) {
  SKELDER_REQUIRE(Start(kTraceUnset), Why());
  SmallSite();
  Locations(Location(kTraceUnset));
  ScopedEnv unset(kTraceVariable, std::nullopt);
  ASSERT_EQ(Deploy(""), kSucceeded) << LogText();  // script and transcript now exist
  const std::vector<std::string> before = ListFiles(work_.path());
  const std::vector<std::string> binBefore = ListFiles(BinDir());
  repo_.File("a.htm", "alpha 2", kTime2);
  ASSERT_EQ(Deploy(""), kSucceeded) << LogText();
  EXPECT_EQ(ListFiles(work_.path()), before);
  EXPECT_EQ(ListFiles(BinDir()), binBefore);
}

// A host that unloads the add-in and loads it again must not keep a trace file open per load.
TEST_F(DeployFtpTrace, UnloadingTheAddinClosesTheTraceFile) {
  SKELDER_REQUIRE(Start(kTraceUnload), Why());
  SmallSite();
  Locations(Location(kTraceUnload));
  ScopedEnv variable(kTraceVariable, trace_);
  const std::string lib = InstalledAddin();
  const std::string folder = std::to_string(repo_.FolderId(""));
  const std::string options = "yes,virtual-clock,transcript=" + (work_ / "transcript");
  const std::string trace = fs::canonical(work_.path()).string() + "/ftp.trace";
  auto openCount = [&trace] {
    int count = 0;
    std::error_code error;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd", error))
      count += fs::read_symlink(fd.path(), error) == trace;
    return count;
  };
  const ChildResult result = RunInChild([&]() -> int {
    using Text2 = uint8_t(SKELDER_STDCALL*)(const char*, const char*);
    {
      platform::DynamicLibrary addin(lib);
      auto configure = addin.Function<Text2>("SkelderConfigureToolkit");
      auto handle = addin.Function<Text2>("VcsHandleCommand");
      if (!configure || !handle || configure("scripted", options.c_str()) != 1) return 1;
      if (handle("Deploy", folder.c_str()) != 1) return 2;
      if (openCount() != 1) return 3;  // open while the add-in is loaded
    }
    return openCount() == 0 ? 0 : 4;
  });
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_FALSE(ReadFile(trace_).empty());
}

TEST_F(DeployFtpTrace, ArdmoorDeployTraceTurnsItOn) {
  FtpServer* server = Start(kTraceArdmoor);
  SKELDER_REQUIRE(server, Why());
  SmallSite();
  Locations(Location(kTraceArdmoor));
  ScopedEnv unset(kTraceVariable, std::nullopt);
  std::string output;
  const std::string command = "'" + BinDir() + "/ardmoor' --repository '" + repo_.Root() + "' deploy '" + repo_.Root() +
                              "' --addin '" + InstalledAddin() + "' --yes --trace '" + trace_ + "' </dev/null 2>&1";
  ASSERT_EQ(RunCommand(command, &output), 0) << output;
  EXPECT_EQ(Events('>'), server->Commands()) << output;
  EXPECT_EQ(ReadFile(trace_).find(kSecret), std::string::npos);
  EXPECT_EQ(output.find(kSecret), std::string::npos) << output;
  EXPECT_EQ(RunCommand("'" + BinDir() + "/ardmoor' --repository '" + repo_.Root() + "' deploy '" + repo_.Root() +
                           "' --trace '' </dev/null 2>&1",
                       &output),
            64);
  EXPECT_NE(output.find("--trace needs a file name"), std::string::npos) << output;
}

}  // namespace
}  // namespace skelder::test
