// The binding: port-range walk, bind errors, accept, and the readability wait.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "net/net_component.h"
#include "net/net_exception.h"
#include "net/net_socket_handle.h"
#include "test_support.h"

using namespace skelder::net;

namespace {

class SocketHandleTest : public ::testing::Test {
 protected:
  TNetComponent holder;

  // A socket bound (not listening) to the port on 127.0.0.1, or null if that port is busy.
  static std::unique_ptr<TNetSocketHandle> Occupy(int32_t port) {
    auto h = std::make_unique<TNetSocketHandle>();
    h->OpenSocket();
    h->IP = "127.0.0.1";
    h->Port = port;
    try {
      h->BindLocal();
    } catch (const ENetCouldNotBindSocket&) {
      return nullptr;
    }
    return h;
  }

  // Three consecutive free ports, found by binding them.
  static int32_t FreeRange(std::vector<std::unique_ptr<TNetSocketHandle>>& held) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      int32_t base = skelder::test::ProbeFreePort();
      if (base > 65000) continue;
      held.clear();
      for (int32_t p = base; p < base + 3; ++p) {
        auto h = Occupy(p);
        if (!h) break;
        held.push_back(std::move(h));
      }
      if (held.size() == 3) return base;
    }
    return 0;
  }
};

}  // namespace

TEST_F(SocketHandleTest, RangeWalkStartsAtTheTopAndTakesTheFirstFreePort) {
  std::vector<std::unique_ptr<TNetSocketHandle>> held;
  int32_t base = FreeRange(held);
  ASSERT_NE(base, 0);
  // Keep the top port busy, free the two below it: the walk goes max, then max - 1.
  held[0].reset();
  held[1].reset();
  TNetSocketHandle h;
  h.OpenSocket();
  h.IP = "127.0.0.1";
  h.ClientPortMin = base;
  h.ClientPortMax = base + 2;
  h.BindLocal();
  EXPECT_EQ(h.Port, base + 1);
  EXPECT_EQ(h.IP, "127.0.0.1");
}

TEST_F(SocketHandleTest, RangeWithEveryPortTakenRaisesAndLeavesPortAtTheBottom) {
  std::vector<std::unique_ptr<TNetSocketHandle>> held;
  int32_t base = FreeRange(held);
  ASSERT_NE(base, 0);
  TNetSocketHandle h;
  h.OpenSocket();
  h.IP = "127.0.0.1";
  h.ClientPortMin = base;
  h.ClientPortMax = base + 2;
  try {
    h.BindLocal();
    FAIL() << "no exception";
  } catch (const ENetCanNotBindPortInRange& e) {
    EXPECT_EQ(std::string(e.what()),
              "Can not bind in port range (" + std::to_string(base) + " - " + std::to_string(base + 2) + ")");
  }
  EXPECT_EQ(h.Port, base);
}

TEST_F(SocketHandleTest, ReversedRangeRaisesInvalidPortRange) {
  TNetSocketHandle h;
  h.OpenSocket();
  h.ClientPortMin = 5002;
  h.ClientPortMax = 5000;
  try {
    h.BindLocal();
    FAIL() << "no exception";
  } catch (const ENetInvalidPortRange& e) {
    EXPECT_STREQ(e.what(), "Invalid Port Range (5002 - 5000)");
  }
}

TEST_F(SocketHandleTest, FixedPortWinsOverTheRangeAndReportsItInUse) {
  std::vector<std::unique_ptr<TNetSocketHandle>> held;
  int32_t base = FreeRange(held);
  ASSERT_NE(base, 0);
  held[1].reset();  // base + 1 free, base taken
  TNetSocketHandle h;
  h.OpenSocket();
  h.IP = "127.0.0.1";
  h.Port = base;  // a fixed port is bound once, the range is not walked
  h.ClientPortMin = base;
  h.ClientPortMax = base + 2;
  try {
    h.BindLocal();
    FAIL() << "no exception";
  } catch (const ENetCouldNotBindSocket& e) {
    EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
  }
}

TEST_F(SocketHandleTest, PortZeroLetsTheSystemChooseAndTheHandleLearnsIt) {
  TNetSocketHandle h;
  h.OpenSocket();
  h.IP = "127.0.0.1";
  h.BindLocal();
  EXPECT_GT(h.Port, 0);
}

TEST_F(SocketHandleTest, AcceptLearnsBothEndsAndShutSocketForgetsTheSocket) {
  TNetSocketHandle listener;
  listener.OpenSocket();
  listener.IP = "127.0.0.1";
  listener.BindLocal();
  listener.ListenOn(1);
  TNetSocketHandle client;
  client.OpenSocket();
  client.SetPeerAddress("127.0.0.1", listener.Port);
  ASSERT_EQ(client.ConnectPeer(), 0);
  EXPECT_EQ(client.PeerPort, listener.Port);

  TNetSocketHandle accepted;
  ASSERT_TRUE(listener.PollReadable(2000));
  ASSERT_TRUE(accepted.AcceptFrom(listener.Socket()));
  EXPECT_TRUE(accepted.Allocated());
  EXPECT_EQ(accepted.Port, listener.Port);
  EXPECT_EQ(accepted.PeerPort, client.Port);

  accepted.ShutSocket();
  EXPECT_FALSE(accepted.Allocated());
  EXPECT_EQ(accepted.Socket(), kNoSocket);
  EXPECT_EQ(accepted.PeerPort, client.Port);  // addresses outlive the socket
  // The client reads end of data after the shutdown.
  ASSERT_TRUE(client.PollReadable(2000));
  char c;
  EXPECT_EQ(client.ReceiveData(&c, 1, 0), 0);
}

TEST_F(SocketHandleTest, WaitingWithoutSocketRaisesClosedGracefully) {
  TNetSocketHandle h;
  try {
    h.PollReadable(10);
    FAIL() << "no exception";
  } catch (const ENetConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
}

TEST_F(SocketHandleTest, AssignCopiesAddressesButNeverTheSocket) {
  TNetSocketHandle a;
  a.OpenSocket();
  a.IP = "127.0.0.1";
  a.Port = 7;
  a.SetPeerAddress("127.0.0.2", 8);
  TNetSocketHandle b;
  b.Assign(a);
  EXPECT_EQ(b.IP, "127.0.0.1");
  EXPECT_EQ(b.Port, 7);
  EXPECT_EQ(b.PeerIP, "127.0.0.2");
  EXPECT_EQ(b.PeerPort, 8);
  EXPECT_FALSE(b.Allocated());
}
