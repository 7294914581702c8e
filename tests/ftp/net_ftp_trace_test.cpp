// The FTP trace: what a session writes into it against the scripted fault server (commands with
// the password masked, however the log-in sends it; reply lines, an overlong one cut; connect and
// disconnect), and the writer itself: lines of many threads written whole, time stamps, appending.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "fault_server.h"
#include "ftp/net_ftp.h"
#include "ftp/net_ftp_trace.h"
#include "test_support.h"

using namespace skelder::ftp;
using namespace skelder::test;

namespace {

constexpr char kHost[] = "127.0.0.70";

// The trace on for one test, into a file of its own; off again afterwards.
class TraceFile {
 public:
  TraceFile() {
    std::string problem;
    EXPECT_TRUE(Trace().Open(path_, problem)) << problem;
  }
  ~TraceFile() { Trace().Close(); }
  std::string Text() const { return ReadFile(path_); }
  std::vector<std::string> Lines() const { return SplitLines(Text()); }
  // The lines' texts after the time stamp and session: "> USER bob", "< 331 ...", "* ...".
  std::vector<std::string> Events() const {
    std::vector<std::string> out;
    for (const auto& line : Lines()) out.push_back(line.substr(line.find("] ") + 2));
    return out;
  }
  const std::string& path() const { return path_; }

 private:
  TempDir dir_;
  std::string path_ = dir_ / "ftp.trace";
};

const std::regex kLineShape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] [<>*] .*)");

TEST(FtpTraceText, PasswordsAreMaskedWhateverTheCommandLooksLike) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"PASS s3cret", "PASS ****"},
      {"pass s3cret", "pass ****"},
      {"PASS user-pw@proxy-pw", "PASS ****"},  // the proxy log-in's pair
      {"PASS ", "PASS ****"},
      {"PASS", "PASS ****"},
      {"PASV", "PASV"},
      {"PASSWORD x", "PASSWORD x"},  // not the command
      {"USER bob", "USER bob"},
      {"CWD /PASS x", "CWD /PASS x"},
  };
  for (const auto& [command, shown] : cases) EXPECT_EQ(MaskedCommand(command), shown) << command;
}

TEST(FtpTraceText, ControlBytesAreEscapedAndLongLinesCutWithAMark) {
  EXPECT_EQ(TraceLineText("a\rb\nc\td\\e\x01\x7f"), "a\\rb\\nc\\td\\\\e\\x01\\x7F");
  EXPECT_EQ(TraceLineText(std::string(kMaxTraceLineBytes, 'x')), std::string(kMaxTraceLineBytes, 'x'));
  const std::string cut = TraceLineText(std::string(kMaxTraceLineBytes + 1, 'x'));
  EXPECT_EQ(cut, std::string(kMaxTraceLineBytes, 'x') + " [... cut: 4097 bytes in all]");
  // An escape is never split by the cut.
  const std::string escaped = TraceLineText(std::string(kMaxTraceLineBytes - 1, 'x') + "\x01");
  EXPECT_EQ(escaped, std::string(kMaxTraceLineBytes - 1, 'x') + " [... cut: 4096 bytes in all]");
  // A server's message of several lines, as errors carry it.
  EXPECT_EQ(TraceMessage("Login incorrect.\r\nBye\r\n"), "Login incorrect. | Bye");
  EXPECT_EQ(TraceMessage("Read Timeout"), "Read Timeout");
}

TEST(FtpTraceText, TimeStampsAreUtcWithMilliseconds) {
  const std::vector<std::pair<int64_t, std::string>> cases = {
      {0, "1970-01-01 00:00:00.000"},
      {951782400123, "2000-02-29 00:00:00.123"},  // a leap day
      {1700000000999, "2023-11-14 22:13:20.999"},
      {4102444799999, "2099-12-31 23:59:59.999"},
      {-1, "1969-12-31 23:59:59.999"},
  };
  for (const auto& [ms, text] : cases) EXPECT_EQ(TraceTimeStamp(ms), text) << ms;
}

TEST(FtpTraceWriter, LinesOfManyThreadsAreWrittenWholeAndAppended) {
  TraceFile trace;
  Trace().Note(0, "before");
  constexpr int kThreads = 8, kLines = 400;
  std::vector<std::thread> threads;
  for (int t = 1; t <= kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) Trace().Note(t, "line " + std::to_string(i) + " " + std::string(300, 'a' + t));
    });
  for (auto& thread : threads) thread.join();
  const std::vector<std::string> lines = trace.Lines();
  ASSERT_EQ(lines.size(), 1u + kThreads * kLines);
  std::vector<int> next(kThreads + 1, 0);
  for (const auto& line : lines) {
    ASSERT_TRUE(std::regex_match(line, kLineShape)) << line;
    const int session = std::stoi(line.substr(25));
    if (session == 0) continue;
    // Each thread's lines in its own order, none torn.
    const std::string expected = "] * line " + std::to_string(next[session]++) + " " + std::string(300, 'a' + session);
    EXPECT_EQ(line.substr(line.size() - std::min(line.size(), expected.size())), expected);
  }
  // Opened again (another run): appended, never truncated.
  Trace().Close();
  std::string problem;
  ASSERT_TRUE(Trace().Open(trace.path(), problem));
  Trace().Note(99, "after");
  EXPECT_EQ(trace.Lines().size(), 2u + kThreads * kLines);
  EXPECT_NE(trace.Lines().front().find("* before"), std::string::npos);
}

