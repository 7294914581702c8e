// The TCP client over real loopback sockets: opening (plain, timed, refused, timed out),
// status and work events, writes, byte and stream transfers, and the responsiveness hook.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "addin_process.h"
#include "counting_toolkit.h"
#include "fault_server.h"
#include "ftp/net_tcp_client.h"
#include "net/net_anti_freeze.h"
#include "test_support.h"

using namespace skelder::ftp;
using skelder::net::ENetSocketError;
using skelder::net::TNetAntiFreeze;
using skelder::test::FaultScript;
using skelder::test::FaultServer;
using skelder::test::ScopedCountingToolkit;
using namespace std::chrono_literals;

namespace {

// A socket handler that records every send call it passes on.
class RecordingHandler : public TNetIOHandlerSocket {
 public:
  int SendFrom(const void* buffer, int length) override {
    sends.emplace_back(static_cast<const char*>(buffer), static_cast<size_t>(length));
    return TNetIOHandlerSocket::SendFrom(buffer, length);
  }
  std::vector<std::string> sends;
};

void Aim(TNetTCPClient& client, const FaultServer& server) {
  client.SetHost("127.0.0.1");
  client.SetPortNumber(server.port());
}

// A timed connect to a port whose connects hang: it ends with "Connect timed out." by its own
// limit. False on a system that does not hang such connects. `before` runs just ahead of it.
bool ConnectTimesOut(int32_t timeoutMs, const std::function<void()>& before = {}) {
  const skelder::test::HangingPort hanging;
  if (!hanging.Hangs()) return false;
  TNetTCPClient c;
  c.SetHost("127.0.0.1");
  c.SetPortNumber(hanging.port());
  if (before) before();
  const auto start = std::chrono::steady_clock::now();
  try {
    c.OpenConnection(timeoutMs);
    ADD_FAILURE() << "connected to a full listen queue";
  } catch (const ENetConnectTimeout& e) {
    EXPECT_EQ(std::string(e.what()), "Connect timed out. (127.0.0.1:" + std::to_string(hanging.port()) + ")");
    // Ended by its limit, not by the system giving up on the connect minutes later.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(timeoutMs) + 5s);
    // The socket is gone and the client can be used again.
    EXPECT_FALSE(c.IsConnected());
  }
  return true;
}

}  // namespace

TEST(TcpConnect, RefusedConnectGivesTheSocketErrorText) {
  const skelder::test::RefusingPort refusing;
  TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPortNumber(refusing.port());
  try {
    client.OpenConnection();
    FAIL() << "no exception";
  } catch (const ENetSocketError& e) {
    EXPECT_EQ(e.LastError, 10061);
    // The socket layer's text, and what it concerns.
    EXPECT_EQ(std::string(e.what()),
              "Socket Error # 10061\r\nConnection refused. (127.0.0.1:" + std::to_string(client.Port()) + ")");
  }
  EXPECT_FALSE(client.IsConnected());
  // The failed opening closed the socket; the handler stays for the next try.
  ASSERT_NE(client.Socket(), nullptr);
  EXPECT_FALSE(client.Socket()->HandleConnected());
}

TEST(TcpConnect, RefusedTimedConnectCarriesTheSameText) {
  const skelder::test::RefusingPort refusing;
  TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPortNumber(refusing.port());
  try {
    client.OpenConnection(5000);
    FAIL() << "no exception";
  } catch (const ENetConnectException& e) {
    EXPECT_EQ(std::string(e.what()),
              "Socket Error # 10061\r\nConnection refused. (127.0.0.1:" + std::to_string(client.Port()) + ")");
  }
}

TEST(TcpConnect, ConnectThatHangsEndsWithConnectTimedOut) {
  SKELDER_REQUIRE(ConnectTimesOut(300), "this kernel completes every connect to a full listen queue");
}

TEST(TcpConnect, OpenOnAConnectedClientRaisesAndLeavesItIntact) {
  FaultServer server({FaultScript().ExpectLine("still here").Stall()});
  TNetTCPClient client;
  Aim(client, server);
  client.OpenConnection();
  try {
    client.OpenConnection();
    FAIL() << "no exception";
  } catch (const ENetAlreadyConnected& e) {
    EXPECT_STREQ(e.what(), "Already connected.");
  }
  EXPECT_TRUE(client.IsConnected());
  client.WriteLine("still here");
  EXPECT_TRUE(server.WaitForLines(1, 2000ms));
}

