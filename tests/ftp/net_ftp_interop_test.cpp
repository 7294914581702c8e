// The FTP session against real servers on loopback (pyftpdlib and vsftpd, in active and
// passive mode): log-in, TYPE and SYST, directories, uploads and downloads of the sizes where
// chunking can go wrong, compared byte for byte, and the command order from the server's log.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "ftp/net_ftp.h"
#include "ftp_servers.h"
#include "test_support.h"

using namespace skelder::ftp;
using namespace skelder::test;

namespace {

constexpr int32_t kRecv = 8192;  // the deployment's sizes, so both show up as file sizes
constexpr int32_t kSend = 4096;

// True when `commands` holds the expected ones in order, each matched as a prefix, with any
// other commands between them.
::testing::AssertionResult InOrder(const std::vector<std::string>& commands, const std::vector<std::string>& expected) {
  size_t at = 0;
  for (const std::string& c : commands) {
    if (at < expected.size() && c.rfind(expected[at], 0) == 0) ++at;
  }
  if (at == expected.size()) return ::testing::AssertionSuccess();
  std::string got;
  for (const auto& c : commands) got += "\n  " + c;
  return ::testing::AssertionFailure() << "missing \"" << expected[at] << "\" in order; got:" << got;
}

using Param = std::tuple<FtpServerKind, bool /*passive*/>;

class FtpInterop : public ::testing::TestWithParam<Param> {
 protected:
  void SetUp() override {
    FtpServerOptions options;
    if (Kind() == FtpServerKind::kPyFtpd) {
      options.user = "alice";
      options.password = "Pw-7fz!q";
    }
    server_ = MakeFtpServer(Kind(), options);
    std::string why;
    SKELDER_REQUIRE(server_->Start(&why), why);
  }

  FtpServerKind Kind() const { return std::get<0>(GetParam()); }
  bool PassiveMode() const { return std::get<1>(GetParam()); }

  void Configure(TNetFTP& ftp, bool anonymous = true) {
    ftp.SetHost(server_->host());
    ftp.SetPortNumber(server_->port());
    ftp.Username = anonymous ? "anonymous" : "alice";
    ftp.Password = anonymous ? "skelder@example.com" : "Pw-7fz!q";
    ftp.Passive = PassiveMode();
    ftp.RecvBufferSize = kRecv;
    ftp.SendBufferSize = kSend;
    ftp.ReadTimeout = 30000;
    ftp.DataReadTimeout = 30000;
    ftp.AcceptTimeout = 30000;
  }