TEST(FtpTraceWriter, AFileThatCannotBeOpenedLeavesTheTraceOff) {
  TempDir dir;
  std::string problem;
  EXPECT_FALSE(Trace().Open(dir / "no/such/folder/ftp.trace", problem));
  EXPECT_FALSE(problem.empty());
  EXPECT_FALSE(Trace().Enabled());
  EXPECT_FALSE(Trace().Open("", problem));
  Trace().Note(1, "nowhere");  // nothing to write to, nothing fails
}

FaultScript& Reply(FaultScript& s, const std::string& expected, const std::string& reply) {
  return s.ExpectLine(expected).Send(reply + "\r\n");
}

// The proxy log-in that sends both passwords in one PASS, a multi-line greeting, a reply line far
// longer than a trace line, a server that quotes the passwords back, and one that closes the
// connection.
TEST(FtpTraceSession, TheConversationWithEveryPasswordMasked) {
  const std::string longText(6000, 'L');
  FaultScript s;
  s.Send("220-Welcome\r\n220 ready\r\n");
  Reply(s, "USER u-name@proxy-user@ftp.example", "331 both passwords");
  Reply(s, "PASS user-s3cret@proxy-s3cret", "230-in with user-s3cret\r\nproxy-s3cret\r\n230 in");
  Reply(s, "TYPE I", "200 binary");
  Reply(s, "SYST", "215 " + longText);
  Reply(s, "CWD /x", "421 going away, user-s3cret").Close();
  FaultServer server({s}, kHost);
  TraceFile trace;
  {
    TNetFTP ftp;
    ftp.SetHost("ftp.example");
    ftp.SetPortNumber(21);
    ftp.Username = "u-name";
    ftp.Password = "user-s3cret";
    ftp.ReadTimeout = 5000;
    TNetFtpProxySettings proxy;
    proxy.Host = kHost;
    proxy.Port = server.port();
    proxy.ProxyType = fpcmUserPass;
    proxy.UserName = "proxy-user";
    proxy.Password = "proxy-s3cret";
    ftp.SetProxySettings(proxy);
    ftp.OpenSession(true, -1);
    EXPECT_GT(ftp.TraceSession(), 0);
    try {
      ftp.ChangeDirectory("/x");
      ADD_FAILURE() << "no refusal";
    } catch (const ENetProtocolReplyError& e) {
      // What reaches an error message, the log and the screen.
      EXPECT_EQ(std::string(e.what()), "going away, ****\r\n");
      EXPECT_EQ(e.ReplyErrorCode, 421);
    }
    EXPECT_THROW(ftp.AwaitReply({}), skelder::net::ENetException);  // the server closed
    ftp.CloseConnection();
  }
  EXPECT_TRUE(server.Failures().empty()) << ::testing::PrintToString(server.Failures());
  const std::string text = trace.Text();
  EXPECT_EQ(text.find("s3cret"), std::string::npos) << text;
  const std::string connected = "* Connected: local 127.";
  std::vector<std::string> events = trace.Events();
  ASSERT_EQ(events.size(), 17u) << text;
  EXPECT_EQ(events[0], "* Connecting to ftp.example:21 through the FTP proxy " + std::string(kHost) + ":" +
                           std::to_string(server.port()));
  EXPECT_EQ(events[1].rfind(connected, 0), 0u) << events[1];
  EXPECT_NE(events[1].find(", server " + std::string(kHost) + ":" + std::to_string(server.port())), std::string::npos);
  const std::vector<std::string> conversation(events.begin() + 2, events.end());
  EXPECT_EQ(conversation, (std::vector<std::string>{
                              "< 220-Welcome",
                              "< 220 ready",
                              "> USER u-name@proxy-user@ftp.example",
                              "< 331 both passwords",
                              "> PASS ****",
                              "< 230-in with ****",
                              "< ****",
                              "< 230 in",
                              "> TYPE I",
                              "< 200 binary",
                              "> SYST",
                              "< 215 " + longText.substr(0, kMaxTraceLineBytes - 4) + " [... cut: 6004 bytes in all]",
                              "> CWD /x",
                              "< 421 going away, ****",
                              "* The server closed the connection",
                          }))
      << text;
  for (const auto& line : trace.Lines()) EXPECT_TRUE(std::regex_match(line, kLineShape)) << line;
}

TEST(FtpTraceSession, EverySessionHasANumberOfItsOwnAndClosingIsTraced) {
  auto script = [] {
    FaultScript s;
    s.Send("220 ready\r\n");
    Reply(s, "USER u", "230 in");
    Reply(s, "TYPE I", "200 binary");
    Reply(s, "SYST", "215 UNIX").Stall();
    return s;
  };
  FaultServer server({script(), script()}, kHost);
  TraceFile trace;
  TNetFTP first, second;
  // One after the other: the server plays its scripts in turn.
  for (TNetFTP* ftp : {&first, &second}) {
    ftp->SetHost(kHost);
    ftp->SetPortNumber(server.port());
    ftp->Username = "u";
    ftp->ReadTimeout = 5000;
    ftp->OpenSession(true, -1);
    ftp->CloseConnection();
  }
  EXPECT_NE(first.TraceSession(), second.TraceSession());
  first.CloseConnection();  // nothing left to close: no second line
  const std::string tag = "[" + std::to_string(first.TraceSession()) + "] ";
  std::vector<std::string> own;
  for (const auto& line : trace.Lines())
    if (line.find(tag) != std::string::npos) own.push_back(line.substr(line.find(tag) + tag.size()));
  ASSERT_EQ(own.size(), 10u) << trace.Text();
  EXPECT_EQ(own.back(), "* Disconnected");
}

}  // namespace