TEST(TcpConnect, StatusEventsOfOpenAndClose) {
  FaultServer server({FaultScript().Stall()});
  TNetTCPClient client;
  client.SetHost("localhost");
  client.SetPortNumber(server.port());
  std::vector<std::string> seen;
  client.OnStatus = [&](skelder::net::TNetComponent*, skelder::net::TNetStatus, const std::string& text) {
    seen.push_back(text);
  };
  int connected = 0, disconnected = 0;
  client.OnConnected = [&](skelder::net::TNetComponent*) { ++connected; };
  client.OnDisconnected = [&](skelder::net::TNetComponent*) { ++disconnected; };
  client.OpenConnection();
  client.CloseConnection();
  EXPECT_EQ(seen, (std::vector<std::string>{"Resolving hostname localhost.", "Connecting to 127.0.0.1.", "Connected.",
                                            "Disconnecting.", "Disconnected."}));
  EXPECT_EQ(connected, 1);
  EXPECT_EQ(disconnected, 1);
  // Closing made the handler go; the next opening makes a new one.
  EXPECT_EQ(client.IOHandler(), nullptr);
}

TEST(TcpConnect, ClientBindsInsideItsPortRange) {
  FaultServer server({FaultScript().Stall()});
  TNetTCPClient client;
  Aim(client, server);
  int32_t base = skelder::test::ProbeFreePort();  // the client tries each port of its range
  if (base > 65000) base = 40000;
  client.BoundIP = "127.0.0.1";
  client.BoundPortMin = base;
  client.BoundPortMax = base + 5;
  client.OpenConnection();
  int32_t local = client.Socket()->Binding()->Port;
  EXPECT_GE(local, base);
  EXPECT_LE(local, base + 5);
}

// A forked child in a network namespace of its own: a Linux facility, nothing Windows has.
#ifndef _WIN32
// In a network namespace of its own with eight ports to hand out: forty connections in a row,
// each to a peer port of its own (as passive data connections go) and each closed by the client
// first, so that every port it used waits out its close. Returns 0 or the step that failed.
int ManyClientsInAShortRange() {
  if (int failed = skelder::test::EnterPrivateNetwork("41000 41007")) return failed;
  for (int i = 0; i < 40; ++i) {
    try {
      skelder::net::TNetComponent holder;
      skelder::net::TNetSocketHandle listener;
      listener.OpenSocket();
      listener.IP = "127.0.0.1";
      listener.Port = 43000 + i;  // outside the range: only the client's ports are under test
      listener.BindLocal();
      listener.ListenOn(1);
      TNetTCPClient client;
      client.SetHost("127.0.0.1");
      client.SetPortNumber(listener.Port);
      client.OpenConnection();
      skelder::net::TNetSocketHandle accepted;
      if (!accepted.AcceptFrom(listener.Socket())) return 20;
      client.CloseConnection();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "connection %d: %s\n", i, e.what());
      return 30;
    }
  }
  return 0;
}

TEST(TcpConnect, PortsWaitingOutTheirCloseDoNotStopTheNextConnection) {
  const auto result = skelder::test::RunInChild(ManyClientsInAShortRange, {}, 60s);
  SKELDER_REQUIRE(result.exitCode != skelder::test::kNoPrivateNetwork,
                  "no network namespace can be made here (needs root)");
  EXPECT_EQ(result.exitCode, 0) << result.output;
}
#endif  // _WIN32

TEST(TcpConnect, ConnectAndReadAllReturnsEverythingUntilClose) {
  FaultServer server({FaultScript().Send("all of it\r\nand more").Close()});
  TNetTCPClient client;
  Aim(client, server);
  EXPECT_EQ(client.ConnectAndReadAll(), "all of it\r\nand more");
  EXPECT_FALSE(client.IsConnected());
}

TEST(TcpWrite, EveryLineGoesOutInOneSend) {
  FaultServer server({FaultScript().ExpectLine("USER anonymous").ExpectLine("PASS").Stall()});
  TNetTCPClient client;
  RecordingHandler handler;
  client.SetIOHandler(&handler);
  Aim(client, server);
  client.OpenConnection();
  client.WriteLine("USER anonymous");
  client.WriteLine("PASS");
  EXPECT_EQ(handler.sends, (std::vector<std::string>{"USER anonymous\r\n", "PASS\r\n"}));
  ASSERT_TRUE(server.WaitForLines(2, 2000ms));
  EXPECT_TRUE(server.Failures().empty());
}

