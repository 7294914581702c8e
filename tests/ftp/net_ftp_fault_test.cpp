// The FTP session against the scripted fault server, for replies and failures real servers do
// not give on demand: odd greetings and log-in answers, every proxy log-in sequence, PASV
// replies good and bad, refused transfers, aborted and broken transfers, and a server that
// never connects back in active mode.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "counting_toolkit.h"
#include "fault_server.h"
#include "ftp/net_ftp.h"
#include "net/net_anti_freeze.h"
#include "test_support.h"

using namespace skelder::ftp;
using namespace skelder::test;
using namespace std::chrono_literals;

namespace {

FaultScript& Reply(FaultScript& s, const std::string& expected, const std::string& reply) {
  return s.ExpectLine(expected).Send(reply + "\r\n");
}

// Greeting and the default log-in of user "u" with password "p".
FaultScript LoggedIn(const std::string& syst = "215 UNIX Type: L8") {
  FaultScript s;
  s.Send("220 ready\r\n");
  Reply(s, "USER u", "331 password please");
  Reply(s, "PASS p", "230 logged in");
  Reply(s, "TYPE I", "200 binary");
  Reply(s, "SYST", syst);
  return s;
}

void Configure(TNetFTP& ftp, const FaultServer& server) {
  ftp.SetHost(server.host());
  ftp.SetPortNumber(server.port());
  ftp.Username = "u";
  ftp.Password = "p";
  ftp.ReadTimeout = 5000;
  ftp.DataReadTimeout = 5000;
  ftp.AcceptTimeout = 5000;
}

// Status texts the session reported, in order.
struct StatusLog {
  std::vector<std::string> texts;
  void Attach(TNetFTP& ftp) {
    ftp.OnStatus = [this](skelder::net::TNetComponent*, skelder::net::TNetStatus, const std::string& text) {
      texts.push_back(text);
    };
  }
  bool Has(const std::string& text) const {
    for (const auto& t : texts) {
      if (t == text) return true;
    }
    return false;
  }
};

// "227 ... (127,0,0,1,p1,p2)" for a listener on loopback.
std::string PasvReply(uint16_t port) {
  return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256) + ").";
}

bool CanConnect(uint16_t port) {
  const TestSocket fd = OpenTcpSocket();
  const bool ok = ConnectSocket(fd, "127.0.0.1", port);
  CloseSocket(fd);
  return ok;
}

uint16_t PortOfLine(const std::string& line) {
  unsigned h1, h2, h3, h4, p1, p2;
  if (std::sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2) != 6) return 0;
  return static_cast<uint16_t>(p1 * 256 + p2);
}

// Runs `action`, which must fail with a reply error of this code (and, when given, text).
template <typename Action>
void ExpectReplyError(Action action, int32_t code, const char* text = nullptr) {
  try {
    action();
    ADD_FAILURE() << "no error; expected reply " << code;
  } catch (const ENetProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyErrorCode, code);
    if (text) {
      EXPECT_STREQ(e.what(), text);
    }
  }
}

// --- greeting, log-in, SYST -------------------------------------------------------------

TEST(FtpFaultSession, GreetingOtherThan220FailsAndCloses) {
  FaultServer server({FaultScript().Send("421 Too many users\r\n").Stall()});
  TNetFTP ftp;
  Configure(ftp, server);
  ExpectReplyError([&] { ftp.OpenSession(true, -1); }, 421, "Too many users\r\n");
  EXPECT_FALSE(ftp.IsConnected());
  EXPECT_TRUE(server.ReceivedLines().empty());
}

TEST(FtpFaultSession, UserAnsweredWith230GetsNoPass) {
  FaultScript s;
  s.Send("220-Welcome\r\n220 ready\r\n");
  Reply(s, "USER u", "230 no password needed");
  Reply(s, "TYPE I", "200 ok");
  Reply(s, "SYST", "215 UNIX Type: L8").Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  bool afterLogin = false;
  ftp.OnAfterClientLogin = [&](skelder::net::TNetComponent*) { afterLogin = true; };
  ftp.OpenSession(true, -1);
  EXPECT_TRUE(afterLogin);
  EXPECT_EQ(ftp.Greeting.Text, (std::vector<std::string>{"Welcome", "ready"}));
  EXPECT_EQ(ftp.LoginMsg().NumericCode(), 230);
  EXPECT_EQ(server.ReceivedLines(), (std::vector<std::string>{"USER u", "TYPE I", "SYST"}));
  EXPECT_TRUE(server.Failures().empty());
}

