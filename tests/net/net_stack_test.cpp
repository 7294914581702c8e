// The socket stack: error texts and numbers, address texts, name and service lookups, select,
// and the stack's life tied to the number of live components.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "net/net_component.h"
#include "net/net_exception.h"
#include "net/net_socket_handle.h"
#include "net/net_stack.h"
#ifndef _WIN32
#include "net/posix/net_stack_posix.h"
#endif

using namespace skelder::net;

namespace {

// Keeps the process-wide stack alive for a test.
class StackTest : public ::testing::Test {
 protected:
  TNetComponent holder;
  TNetStack& stack = ProcessStack();
};

}  // namespace

TEST_F(StackTest, ErrorTextFillsTheTemplateWithCodeAndText) {
  EXPECT_EQ(stack.ErrorText(10061), "Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(stack.ErrorText(10054), "Socket Error # 10054\r\nConnection reset by peer.");
  EXPECT_EQ(stack.ErrorText(10058), "Socket Error # 10058\r\nCannot send or receive after socket is closed.");
  // Codes outside the table end with the line break and nothing after it.
  EXPECT_EQ(stack.ErrorText(1), "Socket Error # 1\r\n");
  EXPECT_EQ(stack.ErrorText(10068), "Socket Error # 10068\r\n");
  // The texts that are easy to get wrong: a trailing blank, a missing full stop.
  EXPECT_EQ(stack.ErrorText(10035), "Socket Error # 10035\r\nOperation would block. ");
  EXPECT_EQ(stack.ErrorText(10066), "Socket Error # 10066\r\nDirectory not empty");
  // Both stacks know the host-lookup code.
  EXPECT_EQ(stack.ErrorText(11001), "Socket Error # 11001\r\nHost not found.");
}

// errno values are POSIX's own; on Windows the numbers come straight from WSAGetLastError (the
// WinSock stack's tests show them).
#ifndef _WIN32
TEST(StackErrorNumbers, PlatformErrorsMapOntoTheNumbersTheLayersAboveCompare) {
  EXPECT_EQ(MapPosixError(EINTR), 10004);
  EXPECT_EQ(MapPosixError(EBADF), 10009);
  EXPECT_EQ(MapPosixError(EACCES), 10013);
  EXPECT_EQ(MapPosixError(EINVAL), 10022);
  EXPECT_EQ(MapPosixError(EAGAIN), 10035);
  EXPECT_EQ(MapPosixError(EWOULDBLOCK), 10035);
  EXPECT_EQ(MapPosixError(EINPROGRESS), 10036);
  EXPECT_EQ(MapPosixError(ENOTSOCK), 10038);
  EXPECT_EQ(MapPosixError(EADDRINUSE), 10048);
  EXPECT_EQ(MapPosixError(EADDRNOTAVAIL), 10049);
  EXPECT_EQ(MapPosixError(ECONNABORTED), 10053);
  EXPECT_EQ(MapPosixError(ECONNRESET), 10054);
  EXPECT_EQ(MapPosixError(EPIPE), 10058);
  EXPECT_EQ(MapPosixError(ESHUTDOWN), 10058);
  EXPECT_EQ(MapPosixError(ETIMEDOUT), 10060);
  EXPECT_EQ(MapPosixError(ECONNREFUSED), 10061);
  EXPECT_EQ(MapPosixError(EHOSTUNREACH), 10065);
  EXPECT_EQ(MapPosixError(ENOTEMPTY), 10066);
  EXPECT_EQ(MapPosixError(EREMOTE), 10071);
}
#endif

TEST_F(StackTest, CheckSocketResultRecordsEveryFailureAndRaisesUnlessIgnored) {
  EXPECT_FALSE(stack.CheckSocketResult(0));
  EXPECT_FALSE(stack.CheckSocketResult(17));
  // Closing what is no open socket fails: EBADF on POSIX, the system's own 10038 on Windows.
#ifdef _WIN32
  const int32_t code = kErrNotSocket;
  const char* text = "Socket Error # 10038\r\nSocket operation on non-socket.";
#else
  const int32_t code = kErrBadFile;
  const char* text = "Socket Error # 10009\r\nBad file number.";
#endif
  int result = stack.SockClose(987654);
  EXPECT_TRUE(stack.CheckSocketResult(result, {code}));
  EXPECT_EQ(stack.LastError(), code);
  try {
    stack.CheckSocketResult(stack.SockClose(987654), {kErrConnReset});
    FAIL() << "no exception";
  } catch (const ENetSocketError& e) {
    EXPECT_EQ(e.LastError, code);
    EXPECT_STREQ(e.what(), text);
  }
}

TEST(StackAddresses, DottedAddressNeedsFourDecimalPartsUpTo255) {
  EXPECT_TRUE(TNetStack::IsDottedAddress("192.168.1.1"));
  EXPECT_TRUE(TNetStack::IsDottedAddress("0.0.0.0"));
  EXPECT_FALSE(TNetStack::IsDottedAddress("256.1.1.1"));
  EXPECT_FALSE(TNetStack::IsDottedAddress("1.2.3"));
  EXPECT_FALSE(TNetStack::IsDottedAddress("1.2.3.4.5"));
  EXPECT_FALSE(TNetStack::IsDottedAddress("a.b.c.d"));
  EXPECT_FALSE(TNetStack::IsDottedAddress(""));
  EXPECT_FALSE(TNetStack::IsDottedAddress("1..3.4"));
  EXPECT_FALSE(TNetStack::IsDottedAddress("1.2.3.-4"));
}

TEST_F(StackTest, ResolveNameShortCutsLocalhostAndDottedText) {
  EXPECT_EQ(stack.ResolveName("localhost"), "127.0.0.1");
  EXPECT_EQ(stack.ResolveName("LocalHost"), "127.0.0.1");
  EXPECT_EQ(stack.ResolveName("10.0.0.1"), "10.0.0.1");
}

TEST_F(StackTest, FailedLookupRaisesHostNotFound) {
  // ".invalid" never resolves (reserved name), and a resolver answers it without a network.
  try {
    stack.ResolveName("no-such-host.invalid");
    FAIL() << "no exception";
  } catch (const ENetSocketError& e) {
    EXPECT_EQ(e.LastError, kErrHostNotFound);
    EXPECT_STREQ(e.what(), "Socket Error # 11001\r\nHost not found.");
  }
}

TEST_F(StackTest, AddressTextRoundTripsAndRejectsNonNumbers) {
  auto bytes = stack.TextToAddress("10.0.0.7");
  EXPECT_EQ(bytes[0], 10);
  EXPECT_EQ(bytes[3], 7);
  EXPECT_EQ(stack.AddressToText({192, 168, 0, 5}), "192.168.0.5");
  EXPECT_THROW(stack.TextToAddress("10.0.x.7"), ENetException);
  EXPECT_THROW(stack.TextToAddress("10.0.7"), ENetException);
}

TEST_F(StackTest, ServicePortByNameOrNumber) {
  EXPECT_EQ(stack.ServicePort("2121"), 2121);
  // /etc/services is part of the base system; skip only if this one lacks it.
  try {
    EXPECT_EQ(stack.ServicePort("ftp"), 21);
  } catch (const ENetInvalidServiceName&) {
    GTEST_SKIP() << "no services database here";
  }
  try {
    stack.ServicePort("no-such-service");
    FAIL() << "no exception";
  } catch (const ENetInvalidServiceName& e) {
    EXPECT_STREQ(e.what(), "no-such-service is not a valid service.");
  }
}

TEST_F(StackTest, ByteOrderConversions) {
  // Network order puts the high byte first in memory.
  const uint16_t net16 = stack.HostToNet16(0x1234);
  unsigned char bytes[2];
  std::memcpy(bytes, &net16, 2);
  EXPECT_EQ(bytes[0], 0x12);
  EXPECT_EQ(bytes[1], 0x34);
  EXPECT_EQ(stack.NetToHost32(stack.HostToNet32(0x01020304u)), 0x01020304u);
}

TEST_F(StackTest, SelectRefusesMoreThan64SocketsBeforeAnyWait) {
  std::vector<TNetSocket> many(65, 0);
  try {
    // With a wait without limit, only raising first can end this call.
    stack.SockSelect(&many, nullptr, nullptr, kWaitForever);
    FAIL() << "no exception";
  } catch (const ENetStackSetSizeExceeded& e) {
    EXPECT_STREQ(e.what(), "Set Size Exceeded.");
  }
  TNetSocketList set;
  for (int i = 0; i < kMaxSocketSet; ++i) set.Add(i);
  EXPECT_THROW(set.Add(99), ENetStackSetSizeExceeded);
  EXPECT_THROW(set.Item(64), ENetStackSetSizeExceeded);
  set.Remove(0);
  EXPECT_EQ(set.Count(), 63);
  EXPECT_EQ(set.Item(0), 63);  // the last one moved into the freed slot
}

TEST_F(StackTest, SelectReportsOnlyReadySocketsAndTimesOut) {
  TNetSocketHandle listener;
  listener.OpenSocket();
  listener.IP = "127.0.0.1";
  listener.BindLocal();
  listener.ListenOn(4);

  std::vector<TNetSocket> read{listener.Socket()};
  EXPECT_EQ(stack.SockSelect(&read, nullptr, nullptr, 0), 0);
  EXPECT_TRUE(read.empty());

  TNetSocketHandle client;
  client.OpenSocket();
  client.SetPeerAddress("127.0.0.1", listener.Port);
  ASSERT_EQ(client.ConnectPeer(), 0);
  TNetSocketHandle server;
  ASSERT_TRUE(server.AcceptFrom(listener.Socket()));

  // Nothing pending anywhere now: the wait times out with an empty list.
  read = {listener.Socket(), server.Socket(), client.Socket()};
  EXPECT_EQ(stack.SockSelect(&read, nullptr, nullptr, 50), 0);
  EXPECT_TRUE(read.empty());

  ASSERT_EQ(client.SendData("x", 1, 0), 1);
  read = {listener.Socket(), server.Socket(), client.Socket()};
  EXPECT_EQ(stack.SockSelect(&read, nullptr, nullptr, 2000), 1);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0], server.Socket());
}

