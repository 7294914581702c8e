// The WinSock stack under Windows (wine here): WS2_32.DLL bound at run time, the system's own
// error numbers for a refused connect, an unknown host and a closed socket, and the stub error
// for an entry of a library that is not loaded.
#include <gtest/gtest.h>

#include "net/net_component.h"
#include "net/net_exception.h"
#include "net/net_stack.h"
#include "net/win32/net_win_sock2.h"

namespace skelder::net {
namespace {

class WinsockStack : public ::testing::Test {
 protected:
  TNetComponent holder;
  TNetStack& stack = ProcessStack();

  // A port on loopback that nobody listens on: bound, never listening, for the test's length.
  int32_t RefusingPort(TNetSocket& bound) {
    bound = stack.NewSocket(kSockStream, kIpProtoTcp);
    EXPECT_EQ(stack.SockBind(bound, kAfInet, "127.0.0.1", 0), 0);
    int family = 0;
    std::string ip;
    int32_t port = 0;
    stack.LocalAddressOf(bound, family, ip, port);
    return port;
  }
};

TEST_F(WinsockStack, ErrorsAreTheSystemsOwnNumbers) {
  TNetSocket bound = kNoSocket;
  const int32_t port = RefusingPort(bound);
  TNetSocket client = stack.NewSocket(kSockStream, kIpProtoTcp);
  EXPECT_EQ(stack.SockConnect(client, kAfInet, "127.0.0.1", port), -1);
  EXPECT_EQ(stack.LastSocketError(), kErrConnRefused);
  stack.SockClose(client);
  stack.SockClose(bound);

  // A closed socket is no socket any more.
  char byte = 0;
  EXPECT_EQ(stack.SockSend(client, &byte, 1, 0), -1);
  EXPECT_EQ(stack.LastSocketError(), kErrNotSocket);

  try {
    stack.HostAddressByName("no-such-host.invalid");
    FAIL() << "an unknown host was found";
  } catch (const ENetSocketError& e) {
    EXPECT_EQ(e.LastError, kErrHostNotFound);
  }
  EXPECT_EQ(stack.ErrorText(10061), "Socket Error # 10061\r\nConnection refused.");
}

TEST_F(WinsockStack, AConnectionCarriesDataBothWays) {
  TNetSocket listener = stack.NewSocket(kSockStream, kIpProtoTcp);
  ASSERT_EQ(stack.SockBind(listener, kAfInet, "127.0.0.1", 0), 0);
  ASSERT_EQ(stack.SockListen(listener, 1), 0);
  int family = 0;
  std::string ip;
  int32_t port = 0;
  stack.LocalAddressOf(listener, family, ip, port);
  TNetSocket client = stack.NewSocket(kSockStream, kIpProtoTcp);
  ASSERT_EQ(stack.SockConnect(client, kAfInet, "127.0.0.1", port), 0);
  std::vector<TNetSocket> readable{listener};
  ASSERT_EQ(stack.SockSelect(&readable, nullptr, nullptr, 5000), 1);
  std::string peer;
  int32_t peerPort = 0;
  TNetSocket server = stack.SockAccept(listener, peer, peerPort);
  ASSERT_NE(server, kNoSocket);
  EXPECT_EQ(peer, "127.0.0.1");
  ASSERT_EQ(stack.SockSend(client, "220 ok\r\n", 8, 0), 8);
  char buffer[16] = {};
  EXPECT_EQ(stack.SockReceive(server, buffer, sizeof buffer, 0), 8);
  EXPECT_STREQ(buffer, "220 ok\r\n");
  // Nothing more is waiting: a receive that must not wait says so.
  EXPECT_EQ(stack.SockReceiveNow(server, buffer, sizeof buffer), kNothingWaiting);
  for (TNetSocket s : {client, server, listener}) stack.SockClose(s);
}

TEST(WinsockBinding, AnEntryOfALibraryThatIsNotLoadedRaisesTheStubError) {
  // No component lives: the library of an earlier test may still be loaded, so release it.
  winsock2::Release();
  try {
    winsock2::socket(AF_INET, SOCK_STREAM, 0);
    FAIL() << "the entry called into a library that is not loaded";
  } catch (const ENetWS2StubError& e) {
    EXPECT_EQ(e.Win32Error, 10093u);
    EXPECT_EQ(e.Title, "Error on call Winsock2 library function socket");
    EXPECT_NE(std::string(e.what()).find(": Error on call Winsock2 library function socket"), std::string::npos);
  }
}

}  // namespace
}  // namespace skelder::net