TEST(FtpFaultSession, RejectedPasswordCarriesTheServersText) {
  FaultScript s;
  s.Send("220 ready\r\n");
  Reply(s, "USER u", "331 pw");
  Reply(s, "PASS p", "530-Login incorrect.\r\n530 Bye").Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  ExpectReplyError([&] { ftp.OpenSession(true, -1); }, 530, "Login incorrect.\r\nBye\r\n");
  EXPECT_FALSE(ftp.IsConnected());
}

TEST(FtpFaultSession, Syst500IsUnknownAnd502FailsTheOpening) {
  {
    FaultServer server({LoggedIn("500 SYST not understood").Stall()});
    TNetFTP ftp;
    Configure(ftp, server);
    StatusLog status;
    status.Attach(ftp);
    ftp.OpenSession(true, -1);
    EXPECT_EQ(ftp.SystemDesc(), "Unknown");
    EXPECT_TRUE(status.Has("Connection established"));
  }
  {
    FaultServer server({LoggedIn("502 Command not implemented").Stall()});
    TNetFTP ftp;
    Configure(ftp, server);
    EXPECT_THROW(ftp.OpenSession(true, -1), ENetProtocolReplyError);
    EXPECT_FALSE(ftp.IsConnected());
  }
}

// --- proxies ----------------------------------------------------------------------------

struct ProxyCase {
  TNetFtpProxyType type;
  std::string proxyUser;
  std::string proxyPassword;
  std::vector<std::pair<std::string, std::string>> exchange;  // line expected, reply sent
};

TEST(FtpFaultSession, EveryProxyLogInSequence) {
  const std::string site = "ftp.example.invalid";  // never resolved: the proxy is dialled
  const std::vector<ProxyCase> cases = {
      {fpcmNone, "pu", "pp", {{"USER u", "331 pw"}, {"PASS p", "230 ok"}}},
      {fpcmUserSite,
       "pu",
       "pp",
       {{"USER pu", "331 pw"}, {"PASS pp", "230 ok"}, {"USER u@" + site, "331 pw"}, {"PASS p", "230 ok"}}},
      {fpcmUserSite, "", "", {{"USER u@" + site, "230 ok"}}},
      {fpcmSite,
       "pu",
       "pp",
       {{"USER pu", "230 ok"}, {"SITE " + site, "500 whatever"}, {"USER u", "331 pw"}, {"PASS p", "230 ok"}}},
      {fpcmOpen, "", "", {{"OPEN " + site, "220 opened"}, {"USER u", "331 pw"}, {"PASS p", "230 ok"}}},
      {fpcmUserPass, "pu", "pp", {{"USER u@pu@" + site, "331 pw"}, {"PASS p@pp", "230 ok"}}},
      {fpcmUserPass, "pu", "", {{"USER u@pu@" + site, "331 pw"}, {"PASS p", "230 ok"}}},
      {fpcmTransparent,
       "pu",
       "pp",
       {{"USER pu", "331 pw"}, {"PASS pp", "230 ok"}, {"USER u", "331 pw"}, {"PASS p", "230 ok"}}},
  };
  for (const ProxyCase& c : cases) {
    SCOPED_TRACE("proxy type " + std::to_string(c.type) + " user '" + c.proxyUser + "'");
    FaultScript s;
    s.Send("220 proxy ready\r\n");
    for (const auto& [line, reply] : c.exchange) Reply(s, line, reply);
    s.Stall();
    FaultServer server({s});
    TNetFTP ftp;
    Configure(ftp, server);
    ftp.SetHost(site);
    ftp.SetPortNumber(2121);
    TNetFtpProxySettings proxy;
    proxy.ProxyType = c.type;
    proxy.Host = c.type == fpcmNone ? "" : server.host();
    proxy.Port = server.port();
    proxy.UserName = c.proxyUser;
    proxy.Password = c.proxyPassword;
    ftp.SetProxySettings(proxy);
    if (c.type == fpcmNone) {
      ftp.SetHost(server.host());
      ftp.SetPortNumber(server.port());
    }
    ftp.OpenSession(false, -1);
    EXPECT_EQ(ftp.Host(), c.type == fpcmNone ? server.host() : site) << "the session's host is restored";
    ftp.LogIn();
    EXPECT_EQ(ftp.LoginMsg().NumericCode(), 230);
    std::vector<std::string> expected;
    for (const auto& e : c.exchange) expected.push_back(e.first);
    EXPECT_EQ(server.ReceivedLines(), expected);
    EXPECT_TRUE(server.Failures().empty());
  }
}

