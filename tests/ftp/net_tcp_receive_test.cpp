// Stream receives that take in everything waiting after one readiness wait: data in many small
// pieces, data larger than one block, a known count followed by more bytes, a peer that resets,
// and the intercept and filter that must still see every byte.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <string>
#include <vector>

#include "fault_server.h"
#include "ftp/net_tcp_client.h"
#include "test_support.h"

using namespace skelder::ftp;
using skelder::test::FaultScript;
using skelder::test::FaultServer;
using namespace std::chrono_literals;

namespace {

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) % 256);
  return bytes;
}

// Every read progress count, and whether begin and end came once each.
struct ReadProgress {
  std::vector<int64_t> counts;
  int begins = 0;
  int ends = 0;
  void Attach(TNetTCPConnection& c) {
    c.OnWorkBegin = [this](skelder::net::TNetComponent*, skelder::net::TWorkMode m, int64_t) {
      if (m == skelder::net::wkRead) ++begins;
    };
    c.OnWork = [this](skelder::net::TNetComponent*, skelder::net::TWorkMode m, int64_t count) {
      if (m == skelder::net::wkRead) counts.push_back(count);
    };
    c.OnWorkEnd = [this](skelder::net::TNetComponent*, skelder::net::TWorkMode m) {
      if (m == skelder::net::wkRead) ++ends;
    };
  }
  // Rising by at least one byte and at most one block per event, ending at `total`.
  void ExpectSteadyUpTo(int64_t total) const {
    ASSERT_FALSE(counts.empty());
    int64_t last = 0;
    for (int64_t c : counts) {
      EXPECT_GT(c, last);
      EXPECT_LE(c - last, kReceiveBlockSize);
      last = c;
    }
    EXPECT_EQ(last, total);
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(ends, 1);
  }
};

void Aim(TNetTCPClient& client, const FaultServer& server) {
  client.SetHost("127.0.0.1");
  client.SetPortNumber(server.port());
}

}  // namespace

TEST(TcpReceive, ManySmallPiecesThenCloseArriveWholeInAFileWithExactProgress) {
  const std::string payload = Pattern(60000);
  FaultServer server({FaultScript().SendSlowly(payload, 997, 1ms).Close()});
  skelder::test::TempDir dir;
  const std::string path = dir / "down.bin";
  TNetTCPClient client;
  Aim(client, server);
  client.RecvBufferSize = 1000;
  ReadProgress progress;
  progress.Attach(client);
  client.OpenConnection();
  {
    TNetFileStream file(path, TNetFileStream::fmCreate);
    client.ReceiveStream(file, -1, true);
    EXPECT_EQ(file.Position(), 60000);
  }
  EXPECT_EQ(skelder::test::ReadFile(path), payload);
  progress.ExpectSteadyUpTo(60000);
  EXPECT_FALSE(client.IsConnected());
}

TEST(TcpReceive, DataOfManyBlocksSentAtOnceArrivesWhole) {
  // Several blocks' worth, in receives of 8,192: the cap per wait and the block hand-over both
  // come into play.
  const std::string payload = Pattern(3 * kReceiveBlockSize + 12345);
  FaultServer server({FaultScript().Send(payload).Close()});
  TNetTCPClient client;
  Aim(client, server);
  client.RecvBufferSize = 8192;
  ReadProgress progress;
  progress.Attach(client);
  client.OpenConnection();
  TNetMemoryStream stream;
  client.ReceiveStream(stream, -1, true);
  EXPECT_TRUE(stream.Data() == payload) << "sizes " << stream.Data().size() << " and " << payload.size();
  progress.ExpectSteadyUpTo(static_cast<int64_t>(payload.size()));
}

TEST(TcpReceive, KnownCountTakesNoByteBeyondIt) {
  const std::string payload = Pattern(kReceiveBlockSize + 5000);
  FaultServer server({FaultScript().Send(payload + "tail\r\n").Stall()});
  TNetTCPClient client;
  Aim(client, server);
  client.ReadTimeout = 5000;
  ReadProgress progress;
  progress.Attach(client);
  client.OpenConnection();
  TNetMemoryStream stream;
  client.ReceiveStream(stream, static_cast<int64_t>(payload.size()), false);
  EXPECT_TRUE(stream.Data() == payload);
  progress.ExpectSteadyUpTo(static_cast<int64_t>(payload.size()));
  EXPECT_EQ(client.ReadLine(), "tail");
}

TEST(TcpReceive, KnownCountCutShortByACloseFailsAndKeepsWhatCame) {
  const std::string payload = Pattern(70000);
  FaultServer server({FaultScript().Send(payload).Close()});
  TNetTCPClient client;
  Aim(client, server);
  client.OpenConnection();
  TNetMemoryStream stream;
  EXPECT_THROW(client.ReceiveStream(stream, 100000, false), ENetConnClosedGracefully);
  EXPECT_TRUE(stream.Data() == payload) << "got " << stream.Data().size() << " bytes";
}

TEST(TcpReceive, ResetAfterDataFailsTheTransferAndKeepsAPrefix) {
  const std::string payload = Pattern(200000);
  FaultServer server({FaultScript().Send(payload).Sleep(50ms).Reset()});
  TNetTCPClient client;
  Aim(client, server);
  client.ReadTimeout = 5000;
  client.OpenConnection();
  TNetMemoryStream stream;
  // The reset may reach us before or after the last bytes were read; either way the transfer
  // fails, and what was kept is the data as sent.
  EXPECT_THROW(client.ReceiveStream(stream, 300000, false), skelder::net::ENetException);
  EXPECT_TRUE(stream.Data() == payload.substr(0, stream.Data().size()));
}

TEST(TcpReceive, InterceptAndFilterStillSeeEveryByte) {
  std::string payload;
  for (int i = 0; i < 20000; ++i) payload += static_cast<char>('a' + i % 26);
  payload[5] = static_cast<char>(0xE1);  // the filter clears the top bit
  std::string expected = payload;
  // The intercept sees the bytes as received, the filter what the intercept made of them.
  for (char& c : expected) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    c = static_cast<char>(static_cast<unsigned char>(c) & 0x7F);
  }
  FaultServer server({FaultScript().SendSlowly(payload, 1500, 1ms).Close()});
  TNetTCPClient client;
  Aim(client, server);
  client.RecvBufferSize = 1024;
  client.ASCIIFilter = true;
  skelder::net::TNetConnectionIntercept intercept;
  int64_t seen = 0;
  intercept.OnReceive = [&](skelder::net::TNetConnectionIntercept*, std::string& d) {
    EXPECT_LE(d.size(), 1024u);
    seen += static_cast<int64_t>(d.size());
    for (char& c : d) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  };
  client.SetIntercept(&intercept);
  ReadProgress progress;
  progress.Attach(client);
  client.OpenConnection();
  TNetMemoryStream stream;
  client.ReceiveStream(stream, -1, true);
  EXPECT_EQ(seen, 20000);
  EXPECT_TRUE(stream.Data() == expected);
  progress.ExpectSteadyUpTo(20000);
}
