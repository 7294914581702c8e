// The SOCKS exchanges byte for byte against a scripted proxy: the request bytes of each version,
// every reply code, the bound-address forms that must be read past, replies that arrive in
// pieces, proxies that close or fall silent, and fields too long for their length byte.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "fault_server.h"
#include "ftp/net_io_handler_socket.h"
#include "ftp/net_socks.h"
#include "ftp/net_tcp_client.h"

namespace skelder::ftp {
namespace {

using namespace std::chrono_literals;
using test::FaultScript;
using test::FaultServer;
using test::FaultSession;

// Reads exactly n raw bytes of the client's request before the script answers it.
FaultScript& ReadBytes(FaultScript& script, size_t n) {
  return script.Custom([n](FaultSession& s) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (got.size() < n && std::chrono::steady_clock::now() < end) {
      if (test::WaitForSocket(s.fd(), false, 50) <= 0) continue;
      char buf[600];
      const long r = test::ReceiveSome(s.fd(), buf, std::min(sizeof buf, n - got.size()));
      if (r <= 0) break;
      got.append(buf, static_cast<size_t>(r));
    }
    s.server().RecordData(s.index(), got);
    return got.size() == n;
  });
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

const std::string kOk5 = Bytes({5, 0, 0, 1, 10, 0, 0, 1, 0x12, 0x34});  // bound 10.0.0.1:4660
const std::string kOk4 = Bytes({0, 90, 0, 0, 0, 0, 0, 0});

class SocksExchange : public ::testing::Test {
 protected:
  // A client that reaches `target` through the scripted proxy.
  void Start(FaultScript script, TSocksVersion version, const std::string& target = "127.0.0.9",
             int32_t targetPort = 0x1F90) {
    server_ = std::make_unique<FaultServer>(std::vector<FaultScript>{std::move(script)});
    handler_ = std::make_unique<TNetIOHandlerSocket>();
    TNetSocksInfo& socks = handler_->SocksInfo();
    socks.Version = version;
    socks.Host = server_->host();
    socks.Port = server_->port();
    socks.ReplyTimeout = 3000;
    client_ = std::make_unique<TNetTCPClient>();
    client_->SetIOHandler(handler_.get());
    client_->ReadTimeout = 3000;
    client_->SetHost(target);
    client_->SetPortNumber(targetPort);
  }
  TNetSocksInfo& Socks() { return handler_->SocksInfo(); }

  // Everything the proxy received, once the client has gone.
  std::string Received() {
    client_->CloseConnection();
    server_->WaitDone(3s);
    return server_->ReceivedData(0);
  }

  void TearDown() override {
    client_.reset();
    handler_.reset();
    if (server_) {
      EXPECT_TRUE(server_->Failures().empty());
    }
  }