TEST(FtpFaultSession, ProxyTypeWithoutProxyHostDialsTheServerAndStillUsesTheSequence) {
  FaultScript s;
  s.Send("220 ready\r\n");
  Reply(s, "USER u@127.0.0.1", "331 pw");
  Reply(s, "PASS p", "230 ok").Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.ProxySettings().ProxyType = fpcmUserSite;
  ftp.OpenSession(false, -1);
  ftp.LogIn();
  EXPECT_TRUE(server.Failures().empty());
}

TEST(FtpFaultSession, HttpProxyIsNotSupported) {
  FaultServer server({FaultScript().Send("220 ready\r\n").Stall()});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.ProxySettings().ProxyType = fpcmHttpProxyWithFtp;
  ftp.ProxySettings().Host = server.host();
  ftp.ProxySettings().Port = server.port();
  try {
    ftp.OpenSession(true, -1);
    FAIL() << "opened";
  } catch (const ENetProtocolReplyError&) {
    FAIL() << "wrong error";
  } catch (const skelder::net::ENetException& e) {
    EXPECT_STREQ(e.what(), "Command not supported.");
  }
  EXPECT_FALSE(ftp.IsConnected());
  EXPECT_TRUE(server.ReceivedLines().empty());
}

// --- session commands -------------------------------------------------------------------

TEST(FtpFaultSession, TransferTypeResumeProbeAndRawCommands) {
  FaultScript s = LoggedIn();
  Reply(s, "TYPE A", "200 ascii");
  Reply(s, "REST 1", "350 restarting");
  Reply(s, "REST 0", "350 restarting");
  Reply(s, "NOOP", "599 odd");
  Reply(s, "CWD x", "550 no");
  Reply(s, "MKD y", "257 \"y\" created").Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.SetTransferType(ftBinary);  // before connecting: nothing to send
  ftp.OpenSession(true, -1);
  ftp.SetTransferType(ftBinary);
  ftp.SetTransferType(ftASCII);
  ftp.SetTransferType(ftASCII);
  EXPECT_TRUE(ftp.ProbeResume());
  EXPECT_TRUE(ftp.ProbeResume());
  EXPECT_EQ(ftp.SendRaw("NOOP"), 599);
  EXPECT_THROW(ftp.ChangeDirectory("x"), ENetProtocolReplyError);
  ftp.MakeDirectory("y");
  EXPECT_TRUE(server.WaitForLines(10, 2s));
  EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
  EXPECT_EQ(server.ReceivedLines().size(), 10u);
}

// --- passive mode -----------------------------------------------------------------------

