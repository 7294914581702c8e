// Line and reply reading over a real loopback connection to the scripted server: multi-line
// rules, line ends, the line length limit, a peer that closes, read time-outs.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "fault_server.h"
#include "ftp/net_tcp_client.h"

using namespace skelder::ftp;
using skelder::test::FaultScript;
using skelder::test::FaultServer;
using namespace std::chrono_literals;

namespace {

// A client connected to a server that sends `bytes` and then plays `then`.
struct Session {
  FaultServer server;
  TNetTCPClient client;
  explicit Session(const std::string& bytes, FaultScript then = FaultScript().Stall())
      : server({Prepend(bytes, std::move(then))}) {
    client.SetHost("127.0.0.1");
    client.SetPortNumber(server.port());
    client.OpenConnection();
  }
  static FaultScript Prepend(const std::string& bytes, FaultScript then) {
    FaultScript s;
    s.Send(bytes);
    for (const auto& step : then.steps()) s.Custom(step);
    return s;
  }
};

}  // namespace

TEST(TcpReply, MultiLineReplyEndsAtTheClosingPrefix) {
  Session s("220-Welcome\r\n220-more\r\n220 ready\r\n200 next\r\n");
  EXPECT_EQ(s.client.ReadReply(), 220);
  const TNetRFCReply& r = s.client.LastCmdResult();
  EXPECT_EQ(r.Text, (std::vector<std::string>{"Welcome", "more", "ready"}));
  EXPECT_EQ(s.client.ReadReply(), 200);  // the next reply is left intact
}

TEST(TcpReply, ContinuationLinesWithoutTheCodeAreTrimmedAndKeptFromTheFifthCharacter) {
  Session s("230-Hello\r\n  text\r\n  some more text\r\n230 done\r\n");
  EXPECT_EQ(s.client.ReadReply(), 230);
  EXPECT_EQ(s.client.LastCmdResult().Text, (std::vector<std::string>{"Hello", "", " more text", "done"}));
}

TEST(TcpReply, ClosingPrefixComparesWithoutLetterCase) {
  Session s("2a0-x\r\n2A0 end\r\n");
  s.client.ReadReply();
  EXPECT_EQ(s.client.LastCmdResult().Text.size(), 2u);
}

TEST(TcpReply, ShortContinuationLineEndsTheReplyEarly) {
  Session s("211-Status\r\n ok \r\n211 End\r\n");
  EXPECT_EQ(s.client.ReadReply(), 211);
  EXPECT_EQ(s.client.LastCmdResult().Text, (std::vector<std::string>{"Status", ""}));
  // The rest is read as a reply of its own.
  EXPECT_EQ(s.client.ReadReply(), 211);
  EXPECT_EQ(s.client.LastCmdResult().Text, (std::vector<std::string>{"End"}));
}

TEST(TcpReply, BlankLinesBeforeAReplyAreSkipped) {
  Session s("\r\n  \r\n\t\r\n200\r\n");
  EXPECT_EQ(s.client.ReadReply(), 200);
  EXPECT_EQ(s.client.LastCmdResult().TextCode(), "200");
  EXPECT_EQ(s.client.LastCmdResult().Text, (std::vector<std::string>{""}));
}

TEST(TcpReply, NonNumericReplyHasCodeZeroAndFailsAnyAcceptedList) {
  Session s("abc def\r\nabc def\r\n");
  try {
    s.client.AwaitReply(200);
    FAIL() << "no exception";
  } catch (const ENetProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyErrorCode, 0);
    EXPECT_STREQ(e.what(), "def\r\n");
  }
  // An empty list accepts it, code 0 and all.
  EXPECT_EQ(s.client.AwaitReply({}), 0);
  EXPECT_TRUE(s.client.IsConnected());  // a rejected reply leaves the connection open
}

TEST(TcpReply, RejectedReplyCarriesCodeAndAllTextLines) {
  Session s("530-Login incorrect.\r\n530 Bye.\r\n");
  try {
    s.client.AwaitReply({230, 331});
    FAIL() << "no exception";
  } catch (const ENetProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyErrorCode, 530);
    EXPECT_STREQ(e.what(), "Login incorrect.\r\nBye.\r\n");
  }
}

TEST(TcpLines, CrLfAndBareLfBothEndLinesAndALoneCrDoesNot) {
  Session s("one\r\ntwo\nx\r\r\na\rb\n");
  EXPECT_EQ(s.client.ReadLine(), "one");
  EXPECT_EQ(s.client.ReadLine(), "two");
  EXPECT_EQ(s.client.ReadLine(), "x\r");
  EXPECT_EQ(s.client.ReadLine(), "a\rb");
}

TEST(TcpLines, OtherTerminatorsKeepTheCr) {
  Session s("ab\r;cd;;");
  EXPECT_EQ(s.client.ReadLine(";"), "ab\r");
  EXPECT_EQ(s.client.ReadLine(";;"), "cd");
}