TEST(TcpWrite, SendCommandWritesTheLineAndChecksTheReply) {
  FaultServer server(
      {FaultScript().ExpectLine("NOOP").Send("200 ok\r\n").ExpectLine("BAD").Send("500 no\r\n").Stall()});
  TNetTCPClient client;
  Aim(client, server);
  client.OpenConnection();
  EXPECT_EQ(client.SendCommand("NOOP", 200), 200);
  EXPECT_THROW(client.SendCommand("BAD", {200, 250}), ENetProtocolReplyError);
  EXPECT_EQ(client.LastCmdResult().NumericCode(), 500);
  EXPECT_TRUE(server.Failures().empty());
}

TEST(TcpWrite, WritingToAPeerThatHasGoneRaisesTheSocketErrorNotASignal) {
  // The peer resets once it has heard from us: a reset before the connect has finished would
  // fail the opening instead, which is not what this test is about.
  FaultServer server({FaultScript().ExpectLine().Reset()});
  TNetTCPClient client;
  Aim(client, server);
  client.OpenConnection();
  client.WriteLine("hello");
  ASSERT_TRUE(server.WaitDone(2000ms));
  const std::string chunk(65536, 'z');
  try {
    for (int i = 0; i < 100; ++i) client.WriteText(chunk);
    FAIL() << "writes to a reset peer kept succeeding";
  } catch (const ENetSocketError& e) {
    EXPECT_TRUE(e.LastError == 10054 || e.LastError == 10058) << e.LastError;
  } catch (const ENetConnClosedGracefully&) {
    // A send of 0 bytes ends the same way, through the disconnect check.
  }
  EXPECT_FALSE(client.IsConnected());
}