  std::unique_ptr<FtpServer> server_;
  TempDir local_;
};

TEST_P(FtpInterop, SessionStartsWithUserPassTypeSyst) {
  TNetFTP ftp;
  Configure(ftp);
  ftp.OpenSession(true, -1);
  EXPECT_EQ(ftp.Greeting.NumericCode(), 220);
  EXPECT_EQ(ftp.LoginMsg().NumericCode(), 230);
  EXPECT_EQ(ftp.SystemDesc(), "UNIX Type: L8");
  EXPECT_TRUE(ftp.IsConnected());
  ftp.CloseConnection();
  EXPECT_FALSE(ftp.IsConnected());
  const auto commands = server_->Commands();
  ASSERT_GE(commands.size(), 4u);
  EXPECT_EQ(commands[0], "USER anonymous");
  EXPECT_EQ(commands[1].rfind("PASS ", 0), 0u);
  EXPECT_EQ(commands[2], "TYPE I");
  EXPECT_EQ(commands[3], "SYST");
  EXPECT_EQ(commands.size(), 4u) << "closing the session sends no command";
}

TEST_P(FtpInterop, DirectoriesAndTransferType) {
  TNetFTP ftp;
  Configure(ftp);
  ftp.OpenSession(true, -1);
  const size_t mark = server_->CommandCount();
  ftp.MakeDirectory("web");
  ftp.ChangeDirectory("web");
  ftp.MakeDirectory("inner");
  ftp.ChangeDirectory("inner");
  EXPECT_THROW(ftp.ChangeDirectory("missing"), ENetProtocolReplyError);
  EXPECT_TRUE(ftp.IsConnected()) << "a refused CWD leaves the session usable";
  EXPECT_THROW(ftp.MakeDirectory("/no/such/parent/x"), ENetProtocolReplyError);
  ftp.SetTransferType(ftBinary);  // unchanged: nothing sent
  ftp.SetTransferType(ftASCII);
  ftp.SetTransferType(ftASCII);
  TNetMemoryStream text(std::string("line\r\n"));
  ftp.Upload(text, "t.txt", false);
  ftp.ChangeDirectory("/");
  EXPECT_TRUE(FileExists(server_->root() + "/web/inner/t.txt"));
  EXPECT_TRUE(InOrder(server_->CommandsSince(mark), {"MKD web", "CWD web", "MKD inner", "CWD inner", "CWD missing",
                                                     "TYPE A", "STOR t.txt", "CWD /"}));
  int typeCommands = 0;
  for (const auto& c : server_->CommandsSince(mark)) typeCommands += c.rfind("TYPE", 0) == 0;
  EXPECT_EQ(typeCommands, 1);
}

TEST_P(FtpInterop, UploadAndDownloadSizesByteForByte) {
  TNetFTP ftp;
  Configure(ftp);
  ftp.OpenSession(true, -1);
  const std::vector<size_t> sizes = {
      0, 1, static_cast<size_t>(kSend), static_cast<size_t>(kRecv), 32768, 50u * 1024 * 1024};
  for (size_t size : sizes) {
    SCOPED_TRACE("size " + std::to_string(size));
    const std::string name = "f" + std::to_string(size) + ".bin";
    const std::string data = Pattern(size, static_cast<uint32_t>(size));
    WriteFile(local_ / name, data);
    const size_t mark = server_->CommandCount();
    ftp.Upload(local_ / name, name, false);
    ASSERT_TRUE(FileExists(server_->root() + "/" + name));
    EXPECT_TRUE(ReadFile(server_->root() + "/" + name) == data) << "upload differs";
    ftp.Download(name, local_ / ("back-" + name), true, false);
    EXPECT_TRUE(ReadFile(local_ / ("back-" + name)) == data) << "download differs";
    const std::string mode = PassiveMode() ? "PASV" : "PORT ";
    const auto commands = server_->CommandsSince(mark);
    EXPECT_TRUE(InOrder(commands, {mode, "STOR " + name, mode, "RETR " + name}));
    // Active mode announces the control connection's own address.
    if (!PassiveMode() && !commands.empty()) {
      EXPECT_EQ(commands[0].rfind("PORT 127,0,0,1,", 0), 0u);
    }
  }
  EXPECT_TRUE(ftp.IsConnected());
}

TEST_P(FtpInterop, StreamsAppendAndResume) {
  TNetFTP ftp;
  Configure(ftp);
  ftp.OpenSession(true, -1);
  TNetMemoryStream first(std::string("hello "));
  ftp.Upload(first, "s.txt", false);
  TNetMemoryStream more(std::string("XXworld"));
  more.SetPosition(2);  // append sends from the current position
  ftp.Upload(more, "s.txt", true);
  EXPECT_EQ(ReadFile(server_->root() + "/s.txt"), "hello world");

  // Resume: the local file holds the first bytes; only the rest is fetched.
  WriteFile(local_ / "s.txt", "hello");
  EXPECT_TRUE(ftp.ProbeResume());
  const size_t mark = server_->CommandCount();
  ftp.Download("s.txt", local_ / "s.txt", false, true);
  EXPECT_EQ(ReadFile(local_ / "s.txt"), "hello world");
  EXPECT_TRUE(InOrder(server_->CommandsSince(mark), {"REST 5", "RETR s.txt"}));

  // An existing file that may neither be overwritten nor resumed stays as it is.
  EXPECT_THROW(ftp.Download("s.txt", local_ / "s.txt", false, false), ENetFTPFileAlreadyExists);
  EXPECT_EQ(ReadFile(local_ / "s.txt"), "hello world");

  // A stream download hands the stream to OnAfterGet.
  std::string seen;
  ftp.OnAfterGet = [&](TNetFTP*, TNetStream& s) { seen = static_cast<TNetMemoryStream&>(s).Data(); };
  TNetMemoryStream into;
  ftp.Download("s.txt", into, false);
  EXPECT_EQ(seen, "hello world");
}

TEST_P(FtpInterop, ListingThroughTheDirectoryListing) {
  MakeDirs(server_->root() + "/sub dir");
  WriteFile(server_->root() + "/a file.txt", "abc");
  TNetFTP ftp;
  Configure(ftp);
  ftp.OpenSession(true, -1);
  EXPECT_EQ(ftp.DirectoryListing().Count(), 0u) << "no listing yet";
  ftp.List();
  ASSERT_EQ(ftp.ListResult.size(), 2u);
  TNetFTPListItems& items = ftp.DirectoryListing();
  EXPECT_EQ(items.ListFormat, fmtUnix);
  ASSERT_EQ(items.Count(), 2u);
  bool sawFile = false, sawDir = false;
  for (size_t i = 0; i < items.Count(); ++i) {
    const TNetFTPListItem& it = items.Item(i);
    if (it.EntryName == "a file.txt") {
      sawFile = it.Kind == ikFile && it.EntrySize == 3;
    } else if (it.EntryName == "sub dir") {
      sawDir = it.Kind == ikDirectory;
    }
  }
  EXPECT_TRUE(sawFile);
  EXPECT_TRUE(sawDir);
}

// Log-in with user and password (the pyftpdlib fixture has a user; vsftpd serves anonymous).
TEST(FtpInteropLogIn, UserWithPasswordAndRejectedPassword) {
  FtpServerOptions options;
  options.user = "alice";
  options.password = "Pw-7fz!q";
  options.anonymous = false;
  PyFtpdServer server(options);
  std::string why;
  SKELDER_REQUIRE(server.Start(&why), why);
  auto configure = [&](TNetFTP& ftp, const std::string& password) {
    ftp.SetHost(server.host());
    ftp.SetPortNumber(server.port());
    ftp.Username = "alice";
    ftp.Password = password;
    ftp.ReadTimeout = 30000;
  };
  TNetFTP ftp;
  configure(ftp, "Pw-7fz!q");
  ftp.OpenSession(true, -1);
  EXPECT_EQ(ftp.LoginMsg().NumericCode(), 230);
  ftp.CloseConnection();

  TNetFTP wrong;
  configure(wrong, "not-it");
  try {
    wrong.OpenSession(true, -1);
    FAIL() << "log-in with a wrong password succeeded";
  } catch (const ENetProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyErrorCode, 530);
    EXPECT_NE(std::string(e.what()).find("\r\n"), std::string::npos);
  }
  EXPECT_FALSE(wrong.IsConnected());
  TNetFTP anonymous;
  configure(anonymous, "x@example.com");
  anonymous.Username = "anonymous";
  EXPECT_THROW(anonymous.OpenSession(true, -1), ENetProtocolReplyError);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpInterop,
                         ::testing::Combine(::testing::Values(FtpServerKind::kPyFtpd, FtpServerKind::kVsftpd),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<Param>& p) {
                           return std::string(std::get<0>(p.param) == FtpServerKind::kPyFtpd ? "pyftpdlib" : "vsftpd") +
                                  (std::get<1>(p.param) ? "_passive" : "_active");
                         });

}  // namespace
