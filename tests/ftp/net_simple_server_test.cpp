// The data connection's pieces on their own: the PASV reply parser, the PORT text, and the
// single-connection listener with its accept limit, abort and clean-up.
#include "ftp/net_simple_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "counting_toolkit.h"
#include "net/net_anti_freeze.h"
#include "test_socket.h"
#include "test_support.h"
#ifndef _WIN32
#include "addin_process.h"
#endif

using namespace skelder::ftp;
using namespace std::chrono_literals;

namespace {

TEST(PasvReply, FormsTheServersSend) {
  auto a = ParsePasvReply("Entering Passive Mode (192,168,0,5,19,137).");
  EXPECT_EQ(a.IP, "192.168.0.5");
  EXPECT_EQ(a.Port, 5001);
  a = ParsePasvReply("Entering Passive Mode 10,0,0,9,4,1");
  EXPECT_EQ(a.IP, "10.0.0.9");
  EXPECT_EQ(a.Port, 1025);
  a = ParsePasvReply("  Go 127,0,0,1,0,21  ");  // after the last blank, trimmed first
  EXPECT_EQ(a.IP, "127.0.0.1");
  EXPECT_EQ(a.Port, 21);
  a = ParsePasvReply("127,0,0,1,255,255");  // no blank at all: the whole line
  EXPECT_EQ(a.Port, 65535);
  a = ParsePasvReply("Mode ( 127, 0, 0, 1, 1, 0 ) (9,9,9,9,9,9)");  // the first parentheses
  EXPECT_EQ(a.IP, "127.0.0.1");
  EXPECT_EQ(a.Port, 256);
  a = ParsePasvReply("(127,0,0,1,1,2,99)");  // a seventh field is ignored
  EXPECT_EQ(a.Port, 258);
}

TEST(PasvReply, BadFieldsRaiseAConversionError) {
  for (const char* line :
       {"Entering Passive Mode (10,0,0,9,x,1)", "Entering Passive Mode (10,0,0,9,4)", "(10,0,0,9,256,1)",
        "(10,0,0,9,-1,1)", "(a,b,c,d,1,1)", "(10,0,0,9,,1)", "", "()", ")10,0,0,9,4,1(", "Entering Passive Mode",
        "(10,0,0,9,4,1x)", "(99999999999999999999,0,0,1,1,1)"}) {
    EXPECT_THROW(ParsePasvReply(line), ENetConvertError) << line;
  }
}

TEST(PortCommand, FieldsOfAddressAndPort) {
  EXPECT_EQ(FormatPortCommand("10.0.0.7", 5001), "PORT 10,0,0,7,19,137");
  EXPECT_EQ(FormatPortCommand("127.0.0.1", 255), "PORT 127,0,0,1,0,255");
  EXPECT_EQ(FormatPortCommand("127.0.0.1", 256), "PORT 127,0,0,1,1,0");
  EXPECT_EQ(FormatPortCommand("127.0.0.1", 65535), "PORT 127,0,0,1,255,255");
}

using skelder::test::CloseSocket;
using skelder::test::kNoTestSocket;
using skelder::test::TestSocket;

TestSocket Connect(int32_t port) {
  TestSocket fd = skelder::test::OpenTcpSocket();
  if (!skelder::test::ConnectSocket(fd, "127.0.0.1", static_cast<uint16_t>(port))) {
    CloseSocket(fd);
    return kNoTestSocket;
  }
  return fd;
}

TEST(SimpleServer, AcceptsOneConnectionAndCarriesIt) {
  TNetSimpleServer server;
  server.BoundIP = "127.0.0.1";
  server.StartListening();
  EXPECT_TRUE(server.Listening());
  ASSERT_NE(server.Binding(), nullptr);
  const int32_t port = server.Binding()->Port;
  EXPECT_GT(port, 0);
  EXPECT_EQ(server.Binding()->IP, "127.0.0.1");
  TestSocket peer = Connect(port);
  ASSERT_NE(peer, kNoTestSocket);
  ASSERT_TRUE(server.AcceptConnection());
  EXPECT_FALSE(server.Listening());
  EXPECT_TRUE(server.IsConnected());
  EXPECT_EQ(server.Binding()->PeerIP, "127.0.0.1");
  // The listening socket is gone: a second connection is refused.
  TestSocket second = Connect(port);
  EXPECT_EQ(second, kNoTestSocket);
  CloseSocket(second);

  ASSERT_TRUE(skelder::test::SendAll(peer, "hello\r\n"));
  EXPECT_EQ(server.ReadLine(), "hello");
  server.WriteLine("back");
  char buf[16] = {};
  EXPECT_EQ(skelder::test::ReceiveSome(peer, buf, sizeof buf), 6);
  EXPECT_STREQ(buf, "back\r\n");
  CloseSocket(peer);
}

TEST(SimpleServer, TakenPortFailsTheBindAndFreesTheHandler) {
  TNetSimpleServer first;
  first.BoundIP = "127.0.0.1";
  first.StartListening();
  TNetSimpleServer second;
  second.BoundIP = "127.0.0.1";
  second.BoundPort = first.Binding()->Port;
  EXPECT_THROW(second.StartListening(), skelder::net::ENetCouldNotBindSocket);
  EXPECT_EQ(second.Binding(), nullptr);
  EXPECT_FALSE(second.Listening());
}

TEST(SimpleServer, AcceptLimitRaisesAndClosesTheListener) {
  TNetSimpleServer server;
  server.BoundIP = "127.0.0.1";
  server.AcceptTimeout = 200;
  server.StartListening();
  const int32_t port = server.Binding()->Port;
  try {
    server.AcceptConnection();
    FAIL() << "accepted nothing without an error";
  } catch (const ENetAcceptTimeout& e) {
    EXPECT_EQ(std::string(e.what()),
              "Timed out waiting for the server to open the data connection. (listening on "
              "127.0.0.1:" +
                  std::to_string(port) + ")");
  }
  EXPECT_FALSE(server.Listening());
  EXPECT_EQ(Connect(port), kNoTestSocket);
}

TEST(SimpleServer, AbortRequestEndsTheWaitAndTheServerCanListenAgain) {
  TNetSimpleServer server;
  server.BoundIP = "127.0.0.1";
  server.AcceptTimeout = 0;
  server.StartListening();
  server.RequestAbort();
  EXPECT_FALSE(server.AcceptConnection());
  EXPECT_FALSE(server.IsConnected());
  server.StopListening();
  EXPECT_FALSE(server.AbortRequested());
  EXPECT_EQ(server.Binding(), nullptr);
  server.StartListening();
  TestSocket peer = Connect(server.Binding()->Port);
  ASSERT_NE(peer, kNoTestSocket);
  EXPECT_TRUE(server.AcceptConnection());
  CloseSocket(peer);
}

TEST(SimpleServer, HookTurnsRunDuringTheWaitAndCanAbortIt) {
  skelder::test::ScopedCountingToolkit toolkit;
  skelder::net::TNetAntiFreeze hook;
  hook.IdleTimeOut = 10;
  TNetSimpleServer server;
  server.BoundIP = "127.0.0.1";
  server.AcceptTimeout = 0;
  toolkit->onTurn = [&](int turn) {
    if (turn == 5) server.RequestAbort();
  };
  EXPECT_FALSE(server.AcceptConnection());  // starts listening by itself
  // The abort is seen at the end of the wait piece in which it was requested.
  EXPECT_GE(toolkit->turns, 5);
  EXPECT_LE(toolkit->turns, 6);
}

TEST(SimpleServer, SocketDroppedUnderTheWaitIsClosedOnlyOnce) {
  skelder::test::ScopedCountingToolkit toolkit;
  skelder::net::TNetAntiFreeze hook;
  hook.IdleTimeOut = 10;
  TestSocket bystander = kNoTestSocket;
  {
    TNetSimpleServer server;
    server.BoundIP = "127.0.0.1";
    server.AcceptTimeout = 0;
    toolkit->onTurn = [&](int turn) {
      if (turn != 2) return;
      server.DropSocket();
      // Likely takes the number the listener had; it must survive the server's clean-up.
      bystander = skelder::test::OpenTcpSocket();
    };
    EXPECT_THROW(server.AcceptConnection(), skelder::net::ENetConnClosedGracefully);
  }
  ASSERT_NE(bystander, kNoTestSocket);
  EXPECT_TRUE(skelder::test::IsOpenSocket(bystander)) << "a socket of someone else was closed";
  CloseSocket(bystander);
}

}  // namespace