TEST(TcpLines, TerminatorSplitAcrossTwoReceivesIsFound) {
  // The two halves of the terminator arrive in separate pieces.
  FaultServer server({FaultScript().SendSlowly("abc<>def<>", 4, 30ms).Stall()});
  TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPortNumber(server.port());
  client.OpenConnection();
  EXPECT_EQ(client.ReadLine("<>"), "abc");
  EXPECT_EQ(client.ReadLine("<>"), "def");
}

TEST(TcpLines, LineLimitCountsTheCrOfACrLfEnd) {
  const std::string line(16384, 'a');
  {
    Session s(line + "\n");
    EXPECT_EQ(s.client.ReadLine(), line);
  }
  {
    Session s(line + "\r\n");
    try {
      s.client.ReadLine();
      FAIL() << "no exception";
    } catch (const ENetReadLnMaxLineLengthExceeded& e) {
      EXPECT_STREQ(e.what(), "Max line length exceeded.");
    }
  }
  {
    Session s(std::string(16383, 'b') + "\r\n");
    EXPECT_EQ(s.client.ReadLine().size(), 16383u);
  }
}

TEST(TcpLines, OverlongLineWithoutTerminatorRaisesWithoutWaitingForTheEnd) {
  // The server never ends the line: the limit must trigger on the scanned bytes alone.
  Session s(std::string(20000, 'c'));
  EXPECT_THROW(s.client.ReadLine(), ENetReadLnMaxLineLengthExceeded);
}

TEST(TcpLines, SplitModeReturnsPiecesOfTheLimit) {
  Session s(std::string(25, 'd') + "\n");
  s.client.MaxLineAction = maSplit;
  s.client.MaxLineLength = 10;
  EXPECT_EQ(s.client.ReadLine(), std::string(10, 'd'));
  EXPECT_TRUE(s.client.ReadLnSplit());
  EXPECT_EQ(s.client.ReadLine(), std::string(10, 'd'));
  EXPECT_EQ(s.client.ReadLine(), std::string(5, 'd'));
  EXPECT_FALSE(s.client.ReadLnSplit());
}

TEST(TcpLines, ZeroLimitMeansNoLimit) {
  Session s(std::string(70000, 'e') + "\n");
  s.client.MaxLineLength = 0;
  EXPECT_EQ(s.client.ReadLine().size(), 70000u);
}

TEST(TcpClose, BufferedInputStaysReadableAfterThePeerClosed) {
  Session s("200 one\r\n200 two\r\n", FaultScript().Close());
  EXPECT_EQ(s.client.ReadReply(), 200);
  ASSERT_TRUE(s.server.WaitDone(2000ms));
  EXPECT_EQ(s.client.ReadReply(), 200);
  try {
    s.client.ReadReply();
    FAIL() << "no exception";
  } catch (const ENetConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  EXPECT_FALSE(s.client.IsConnected());
}

TEST(TcpClose, PeerClosingInTheMiddleOfALineRaisesClosedGracefully) {
  Session s("220 partial line without end", FaultScript().Close());
  EXPECT_THROW(s.client.ReadLine(), ENetConnClosedGracefully);
}

TEST(TcpClose, PeerResetInTheMiddleOfAReadRaisesTheSocketError) {
  Session s("220-first line\r\n", FaultScript().Sleep(50ms).Reset());
  try {
    s.client.ReadReply();
    FAIL() << "no exception";
  } catch (const skelder::net::ENetSocketError& e) {
    EXPECT_EQ(e.LastError, 10054);
  } catch (const ENetConnClosedGracefully&) {
    // Some kernels deliver the reset as an end of data; either way the read ends.
  }
}

TEST(TcpTimeout, ReadTimeoutRaisesWhenTheServerNeverAnswers) {
  Session s("");
  s.client.ReadTimeout = 200;
  try {
    s.client.ReadReply();
    FAIL() << "no exception";
  } catch (const ENetReadTimeout& e) {
    EXPECT_STREQ(e.what(), "Read Timeout");
  }
  EXPECT_TRUE(s.client.IsConnected());
}

TEST(TcpTimeout, ExplicitTimeoutGivesAnEmptyLineAndTheTimedOutFlag) {
  Session s("");
  EXPECT_EQ(s.client.ReadLine("\n", 100), "");
  EXPECT_TRUE(s.client.ReadLnTimedOut());
}

TEST(TcpTimeout, ServerThatAcceptsAndNeverAnswersTimesOutOnAwaitReply) {
  // The greeting never comes: with ReadTimeout set the wait for it ends.
  Session s("");
  s.client.ReadTimeout = 150;
  EXPECT_THROW(s.client.AwaitReply(220), ENetReadTimeout);
}

TEST(TcpAscii, FilterClearsTheHighBit) {
  Session s("\xC1\xC2\n");
  s.client.ASCIIFilter = true;
  EXPECT_EQ(s.client.ReadLine(), "AB");
}