TEST(FtpFaultPassive, ReplyWithAndWithoutParenthesesAndStouWithItsBlank) {
  FaultServer data({FaultScript().ReadUntilClose(), FaultScript().Send("payload").Close()});
  FaultScript s = LoggedIn();
  Reply(s, "PASV", PasvReply(data.port()));
  s.ExpectLine("STOU ").Send("150 go\r\n226 stored\r\n");
  Reply(s, "PASV",
        "227 Entering Passive Mode 127,0,0,1," + std::to_string(data.port() / 256) + "," +
            std::to_string(data.port() % 256));
  Reply(s, "RETR f", "150 here\r\n226 sent").Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.Passive = true;
  ftp.OpenSession(true, -1);
  TNetMemoryStream up(std::string("unique"));
  up.SetPosition(3);  // STOU sends from the beginning
  ftp.Upload(up, "", false);
  TNetMemoryStream down(std::string("an older, longer content"));
  ftp.Download("f", down, false);
  EXPECT_EQ(down.Data(), "payload");
  ASSERT_TRUE(data.WaitDone(2s));
  EXPECT_EQ(data.ReceivedData(0), "unique");
  EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

// A server behind NAT names its private address in the PASV reply, and a hostile one could name
// any: the data connection goes to the control connection's peer, on the port the reply names.
TEST(FtpFaultPassive, DataConnectionGoesToTheControlPeerWhateverTheReplyNames) {
  FaultServer data({FaultScript().Send("payload").Close()});
  FaultScript s = LoggedIn();
  Reply(s, "PASV",
        "227 Entering Passive Mode (10,9,8,7," + std::to_string(data.port() / 256) + "," +
            std::to_string(data.port() % 256) + ").");
  Reply(s, "RETR f", "150 here\r\n226 sent").Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.Passive = true;
  ftp.OpenSession(true, -1);
  TNetMemoryStream down;
  ftp.Download("f", down, false);
  EXPECT_EQ(down.Data(), "payload");
  EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

// A server that refuses PORT (active mode off) fails the transfer, unless the session may switch
// to passive: then it does, says so once, and stays passive.
TEST(FtpFaultPassive, ARefusedPortSwitchesTheSessionToPassiveWhenAllowed) {
  FaultServer data({FaultScript().Send("one").Close(), FaultScript().Send("two").Close()});
  FaultScript s = LoggedIn();
  s.ExpectLineStartingWith("PORT ").Send("500 Illegal PORT command.\r\n");
  s.ExpectLineStartingWith("PORT ").Send("500 Illegal PORT command.\r\n");
  Reply(s, "PASV", PasvReply(data.port()));
  Reply(s, "RETR a", "150 here\r\n226 sent");
  Reply(s, "PASV", PasvReply(data.port()));
  Reply(s, "RETR b", "150 here\r\n226 sent").Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.OpenSession(true, -1);
  TNetMemoryStream down;
  EXPECT_THROW(ftp.Download("a", down, false), ENetProtocolReplyError);
  int switched = 0;
  ftp.OnSwitchedToPassive = [&switched] { ++switched; };
  ftp.PassiveOnPortRefused = true;
  TNetMemoryStream a, b;
  ftp.Download("a", a, false);
  ftp.Download("b", b, false);
  EXPECT_EQ(a.Data() + b.Data(), "onetwo");
  EXPECT_TRUE(ftp.Passive);
  EXPECT_EQ(switched, 1);
  EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

// A passive data connection that does not come up ends at the session's data-connection limit,
// the one that bounds the wait for the server's connection in active mode, before the command
// goes out: the session stays in step.
TEST(FtpFaultPassive, ADataConnectionThatHangsEndsAtTheDataConnectionLimit) {
  const HangingPort hanging;
  SKELDER_REQUIRE(hanging.Hangs(), "this kernel completes every connect to a full listen queue");
  FaultScript s = LoggedIn();
  Reply(s, "PASV", PasvReply(hanging.port()));
  Reply(s, "NOOP", "200 still in step").Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.Passive = true;
  ftp.AcceptTimeout = 300;
  ftp.OpenSession(true, -1);
  TNetMemoryStream down;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(ftp.Download("f", down, false), ENetConnectTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(ftp.DataChannel(), nullptr);
  EXPECT_EQ(ftp.SendRaw("NOOP"), 200);
  EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

TEST(FtpFaultPassive, BadPortFieldRaisesAConversionErrorAndReadsNoFinalReply) {
  FaultScript s = LoggedIn();
  Reply(s, "PASV", "227 Entering Passive Mode (127,0,0,1,x,1)");
  Reply(s, "PASV", "227 Entering Passive Mode (127,0,0,1,300,1)");
  Reply(s, "PASV", "227 Entering Passive Mode (127,0,0,1)");
  Reply(s, "PASV", "227 Entering Passive Mode (evil,host,name,x,4,1)");
  Reply(s, "NOOP", "200 still in step").Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.Passive = true;
  ftp.OpenSession(true, -1);
  StatusLog status;
  status.Attach(ftp);
  for (int i = 0; i < 4; ++i) {
    TNetMemoryStream down;
    EXPECT_THROW(ftp.Download("f", down, false), ENetConvertError);
    EXPECT_EQ(ftp.DataChannel(), nullptr);
  }
  EXPECT_EQ(status.texts.back(), "Transfer complete");
  // Nothing else was read or sent: the next command gets its own reply.
  EXPECT_EQ(ftp.SendRaw("NOOP"), 200);
  EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

TEST(FtpFaultPassive, UploadWritesTheCommandBeforeConnecting) {
  FaultServer data({FaultScript().ReadUntilClose()});
  FaultScript s = LoggedIn();
  Reply(s, "PASV", PasvReply(data.port()));
  // The reply to STOR comes only once the data connection is there.
  s.ExpectLine("STOR up.bin").Custom([&data](FaultSession& session) {
    for (int i = 0; i < 200 && data.AcceptedCount() == 0; ++i) std::this_thread::sleep_for(10ms);
    return session.Send(data.AcceptedCount() == 1 ? "150 go\r\n" : "425 no data connection\r\n");
  });
  s.Send("226 done\r\n").Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.Passive = true;
  ftp.SendBufferSize = 7;  // many chunks
  ftp.OpenSession(true, -1);
  const std::string payload(1000, 'z');
  TNetMemoryStream up(payload);
  ftp.Upload(up, "up.bin", false);
  ASSERT_TRUE(data.WaitDone(2s));
  EXPECT_EQ(data.ReceivedData(0), payload);
}

// --- active mode ------------------------------------------------------------------------

// Answers PORT, then the transfer command, and plays `data` on a connection back to the
// announced port.
FaultStep ConnectBack(const std::string& command, const std::string& reply, std::function<void(TestSocket fd)> data,
                      const std::string& final) {
  return [=](FaultSession& s) {
    auto port = s.ReadLine(5s);
    if (!port || port->rfind("PORT ", 0) != 0) return false;
    s.Send("200 PORT ok\r\n");
    auto line = s.ReadLine(5s);
    if (!line || *line != command) return false;
    s.Send(reply + "\r\n");
    TestSocket fd = ConnectToPortLine(*port);
    if (fd == kNoTestSocket) return false;
    data(fd);
    CloseSocket(fd);
    return s.Send(final);
  };
}

TEST(FtpFaultActive, RetrAnswered550LeavesTheStreamAsItWas) {
  FaultScript s = LoggedIn();
  s.ExpectLineStartingWith("PORT ").Send("200 ok\r\n");
  Reply(s, "RETR gone", "550 No such file.");
  Reply(s, "NOOP", "200 ok").Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.OpenSession(true, -1);
  StatusLog status;
  status.Attach(ftp);
  TNetMemoryStream down(std::string("keep me"));
  ExpectReplyError([&] { ftp.Download("gone", down, false); }, 550, "No such file.\r\n");
  EXPECT_EQ(down.Data(), "keep me");
  EXPECT_EQ(status.texts, (std::vector<std::string>{"Starting FTP transfer", "Transfer complete"}));
  EXPECT_EQ(ftp.SendRaw("NOOP"), 200);
}

TEST(FtpFaultActive, ExistingLocalFileRules) {
  FaultScript s = LoggedIn();
  s.Custom(ConnectBack(
      "RETR f", "150 here", [](TestSocket fd) { SendAll(fd, "new"); }, "226 ok\r\n"));
  s.Stall();
  FaultServer server({s});
  TempDir dir;
  WriteFile(dir / "f", "old and longer");
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.OpenSession(true, -1);
  // May neither overwrite nor resume, or may overwrite while resume works: refused, nothing sent.
  EXPECT_THROW(ftp.Download("f", dir / "f", false, false), ENetFTPFileAlreadyExists);
  ftp.Download("f", dir / "f", true, false);  // truncated and fetched anew, no REST
  EXPECT_EQ(ReadFile(dir / "f"), "new");
  for (const auto& line : server.ReceivedLines()) EXPECT_NE(line.rfind("REST", 0), 0u) << line;
  EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

TEST(FtpFaultActive, EmptyUploadAcceptsSendsNothingAndReadsTheFinalReply) {
  std::string received = "untouched";
  FaultScript s = LoggedIn();
  s.Custom(ConnectBack(
      "STOR empty", "150 send it",
      [&received](TestSocket fd) {
        char buf[16];
        received.clear();
        long n;
        while ((n = ReceiveSome(fd, buf, sizeof buf)) > 0) received.append(buf, static_cast<size_t>(n));
      },
      "226 stored\r\n"));
  s.Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.OpenSession(true, -1);
  TNetMemoryStream empty;
  ftp.Upload(empty, "empty", false);
  EXPECT_EQ(received, "");
  EXPECT_EQ(ftp.LastCmdResult().NumericCode(), 226);
}

TEST(FtpFaultActive, ServerThatNeverConnectsBackFailsAfterTheAcceptLimit) {
  FaultScript s = LoggedIn();
  s.ExpectLineStartingWith("PORT ").Send("200 ok\r\n");
  Reply(s, "STOR f", "150 go ahead").Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.AcceptTimeout = 300;
  ftp.OpenSession(true, -1);
  StatusLog status;
  status.Attach(ftp);
  TNetMemoryStream up(std::string("data"));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(ftp.Upload(up, "f", false), ENetAcceptTimeout);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 250ms);
  EXPECT_LT(took, 10s);
  EXPECT_EQ(status.texts.back(), "Transfer complete");
  EXPECT_EQ(ftp.DataChannel(), nullptr);
  // The announced port no longer listens.
  const auto lines = server.ReceivedLines();
  ASSERT_GE(lines.size(), 5u);
  const uint16_t announced = PortOfLine(lines[4]);
  ASSERT_NE(announced, 0);
  EXPECT_FALSE(CanConnect(announced));
}

TEST(FtpFaultActive, UnsolicitedAbortReplyIsAFailureNotASuccess) {
  FaultScript s = LoggedIn();
  s.Custom(ConnectBack(
      "RETR f", "150 here", [](TestSocket fd) { SendAll(fd, "part"); },
      "426 Connection closed; transfer aborted.\r\n"));
  s.Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.OpenSession(true, -1);
  TNetMemoryStream down;
  // An incomplete download must not pass.
  ExpectReplyError([&] { ftp.Download("f", down, false); }, 426);
}

TEST(FtpFaultActive, ServerClosingMidTransferFails) {
  {  // data reset and the control connection gone
    FaultScript s = LoggedIn();
    s.Custom(ConnectBack(
        "RETR f", "150 here",
        [](TestSocket fd) {
          SendAll(fd, "part");
          ResetOnClose(fd);
        },
        ""));
    s.Close();
    FaultServer server({s});
    TNetFTP ftp;
    Configure(ftp, server);
    ftp.OpenSession(true, -1);
    TNetMemoryStream down;
    EXPECT_THROW(ftp.Download("f", down, false), skelder::net::ENetException);
  }
  {  // upload: the server stops reading and closes everything
    FaultScript s = LoggedIn();
    s.Custom(ConnectBack(
        "STOR f", "150 send", [](TestSocket) {}, ""));
    s.Close();
    FaultServer server({s});
    TNetFTP ftp;
    Configure(ftp, server);
    ftp.OpenSession(true, -1);
    TNetMemoryStream up(std::string(4 * 1024 * 1024, 'u'));
    EXPECT_THROW(ftp.Upload(up, "f", false), skelder::net::ENetException);
  }
}

// --- abort from the user interface ------------------------------------------------------

TEST(FtpFaultAbort, AbortFromAHookTurnEndsWith426Then226WithoutAnError) {
  FaultServer data({FaultScript().Send("first part").Stall()});
  FaultScript s = LoggedIn();
  Reply(s, "PASV", PasvReply(data.port()));
  Reply(s, "RETR big", "150 here it comes");
  Reply(s, "ABOR", "426 Transfer aborted.\r\n226 Abort successful").Stall();
  FaultServer server({s});

  ScopedCountingToolkit toolkit;
  skelder::net::TNetAntiFreeze hook;
  hook.IdleTimeOut = 20;
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.Passive = true;
  // Without a read limit the wait is cut into hook-sized pieces from its start.
  ftp.DataReadTimeout = 0;
  ftp.OpenSession(true, -1);
  StatusLog status;
  status.Attach(ftp);
  TNetMemoryStream down;
  // Once the first bytes are in (buffered, or already handed to the stream).
  toolkit->onTurn = [&](int) {
    if (ftp.DataChannel() && (ftp.DataChannel()->InputBuffer().Size() > 0 || down.Size() > 0)) ftp.AbortTransfer();
  };
  const auto start = std::chrono::steady_clock::now();
  ftp.Download("big", down, false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << "the abort ends the transfer at once";
  EXPECT_EQ(down.Data(), "first part");
  EXPECT_TRUE(status.Has("Transfer aborted"));
  EXPECT_EQ(ftp.DataChannel(), nullptr);
  EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

TEST(FtpFaultAbort, RequestAbortEndsTheAcceptWait) {
  FaultScript s = LoggedIn();
  s.ExpectLineStartingWith("PORT ").Send("200 ok\r\n");
  Reply(s, "RETR f", "150 go").Stall();
  FaultServer server({s});
  ScopedCountingToolkit toolkit;
  skelder::net::TNetAntiFreeze hook;
  hook.IdleTimeOut = 20;
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.AcceptTimeout = 0;  // no limit: only the abort can end it
  ftp.OpenSession(true, -1);
  toolkit->onTurn = [&](int turn) {
    if (turn > 3 && ftp.DataChannel()) static_cast<TNetSimpleServer*>(ftp.DataChannel())->RequestAbort();
  };
  TNetMemoryStream down;
  EXPECT_THROW(ftp.Download("f", down, false), ENetNotConnected);
  EXPECT_GT(toolkit->turns, 3);
}

}  // namespace

// --- arguments that would smuggle in commands -------------------------------------------

namespace {

TEST(FtpFaultSession, LineBreaksInArgumentsNeverReachTheServer) {
  FaultScript s = LoggedIn();
  Reply(s, "NOOP", "200 ok").Stall();
  FaultServer server({s});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.OpenSession(true, -1);
  TNetMemoryStream data(std::string("x"));
  TempDir dir;
  try {
    ftp.ChangeDirectory("a\r\nDELE victim");
    FAIL() << "sent";
  } catch (const skelder::net::ENetException& e) {
    EXPECT_STREQ(e.what(), "The directory name \"a\\r\\nDELE victim\" contains a line break and cannot be sent.");
  }
  EXPECT_THROW(ftp.MakeDirectory("a\nRMD b"), skelder::net::ENetException);
  EXPECT_THROW(ftp.Upload(data, std::string("f\0x", 3), false), skelder::net::ENetException);
  EXPECT_THROW(ftp.Download("f\rDELE g", data, false), skelder::net::ENetException);
  EXPECT_THROW(ftp.Download("f\nDELE g", dir / "local", true, false), skelder::net::ENetException);
  EXPECT_FALSE(FileExists(dir / "local")) << "nothing is created for a refused name";
  EXPECT_THROW(ftp.List("-la\r\nDELE x"), skelder::net::ENetException);
  EXPECT_EQ(ftp.SendRaw("NOOP"), 200);
  EXPECT_EQ(server.ReceivedLines().size(), 5u) << "only the log-in and NOOP arrived";
}

TEST(FtpFaultSession, LineBreakInThePasswordIsRefusedWithoutShowingIt) {
  FaultServer server({FaultScript().Send("220 ready\r\n").Stall()});
  TNetFTP ftp;
  Configure(ftp, server);
  ftp.Password = "s3cr3t\r\nDELE x";
  try {
    ftp.OpenSession(true, -1);
    FAIL() << "logged in";
  } catch (const skelder::net::ENetException& e) {
    EXPECT_STREQ(e.what(), "The password contains a line break and cannot be sent.");
  }
  EXPECT_TRUE(server.ReceivedLines().empty());
  EXPECT_FALSE(ftp.IsConnected());
}

}  // namespace