// A peer that stops reading: once the socket buffers are full, a write waits at most the read
// limit and ends with "Write Timeout", the user interface getting its turns meanwhile.
TEST(TcpWrite, PeerThatStopsReadingEndsTheWriteAtTheLimit) {
  ScopedCountingToolkit toolkit;
  TNetAntiFreeze hook;
  FaultServer server({FaultScript().Sleep(120s)});
  TNetTCPClient client;
  Aim(client, server);
  client.ReadTimeout = 500;
  client.OpenConnection();
  const std::string chunk(1 << 20, 'w');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(
      {
        for (int i = 0; i < 1024; ++i) client.WriteText(chunk);
      },
      ENetWriteTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  EXPECT_GE(toolkit->turns, 2);
  server.Stop();
}

TEST(TcpWrite, WritingWhenNotConnectedRaises) {
  TNetTCPClient client;
  EXPECT_THROW(client.WriteLine("x"), ENetNotConnected);
  EXPECT_NO_THROW(client.WriteText(""));  // nothing to write: nothing checked
}

TEST(TcpStream, SendStreamGoesInChunksOfSendBufferSizeWithWorkEvents) {
  FaultServer server({FaultScript().ReadUntilClose()});
  TNetTCPClient client;
  RecordingHandler handler;
  client.SetIOHandler(&handler);
  Aim(client, server);
  client.SendBufferSize = 4096;
  std::string data(100000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  TNetMemoryStream stream(data);
  int64_t begunWith = -1, last = -1;
  int ends = 0;
  client.OnWorkBegin = [&](skelder::net::TNetComponent*, skelder::net::TWorkMode m, int64_t max) {
    if (m == skelder::net::wkWrite) begunWith = max;
  };
  client.OnWork = [&](skelder::net::TNetComponent*, skelder::net::TWorkMode m, int64_t count) {
    if (m == skelder::net::wkWrite) last = count;
  };
  client.OnWorkEnd = [&](skelder::net::TNetComponent*, skelder::net::TWorkMode) { ++ends; };
  client.OpenConnection();
  stream.SetPosition(500);  // fromBeginning rewinds
  client.SendStream(stream, true, false, 0);
  client.CloseConnection();
  EXPECT_EQ(begunWith, 100000);
  EXPECT_EQ(last, 100000);
  EXPECT_EQ(ends, 1);
  for (const std::string& s : handler.sends) EXPECT_LE(s.size(), 4096u);
  EXPECT_GE(handler.sends.size(), 25u);
  ASSERT_TRUE(server.WaitDone(5000ms));
  EXPECT_EQ(server.ReceivedData(0), data);
}

TEST(TcpStream, EmptyStreamStartsAndFinishesWorkAndSendsNothing) {
  FaultServer server({FaultScript().ReadUntilClose()});
  TNetTCPClient client;
  RecordingHandler handler;
  client.SetIOHandler(&handler);
  Aim(client, server);
  int begins = 0, ends = 0;
  int64_t max = -1;
  client.OnWorkBegin = [&](skelder::net::TNetComponent*, skelder::net::TWorkMode, int64_t m) {
    ++begins;
    max = m;
  };
  client.OnWorkEnd = [&](skelder::net::TNetComponent*, skelder::net::TWorkMode) { ++ends; };
  client.OpenConnection();
  TNetMemoryStream empty;
  client.SendStream(empty);
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(max, 0);
  EXPECT_TRUE(handler.sends.empty());
}

TEST(TcpStream, ReceiveUntilCloseWritesExactlyTheBytesAndCutsALongerStream) {
  FaultServer server({FaultScript().Send("0123456789").Close()});
  TNetTCPClient client;
  Aim(client, server);
  client.OpenConnection();
  TNetMemoryStream stream(std::string(50, '#'));
  client.ReceiveStream(stream, -1, true);
  EXPECT_EQ(stream.Data(), "0123456789");
  EXPECT_EQ(stream.Position(), 10);
}

TEST(TcpStream, ReceiveUntilCloseAppendsAtThePositionAndCountsReadWork) {
  // Small receive buffer: the data comes in many chunks, some already buffered after a line.
  std::string payload(70000, '\0');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i % 251);
  FaultServer server({FaultScript().Send("150 go\r\n" + payload).Close()});
  TNetTCPClient client;
  Aim(client, server);
  client.RecvBufferSize = 1000;
  int64_t lastRead = 0;
  client.OnWork = [&](skelder::net::TNetComponent*, skelder::net::TWorkMode m, int64_t count) {
    if (m == skelder::net::wkRead) lastRead = count;
  };
  client.OpenConnection();
  EXPECT_EQ(client.ReadReply(), 150);
  TNetMemoryStream stream(std::string("abc"));
  stream.SetPosition(3);
  client.ReceiveStream(stream, -1, true);
  EXPECT_EQ(stream.Data(), "abc" + payload);
  EXPECT_EQ(lastRead, 70000);
}

TEST(TcpStream, ReceiveWithACountReadsItFirstAndPresizes) {
  std::string bytes("\x00\x00\x00\x05hello+rest", 14);
  FaultServer server({FaultScript().Send(bytes).Stall()});
  TNetTCPClient client;
  Aim(client, server);
  client.OpenConnection();
  TNetMemoryStream stream;
  client.ReceiveStream(stream);
  EXPECT_EQ(stream.Data(), "hello");
  EXPECT_EQ(client.ReadLine("t"), "+res");
}

TEST(TcpStream, ReceiveOfAKnownCountFailsWhenThePeerClosesEarly) {
  FaultServer server({FaultScript().Send("abc").Close()});
  TNetTCPClient client;
  Aim(client, server);
  client.OpenConnection();
  TNetMemoryStream stream;
  EXPECT_THROW(client.ReceiveStream(stream, 10, false), ENetConnClosedGracefully);
  EXPECT_EQ(stream.Data(), "abc");  // what arrived is kept, the presized rest cut off
}

TEST(TcpStream, BytesAndInt32InNetworkOrder) {
  FaultServer server({FaultScript().Send(std::string("\x01\x02\x03\x04xy", 6)).ExpectLine().Stall()});
  TNetTCPClient client;
  Aim(client, server);
  client.OpenConnection();
  EXPECT_EQ(client.ReadInt32(true), 0x01020304);
  char two[2];
  client.ReadBytes(two, 2);
  EXPECT_EQ(std::string(two, 2), "xy");
  client.WriteInt32(0x41424344, true);
  client.WriteLine("");
  ASSERT_TRUE(server.WaitForLines(1, 2000ms));
  EXPECT_EQ(server.ReceivedLines()[0], "ABCD");
}

TEST(TcpStream, SendFileOfAMissingFileRaisesFileNotFound) {
  TNetTCPClient client;
  try {
    client.SendFile("/nonexistent/file.bin");
    FAIL() << "no exception";
  } catch (const ENetFileNotFound& e) {
    EXPECT_STREQ(e.what(), "File \"/nonexistent/file.bin\" not found");
  }
}

TEST(TcpStream, SendFileSendsTheWholeFile) {
  skelder::test::TempDir dir;
  std::string content(50000, 'f');
  skelder::test::WriteFile(dir / "f.bin", content);
  FaultServer server({FaultScript().ReadUntilClose()});
  TNetTCPClient client;
  Aim(client, server);
  client.OpenConnection();
  EXPECT_EQ(client.SendFile(dir / "f.bin"), 50000);
  client.CloseConnection();
  ASSERT_TRUE(server.WaitDone(5000ms));
  EXPECT_EQ(server.ReceivedData(0), content);
}

TEST(TcpIntercept, HooksSeeAndMayChangeTheData) {
  FaultServer server({FaultScript().Send("hello\n").ExpectLine().Stall()});
  TNetTCPClient client;
  Aim(client, server);
  skelder::net::TNetConnectionIntercept intercept;
  int connects = 0, disconnects = 0;
  intercept.OnConnect = [&](skelder::net::TNetConnectionIntercept*) { ++connects; };
  intercept.OnDisconnect = [&](skelder::net::TNetConnectionIntercept*) { ++disconnects; };
  intercept.OnReceive = [](skelder::net::TNetConnectionIntercept*, std::string& d) {
    for (char& c : d) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  };
  intercept.OnSend = [](skelder::net::TNetConnectionIntercept*, std::string& d) { d = "<" + d; };
  client.SetIntercept(&intercept);
  client.OpenConnection();
  EXPECT_EQ(intercept.Connection(), &client);
  EXPECT_EQ(client.ReadLine(), "HELLO");
  client.WriteLine("x");
  ASSERT_TRUE(server.WaitForLines(1, 2000ms));
  EXPECT_EQ(server.ReceivedLines()[0], "<x");
  client.CloseConnection();
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(disconnects, 1);
}

TEST(TcpIntercept, DestroyedInterceptIsForgotten) {
  TNetTCPClient client;
  {
    skelder::net::TNetConnectionIntercept intercept;
    client.SetIntercept(&intercept);
    EXPECT_EQ(client.Intercept(), &intercept);
  }
  EXPECT_EQ(client.Intercept(), nullptr);
}

TEST(TcpResponsive, BlockedReadRunsMessageProcessingEveryIdleTimeOut) {
  ScopedCountingToolkit toolkit;
  TNetAntiFreeze hook;
  hook.IdleTimeOut = 30;
  FaultServer server({FaultScript().Sleep(400ms).Send("220 late\r\n").Stall()});
  TNetTCPClient client;
  Aim(client, server);
  client.OpenConnection();  // timed in steps while the hook is active
  int turnsBefore = toolkit->turns;
  EXPECT_EQ(client.ReadReply(), 220);
  // 400 ms in pieces of 30 ms: about 13 turns; scheduling may lose a few.
  EXPECT_GE(toolkit->turns - turnsBefore, 5);
}

TEST(TcpResponsive, HandlerClosingTheConnectionAbortsTheBlockedRead) {
  ScopedCountingToolkit toolkit;
  TNetAntiFreeze hook;
  hook.IdleTimeOut = 20;
  FaultServer server({FaultScript().Stall()});
  TNetTCPClient client;
  Aim(client, server);
  client.OpenConnection();
  toolkit->turns = 0;
  // The Cancel button's handler, run from the message processing in the middle of the read.
  toolkit->onTurn = [&](int turn) {
    if (turn == 3) client.CloseConnection();
  };
  EXPECT_THROW(client.ReadReply(), ENetConnClosedGracefully);
  EXPECT_EQ(toolkit->turns, 3);
  EXPECT_FALSE(client.IsConnected());
}

TEST(TcpResponsive, HandlerDroppingTheSocketAbortsABlockedStreamReceive) {
  ScopedCountingToolkit toolkit;
  TNetAntiFreeze hook;
  hook.IdleTimeOut = 20;
  FaultServer server({FaultScript().Send("partial").Stall()});
  TNetTCPClient client;
  Aim(client, server);
  client.OpenConnection();
  toolkit->turns = 0;
  toolkit->onTurn = [&](int turn) {
    if (turn == 2) client.DropSocket();
  };
  TNetMemoryStream stream;
  EXPECT_THROW(client.ReceiveStream(stream, 100, false), ENetConnClosedGracefully);
  EXPECT_EQ(stream.Data(), "partial");
}

TEST(TcpResponsive, TimedConnectRunsTurnsWhileItWaits) {
  ScopedCountingToolkit toolkit;
  TNetAntiFreeze hook;
  hook.IdleTimeOut = 20;
  bool timedOut = ConnectTimesOut(200, [&] { toolkit->turns = 0; });
  SKELDER_REQUIRE(timedOut, "this kernel completes every connect to a full listen queue");
  // 200 ms in steps of 20 ms.
  EXPECT_GE(toolkit->turns, 5);
}
