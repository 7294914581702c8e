// The responsiveness hook: when it is in use, how waits are cut and when turns run.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "counting_toolkit.h"
#include "net/net_anti_freeze.h"
#include "net/net_component.h"
#include "net/net_exception.h"
#include "net/net_socket_handle.h"

using namespace skelder::net;
using skelder::test::ScopedCountingToolkit;

namespace {

// A connected pair on loopback: `reader` waits, `writer` may send.
struct Pair {
  TNetComponent holder;
  TNetSocketHandle listener, writer, reader;
  Pair() {
    listener.OpenSocket();
    listener.IP = "127.0.0.1";
    listener.BindLocal();
    listener.ListenOn(1);
    writer.OpenSocket();
    writer.SetPeerAddress("127.0.0.1", listener.Port);
    if (writer.ConnectPeer() != 0) throw ENetException("connect failed");
    if (!reader.AcceptFrom(listener.Socket())) throw ENetException("accept failed");
  }
};

}  // namespace

TEST(AntiFreeze, CurrentInstanceFollowsCreationAndAnyDestruction) {
  EXPECT_EQ(TNetAntiFreezeBase::Current(), nullptr);
  EXPECT_FALSE(HookInUse());
  auto older = std::make_unique<TNetAntiFreeze>();
  EXPECT_EQ(TNetAntiFreezeBase::Current(), older.get());
  EXPECT_TRUE(HookInUse());  // gtest runs the test body on the main thread
  auto newer = std::make_unique<TNetAntiFreeze>();
  EXPECT_EQ(TNetAntiFreezeBase::Current(), newer.get());
  older.reset();  // destroying the older one still leaves none
  EXPECT_EQ(TNetAntiFreezeBase::Current(), nullptr);
  EXPECT_FALSE(HookInUse());
}

TEST(AntiFreeze, DefaultsAndActiveFlag) {
  TNetAntiFreeze hook;
  EXPECT_TRUE(hook.Active);
  EXPECT_TRUE(hook.ApplicationHasPriority);
  EXPECT_EQ(hook.IdleTimeOut, 250);
  EXPECT_TRUE(hook.OnlyWhenIdle);
  hook.Active = false;
  EXPECT_FALSE(HookInUse());
  EXPECT_EQ(HookIdleTimeOut(), 0);
}

TEST(AntiFreeze, RunHookHonoursOnlyWhenIdleAndForce) {
  ScopedCountingToolkit toolkit;
  TNetAntiFreeze hook;
  RunHook(false, false);
  EXPECT_EQ(toolkit->turns, 0);
  RunHook(true, false);
  EXPECT_EQ(toolkit->turns, 1);
  RunHook(false, true);
  EXPECT_EQ(toolkit->turns, 2);
  hook.OnlyWhenIdle = false;
  RunHook(false, false);
  EXPECT_EQ(toolkit->turns, 3);
  hook.Active = false;
  RunHook(true, true);
  EXPECT_EQ(toolkit->turns, 3);
}

TEST(AntiFreeze, OtherThreadsNeverRunTurns) {
  ScopedCountingToolkit toolkit;
  TNetAntiFreeze hook;
  bool inUse = true;
  std::thread other([&] {
    inUse = HookInUse();
    RunHook(true, true);
  });
  other.join();
  EXPECT_FALSE(inUse);
  EXPECT_EQ(toolkit->turns, 0);
}

TEST(AntiFreeze, LongWaitIsCutIntoTheRestAndOneIdlePiece) {
  ScopedCountingToolkit toolkit;
  TNetAntiFreeze hook;
  hook.IdleTimeOut = 100;
  Pair pair;
  // 300 ms becomes a wait of 200, a turn, a wait of 100 and a turn.
  EXPECT_FALSE(pair.reader.PollReadable(300));
  EXPECT_EQ(toolkit->turns, 2);
}

TEST(AntiFreeze, WaitThatFindsInputRunsNoTurn) {
  ScopedCountingToolkit toolkit;
  TNetAntiFreeze hook;
  Pair pair;
  ASSERT_EQ(pair.writer.SendData("x", 1, 0), 1);
  EXPECT_TRUE(pair.reader.PollReadable(1000));
  EXPECT_EQ(toolkit->turns, 0);
}

TEST(AntiFreeze, WithoutHookTheWaitIsNotCut) {
  ScopedCountingToolkit toolkit;
  Pair pair;
  EXPECT_FALSE(pair.reader.PollReadable(50));
  EXPECT_EQ(toolkit->turns, 0);
  TNetAntiFreeze hook;
  hook.Active = false;
  EXPECT_FALSE(pair.reader.PollReadable(50));
  EXPECT_EQ(toolkit->turns, 0);
}

TEST(AntiFreeze, EndlessWaitTurnsUntilInputArrivesFromAHandler) {
  ScopedCountingToolkit toolkit;
  TNetAntiFreeze hook;
  hook.IdleTimeOut = 20;
  Pair pair;
  // The user interface "does something" at the third turn: here it makes the input arrive.
  toolkit->onTurn = [&](int turn) {
    if (turn == 3) pair.writer.SendData("x", 1, 0);
  };
  EXPECT_TRUE(pair.reader.PollReadable(kWaitForever));
  EXPECT_EQ(toolkit->turns, 3);
}

TEST(AntiFreeze, HandlerThatClosesTheSocketEndsAnEndlessWait) {
  ScopedCountingToolkit toolkit;
  TNetAntiFreeze hook;
  hook.IdleTimeOut = 20;
  Pair pair;
  toolkit->onTurn = [&](int turn) {
    if (turn == 2) pair.reader.ShutSocket();
  };
  EXPECT_THROW(pair.reader.PollReadable(kWaitForever), ENetConnClosedGracefully);
  EXPECT_EQ(toolkit->turns, 2);
}