TEST(StackLifecycle, StackLivesExactlyWhileComponentsLive) {
  ASSERT_EQ(LiveComponentCount(), 0);
  EXPECT_EQ(ProcessStackOrNull(), nullptr);
  EXPECT_THROW(ProcessStack(), ENetException);
  TNetStack* first = nullptr;
  {
    TNetComponent a;
    first = ProcessStackOrNull();
    ASSERT_NE(first, nullptr);
    {
      TNetComponent b;
      EXPECT_EQ(ProcessStackOrNull(), first);
      EXPECT_EQ(LiveComponentCount(), 2);
    }
    EXPECT_EQ(ProcessStackOrNull(), first);
  }
  EXPECT_EQ(ProcessStackOrNull(), nullptr);
}

TEST(StackLifecycle, FailedStartUpCountsNoComponentAndTheNextOneTriesAgain) {
  SetStackFactory([]() -> std::unique_ptr<TNetStack> { throw ENetStackInitializationFailed(); });
  try {
    TNetComponent c;
    FAIL() << "no exception";
  } catch (const ENetStackInitializationFailed& e) {
    EXPECT_STREQ(e.what(), "Winsock Initialization Error.");
  }
  EXPECT_EQ(LiveComponentCount(), 0);
  SetStackFactory(nullptr);
  TNetComponent c;
  EXPECT_NE(ProcessStackOrNull(), nullptr);
}
