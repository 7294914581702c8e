// The WinSock stack under Windows (wine here): WS2_32.DLL bound at run time, the system's own
// error numbers for a refused connect, an unknown host and a closed socket, and the stub error
// for an entry of a library that is not loaded.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "net/net_component.h"
#include "net/net_exception.h"
#include "net/net_stack.h"
#include "net/win32/net_win_sock2.h"
#include "platform/win32/win32_text.h"

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

  // An unknown host, by the lookup itself and by the name resolution the layers above use.
  for (const bool resolve : {false, true}) {
    try {
      resolve ? stack.ResolveName("no-such-host.invalid") : stack.HostAddressByName("no-such-host.invalid");
      ADD_FAILURE() << "an unknown host was found";
    } catch (const ENetSocketError& e) {
      EXPECT_EQ(e.LastError, kErrHostNotFound);
      EXPECT_STREQ(e.what(), "Socket Error # 11001\r\nHost not found.");
    }
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

// The stub error: code 10093, the system's text for it, then the title that names the entry.
void ExpectStubError(const std::function<void()>& call, const std::string& name) {
  try {
    call();
    ADD_FAILURE() << "the entry " << name << " called into nothing without an error";
  } catch (const ENetWS2StubError& e) {
    EXPECT_EQ(e.Win32Error, 10093u);
    EXPECT_EQ(e.Title, "Error on call Winsock2 library function " + name);
    EXPECT_EQ(e.Win32ErrorMessage, platform::SystemErrorText(10093));
    EXPECT_FALSE(e.Win32ErrorMessage.empty());
    EXPECT_EQ(std::string(e.what()), e.Win32ErrorMessage + ": " + e.Title);
  }
}

TEST(WinsockBinding, AnEntryTheLoadedLibraryLacksRaisesTheStubError) {
  ASSERT_EQ(winsock2::Startup(winsock2::kRequestedVersion), 0);
  // Entries live as long as the process: the list of entries is walked again at its end.
  static auto* missing = new winsock2::Entry<int(WSAAPI*)(int)>("SkelderNoSuchWinsockFunction");
  ExpectStubError([] { (*missing)(1); }, "SkelderNoSuchWinsockFunction");
  // The library is still there for the entries it has.
  EXPECT_TRUE(winsock2::Loaded());
  EXPECT_EQ(winsock2::htons(0x0102), 0x0201);
}

TEST(WinsockBinding, AnEntryOfALibraryThatIsNotLoadedRaisesTheStubError) {
  // No component lives: the library of an earlier test may still be loaded, so release it.
  winsock2::Release();
  ExpectStubError([] { winsock2::socket(AF_INET, SOCK_STREAM, 0); }, "socket");
}

}  // namespace
}  // namespace skelder::net