// A forked child in a network namespace of its own: a Linux facility, nothing Windows has.
#ifndef _WIN32
namespace listener_ports {

// In a network namespace of its own, with the system's range cut to eight ports: the listener's
// side closes each connection first, so every port it used waits out its close for a minute.
// Forty transfers in a row still each get a listener. Returns 0, or the step that failed.
int ManyListenersInAShortRange() {
  if (int failed = skelder::test::EnterPrivateNetwork("41000 41007")) return failed;
  for (int i = 0; i < 40; ++i) {
    try {
      TNetSimpleServer server;
      server.BoundIP = "127.0.0.1";
      server.AcceptTimeout = 5000;
      server.StartListening();
      const int32_t port = server.Binding()->Port;
      if (port < 41000 || port > 41007) return 20;
      // The peer's own port is outside the range: only the listener's ports are under test.
      TestSocket peer = skelder::test::OpenTcpSocket();
      if (!skelder::test::BindSocket(peer, "127.0.0.1", static_cast<uint16_t>(42000 + i)) ||
          !skelder::test::ConnectSocket(peer, "127.0.0.1", static_cast<uint16_t>(port))) {
        std::fprintf(stderr, "transfer %d: connect: %s\n", i, skelder::test::LastSocketErrorText().c_str());
        return 21;
      }
      if (!server.AcceptConnection()) return 22;
      server.WriteLine("x");
      server.CloseConnection();
      char buf[8];
      while (skelder::test::ReceiveSome(peer, buf, sizeof buf) > 0) {
      }
      CloseSocket(peer);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "transfer %d: %s\n", i, e.what());
      return 30;
    }
  }
  return 0;
}

}  // namespace listener_ports

TEST(SimpleServer, PortsWaitingOutTheirCloseDoNotStopTheNextListener) {
  const auto result = skelder::test::RunInChild(listener_ports::ManyListenersInAShortRange, {}, 60s);
  SKELDER_REQUIRE(result.exitCode != skelder::test::kNoPrivateNetwork,
                  "no network namespace can be made here (needs root)");
  EXPECT_EQ(result.exitCode, 0) << result.output;
}
#endif  // _WIN32