  std::unique_ptr<FaultServer> server_;
  std::unique_ptr<TNetIOHandlerSocket> handler_;
  std::unique_ptr<TNetTCPClient> client_;
};

TEST_F(SocksExchange, Socks4WithoutUserNameSendsNineBytes) {
  FaultScript script;
  ReadBytes(script, 9).Send(kOk4 + "220 via four\r\n").ReadUntilClose();
  Start(std::move(script), svSocks4, "127.0.0.9", 8080);
  client_->OpenConnection(3000);
  EXPECT_EQ(client_->ReadLine(), "220 via four");
  EXPECT_EQ(Received(), Bytes({4, 1, 0x1F, 0x90, 127, 0, 0, 9, 0}));
}

TEST_F(SocksExchange, Socks4ResolvesTheTargetAndSendsTheUserName) {
  FaultScript script;
  ReadBytes(script, 12).Send(kOk4).ReadUntilClose();
  Start(std::move(script), svSocks4, "LocalHost", 21);
  Socks().Username = "bob";
  client_->OpenConnection(3000);
  EXPECT_EQ(Received(), Bytes({4, 1, 0, 21, 127, 0, 0, 1}) + "bob" + Bytes({0}));
}

TEST_F(SocksExchange, Socks4ASendsTheNameAfterTheUserName) {
  FaultScript script;
  ReadBytes(script, 9 + 3 + 16).Send(kOk4).ReadUntilClose();
  Start(std::move(script), svSocks4A, "ftp.example.test", 21);
  Socks().Username = "ann";
  client_->OpenConnection(3000);
  EXPECT_EQ(Received(), Bytes({4, 1, 0, 21, 0, 0, 0, 1}) + "ann" + Bytes({0}) + "ftp.example.test" + Bytes({0}));
}

TEST_F(SocksExchange, Socks4ReplyCodes) {
  struct Case {
    int code;
    const char* message;
  };
  for (const Case& c :
       {Case{91, "Request rejected or failed."}, Case{92, "Request rejected because SOCKS server cannot connect."},
        Case{93, "Request rejected because the client program and identd report different user-ids."},
        Case{0, "Unknown socks error."}, Case{94, "Unknown socks error."}}) {
    SCOPED_TRACE(c.code);
    FaultScript script;
    ReadBytes(script, 9).Send(Bytes({0, c.code, 0, 0, 0, 0, 0, 0})).ReadUntilClose();
    Start(std::move(script), svSocks4);
    try {
      client_->OpenConnection(3000);
      ADD_FAILURE() << "no error";
    } catch (const ENetSocksError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    // The failed opening dropped the socket.
    EXPECT_FALSE(client_->IsConnected());
  }
}

TEST_F(SocksExchange, Socks5WithoutAuthenticationSendsTheHostAsAName) {
  FaultScript script;
  ReadBytes(script, 3).Send(Bytes({5, 0}));
  ReadBytes(script, 7 + 9).Send(kOk5 + "220 via five\r\n").ReadUntilClose();
  Start(std::move(script), svSocks5, "127.0.0.9", 21);
  client_->OpenConnection(3000);
  EXPECT_EQ(client_->ReadLine(), "220 via five");
  EXPECT_EQ(Received(), Bytes({5, 1, 0}) + Bytes({5, 1, 0, 3, 9}) + "127.0.0.9" + Bytes({0, 21}));
}

TEST_F(SocksExchange, Socks5WithUserNameAndPassword) {
  FaultScript script;
  ReadBytes(script, 3).Send(Bytes({5, 2}));
  ReadBytes(script, 3 + 5 + 8).Send(Bytes({1, 0}));
  ReadBytes(script, 7 + 8).Send(kOk5).ReadUntilClose();
  Start(std::move(script), svSocks5, "ftp.test", 2121);
  Socks().Authentication = saUsernamePassword;
  Socks().Username = "alice";
  Socks().Password = "s3cr:t@x";
  client_->OpenConnection(3000);
  EXPECT_EQ(Received(), Bytes({5, 1, 2}) + Bytes({1, 5}) + "alice" + Bytes({8}) + "s3cr:t@x" + Bytes({5, 1, 0, 3, 8}) +
                            "ftp.test" + Bytes({0x08, 0x49}));
}

TEST_F(SocksExchange, Socks5RefusedPasswordRaisesAuthError) {
  FaultScript script;
  ReadBytes(script, 3).Send(Bytes({5, 2}));
  ReadBytes(script, 3 + 1 + 1).Send(Bytes({1, 1})).ReadUntilClose();
  Start(std::move(script), svSocks5);
  Socks().Authentication = saUsernamePassword;
  Socks().Username = "u";
  Socks().Password = "p";
  EXPECT_THROW(client_->OpenConnection(3000), ENetSocksAuthError);
  // No connect request followed the refusal.
  EXPECT_EQ(Received(), Bytes({5, 1, 2, 1, 1}) + "u" + Bytes({1}) + "p");
}

TEST_F(SocksExchange, Socks5OtherMethodThanOfferedStopsBeforeTheUserName) {
  for (int chosen : {0, 255}) {
    SCOPED_TRACE(chosen);
    FaultScript script;
    ReadBytes(script, 3).Send(Bytes({5, chosen})).ReadUntilClose();
    Start(std::move(script), svSocks5);
    Socks().Authentication = saUsernamePassword;
    Socks().Username = "never-sent";
    Socks().Password = "never-sent-either";
    try {
      client_->OpenConnection(3000);
      ADD_FAILURE() << "no error";
    } catch (const ENetSocksAuthMethodError& e) {
      EXPECT_STREQ(e.what(), "Invalid socks authentication method.");
    }
    EXPECT_EQ(Received(), Bytes({5, 1, 2}));
  }
  // Offering none and being asked for a password is just as wrong.
  FaultScript script;
  ReadBytes(script, 3).Send(Bytes({5, 2})).ReadUntilClose();
  Start(std::move(script), svSocks5);
  EXPECT_THROW(client_->OpenConnection(3000), ENetSocksAuthMethodError);
}

TEST_F(SocksExchange, Socks5ReplyCodes) {
  const char* messages[] = {nullptr,
                            "General SOCKS server failure.",
                            "Connection not allowed by ruleset.",
                            "Network unreachable.",
                            "Host unreachable.",
                            "Connection refused.",
                            "TTL expired.",
                            "Command not supported.",
                            "Address type not supported.",
                            "Unknown socks error.",
                            "Unknown socks error."};
  for (int code = 1; code <= 10; ++code) {
    SCOPED_TRACE(code);
    FaultScript script;
    ReadBytes(script, 3).Send(Bytes({5, 0}));
    ReadBytes(script, 7 + 9).Send(Bytes({5, code == 10 ? 255 : code, 0, 1, 0, 0, 0, 0, 0, 0})).ReadUntilClose();
    Start(std::move(script), svSocks5);
    try {
      client_->OpenConnection(3000);
      ADD_FAILURE() << "no error";
    } catch (const ENetSocksError& e) {
      EXPECT_STREQ(e.what(), messages[code]);
    }
    EXPECT_FALSE(client_->IsConnected());
  }
}

// The bound address is read to its end whatever its form, so the target's first line is whole.
TEST_F(SocksExchange, Socks5BoundAddressFormsAreReadPast) {
  const std::string tail = "220 target\r\n";
  const std::string forms[] = {
      Bytes({5, 0, 0, 1, 1, 2, 3, 4, 0, 21}), Bytes({5, 0, 0, 3, 7}) + "bound.x" + Bytes({0, 21}),
      Bytes({5, 0, 0, 3, 0, 0, 21}),          Bytes({5, 0, 0, 4}) + std::string(16, '\x01') + Bytes({0, 21}),
      Bytes({5, 0, 0, 9, 0, 0, 21}),  // unknown type: two more after the first five
  };
  for (const auto& reply : forms) {
    SCOPED_TRACE(reply.size());
    FaultScript script;
    ReadBytes(script, 3).Send(Bytes({5, 0}));
    ReadBytes(script, 7 + 9).Send(reply + tail).ReadUntilClose();
    Start(std::move(script), svSocks5);
    client_->OpenConnection(3000);
    EXPECT_EQ(client_->ReadLine(), "220 target");
    client_->CloseConnection();
  }
}

TEST_F(SocksExchange, RepliesArrivingInPiecesAreReadToTheirCount) {
  FaultScript script;
  ReadBytes(script, 3).SendSlowly(Bytes({5, 0}), 1, 30ms);
  ReadBytes(script, 7 + 9).SendSlowly(kOk5 + "220 slow\r\n", 1, 10ms).ReadUntilClose();
  Start(std::move(script), svSocks5);
  client_->OpenConnection(3000);
  EXPECT_EQ(client_->ReadLine(), "220 slow");

  FaultScript four;
  ReadBytes(four, 9).SendSlowly(kOk4 + "220 four\r\n", 3, 20ms).ReadUntilClose();
  Start(std::move(four), svSocks4);
  client_->OpenConnection(3000);
  EXPECT_EQ(client_->ReadLine(), "220 four");
}

TEST_F(SocksExchange, ProxyThatClosesOrFallsSilentDidNotRespond) {
  struct Case {
    const char* what;
    TSocksVersion version;
    std::function<void(FaultScript&)> play;
  };
  const Case cases[] = {
      {"closes before the method choice", svSocks5, [](FaultScript& s) { ReadBytes(s, 3).Close(); }},
      {"half a method choice", svSocks5, [](FaultScript& s) { ReadBytes(s, 3).Send(Bytes({5})).Close(); }},
      {"half a connect reply", svSocks5,
       [](FaultScript& s) {
         ReadBytes(s, 3).Send(Bytes({5, 0}));
         ReadBytes(s, 16).Send(Bytes({5, 0, 0, 1, 127, 0})).Close();
       }},
      {"silent after the connect request", svSocks5,
       [](FaultScript& s) {
         ReadBytes(s, 3).Send(Bytes({5, 0}));
         ReadBytes(s, 16).Stall();
       }},
      {"silent SOCKS 4 proxy", svSocks4, [](FaultScript& s) { ReadBytes(s, 9).Stall(); }},
      {"short SOCKS 4 reply", svSocks4,
       [](FaultScript& s) {
         ReadBytes(s, 9).Send(Bytes({0, 90, 0})).Close();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FaultScript script;
    c.play(script);
    Start(std::move(script), c.version);
    Socks().ReplyTimeout = 300;
    try {
      client_->OpenConnection(3000);
      ADD_FAILURE() << "no error";
    } catch (const ENetSocksServerRespondError& e) {
      EXPECT_STREQ(e.what(), "Socks server did not respond.");
    }
    EXPECT_FALSE(client_->IsConnected());
    server_->Stop();
  }
}

// Lengths travel in one byte: what does not fit is refused before the proxy hears anything.
TEST_F(SocksExchange, FieldsTooLongForTheirLengthByteAreRefusedBeforeSending) {
  const std::string longest(255, 'a');
  const std::string tooLong(256, 'a');
  struct Case {
    const char* what;
    TSocksVersion version;
    std::string host, user, password;
  };
  const Case cases[] = {
      {"SOCKS 5 host name", svSocks5, tooLong, "", ""},
      {"SOCKS 5 user name", svSocks5, "h", tooLong, "p"},
      {"SOCKS 5 password", svSocks5, "h", "u", tooLong},
      {"SOCKS 4 user name", svSocks4, "127.0.0.1", tooLong, ""},
      {"SOCKS 4A host name", svSocks4A, tooLong, "", ""},
      {"SOCKS 4 user name with a zero byte", svSocks4, "127.0.0.1", std::string("a\0b", 3), ""},
      {"SOCKS 4A host name with a zero byte", svSocks4A, std::string("a\0b", 3), "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Start(FaultScript().ReadUntilClose(), c.version, c.host, 21);
    Socks().Authentication = c.password.empty() ? saNoAuthentication : saUsernamePassword;
    Socks().Username = c.user;
    Socks().Password = c.password;
    try {
      client_->OpenConnection(3000);
      ADD_FAILURE() << "no error";
    } catch (const ENetSocksError& e) {
      EXPECT_NE(std::string(e.what()).find("SOCKS"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Received(), "");
  }

  // 255 bytes is the most that fits, and goes out whole.
  FaultScript script;
  ReadBytes(script, 3).Send(Bytes({5, 2}));
  ReadBytes(script, 3 + 255 + 255).Send(Bytes({1, 0}));
  ReadBytes(script, 7 + 255).Send(kOk5).ReadUntilClose();
  Start(std::move(script), svSocks5, longest, 21);
  Socks().Authentication = saUsernamePassword;
  Socks().Username = longest;
  Socks().Password = longest;
  client_->OpenConnection(3000);
  const std::string sent = Received();
  ASSERT_EQ(sent.size(), 3u + 3 + 255 + 255 + 7 + 255);
  EXPECT_EQ(sent.substr(3 + 3 + 510, 5), Bytes({5, 1, 0, 3, 255}));
}

TEST_F(SocksExchange, TargetPortOutsideSixteenBitsIsRefused) {
  Start(FaultScript().ReadUntilClose(), svSocks5, "h", 70000);
  EXPECT_THROW(client_->OpenConnection(3000), ENetSocksError);
  EXPECT_EQ(Received(), "");
}

TEST(SocksInfo, AssignCopiesTheSettings) {
  TNetSocksInfo a, b;
  a.Version = svSocks4A;
  a.Authentication = saUsernamePassword;
  a.Host = "proxy";
  a.Port = 1081;
  a.Username = "u";
  a.Password = "p";
  a.ReplyTimeout = 5;
  b.Assign(a);
  EXPECT_EQ(b.Version, svSocks4A);
  EXPECT_EQ(b.Authentication, saUsernamePassword);
  EXPECT_EQ(b.Host, "proxy");
  EXPECT_EQ(b.Port, 1081);
  EXPECT_EQ(b.Username, "u");
  EXPECT_EQ(b.Password, "p");
  EXPECT_EQ(b.ReplyTimeout, 5);
  EXPECT_EQ(b.IOHandler, nullptr);
  TNetSocksInfo fresh;
  EXPECT_EQ(fresh.Port, 1080);
  EXPECT_EQ(fresh.Version, svNoSocks);
}

}  // namespace
}  // namespace skelder::ftp
