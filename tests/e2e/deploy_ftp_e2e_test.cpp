// FTP deployment end to end against real servers on port 21 of loopback addresses: the remote
// tree byte for byte, the record on the server, and the commands as the server's own log has
// them; a second run that sends only the record; a changed file sent again with its group; a
// directory location and an FTP location in one run.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "deploy_fixture.h"
#include "loopback.h"

namespace skelder::test {
namespace {

using namespace loopback;

namespace fs = std::filesystem;

// The server logs as they compare: "PORT" without its fields, "PASS" without its argument.
std::vector<std::string> Normalised(const std::vector<std::string>& commands,
                                    std::vector<std::string>* ports = nullptr) {
  std::vector<std::string> out;
  for (const auto& c : commands) {
    if (c.rfind("PORT ", 0) == 0) {
      if (ports) ports->push_back(c.substr(5));
      out.push_back("PORT");
    } else if (c.rfind("PASS", 0) == 0) {
      out.push_back("PASS");
    } else {
      out.push_back(c);
    }
  }
  return out;
}

class DeployFtpE2e : public DeployTest, public ::testing::WithParamInterface<FtpServerKind> {
 protected:
  // One loopback address per server kind, so the two never meet on port 21.
  std::string Host() const { return GetParam() == FtpServerKind::kPyFtpd ? kFtpE2ePyFtpd : kFtpE2eVsftpd; }

  std::string Remote() const { return server_->root() + "/base"; }
  // The base directory as the server names it: vsftpd, running as the launching user, does not
  // change its root, so its names are the real paths.
  std::string Base() const { return GetParam() == FtpServerKind::kVsftpd ? Remote() : "/base"; }
  std::string Location() const { return "ftp://" + Host() + Base(); }
  std::string Cwd() const { return "CWD " + Base(); }
  std::string RemoteRecord() const { return ReadFile(Remote() + "/XRDeploy.dat"); }

  std::vector<std::string> Session() const { return {"USER anonymous", "PASS", "TYPE I", "SYST", Cwd()}; }
  std::vector<std::string> RecordFirst() const { return {Cwd(), "PORT", "RETR XRDeploy.dat"}; }
  std::vector<std::string> RecordLast() const { return {Cwd(), "PORT", "STOR XRDeploy.dat"}; }
};

TEST_P(DeployFtpE2e, NestedFoldersThenNothingThenAChangedFile) {
  FtpServer* server = StartServer(GetParam(), Host());
  SKELDER_REQUIRE(server, Why());
  MakeDirs(Remote());
  repo_.Group("htm;txt");
  Site();
  repo_.File("index.txt", "notes v1", kTime1);
  Locations(Location());

  ASSERT_EQ(Deploy(""), kSucceeded) << LogText() << ::testing::PrintToString(server->Commands());
  std::vector<std::string> files = SiteFiles();
  files.push_back("index.txt");
  EXPECT_EQ(ListFiles(Remote()), Concat({{"XRDeploy.dat"}, files}));
  for (const auto& rel : files) EXPECT_EQ(ReadFile(Remote() + "/" + rel), ReadFile(repo_.Path(rel))) << rel;
  EXPECT_EQ(RemoteRecord(), Entry("index.htm", kTime1) + "\r\n" + Entry("index.txt", kTime1) + "\r\n" +
                                Entry("about/index.htm", kTime1) + "\r\n" + Entry("img/logo.gif", kTime1) + "\r\n" +
                                Entry("img/sub/deep.css", kTime1) + "\r\n");

  const std::vector<std::string> rootGroup = {Cwd(), "PORT", "STOR index.htm", Cwd(), "PORT", "STOR index.txt"};
  std::vector<std::string> ports;
  EXPECT_EQ(
      Normalised(server->Commands(), &ports),
      Concat({Session(),
              RecordFirst(),
              // files of the deployed folder itself, each with its group
              rootGroup,
              rootGroup,
              // a first level made on demand
              {Cwd(), "CWD about", "MKD about", Cwd(), "CWD about", "PORT", "STOR index.htm"},
              {Cwd(), "CWD img", "MKD img", Cwd(), "CWD img", "PORT", "STOR logo.gif"},
              // two levels: the first exists by now, its MKD is refused and ignored
              {Cwd(), "CWD img/sub", "MKD img", "CWD img", "MKD sub", Cwd(), "CWD img/sub", "PORT", "STOR deep.css"},
              RecordLast()}));
  // Active mode announces the control connection's own end, a loopback address.
  for (const auto& p : ports) EXPECT_EQ(p.rfind("127,", 0), 0u) << p;
  const std::vector<std::string> shown = {"   /index.htm", "   /index.txt", "   about/index.htm", "   img/logo.gif",
                                          "   img/sub/deep.css"};
  EXPECT_EQ(Log(), Concat({kFetchHeading, shown, Heading(Host() + Base()), shown}));

  // Nothing changed: the second run reads the record and stores it back, nothing else.
  size_t mark = server->CommandCount();
  const std::string record = RemoteRecord();
  ASSERT_EQ(Deploy(""), kSucceeded) << last_.output;
  EXPECT_EQ(Normalised(server->CommandsSince(mark)), Concat({Session(), RecordFirst(), RecordLast()}));
  EXPECT_EQ(RemoteRecord(), record);
  EXPECT_EQ(Log(), Concat({kFetchHeading, shown, Heading(Host() + Base())}));

  // index.htm changes; index.txt gets new text but keeps its time, so only the group brings it.
  repo_.File("index.htm", "<html>home v2</html>", kTime2).File("index.txt", "notes v2", kTime1);
  mark = server->CommandCount();
  ASSERT_EQ(Deploy(""), kSucceeded) << last_.output;
  EXPECT_EQ(Normalised(server->CommandsSince(mark)), Concat({Session(), RecordFirst(), rootGroup, RecordLast()}));
  EXPECT_EQ(ReadFile(Remote() + "/index.htm"), "<html>home v2</html>");
  EXPECT_EQ(ReadFile(Remote() + "/index.txt"), "notes v2");
  EXPECT_EQ(Log(), Concat({kFetchHeading, shown, Heading(Host() + Base()), {"   /index.htm"}}));
  EXPECT_EQ(RemoteRecord(), Entry("index.htm", kTime2) + "\r\n" + Entry("index.txt", kTime1) + "\r\n" +
                                Entry("about/index.htm", kTime1) + "\r\n" + Entry("img/logo.gif", kTime1) + "\r\n" +
                                Entry("img/sub/deep.css", kTime1) + "\r\n");
}

// A location may name the server's port: a server on 2121 is reached there. Text after the ":"
// that is no port from 1 to 65535 fails the location under its heading, before any connection.
using DeployFtpPortE2e = DeployTest;
TEST_F(DeployFtpPortE2e, APortInTheLocationIsUsedAndNoPortIsRefused) {
  FtpServer* server = StartServer(FtpServerKind::kPyFtpd, kOtherPort, {}, nullptr, 2121);
  SKELDER_REQUIRE(server, Why());
  MakeDirs(server->root() + "/base");
  Site();
  const std::string target = std::string(kOtherPort) + ":2121/base";
  Locations("ftp://" + target);
  ASSERT_EQ(Deploy(""), kSucceeded) << LogText();
  for (const auto& rel : SiteFiles()) EXPECT_EQ(ReadFile(server->root() + "/base/" + rel), ReadFile(repo_.Path(rel)));
  EXPECT_EQ(Log(), Concat({kFetchHeading, SiteShown(), Heading(target), SiteShown()}));

  for (const std::string port : {"0", "65536", "x", ""}) {
    const size_t mark = server->CommandCount();
    const std::string host = std::string(kOtherPort) + ":" + port;
    Locations("ftp://" + host + "/base");
    EXPECT_EQ(Deploy(""), kFailed) << port;
    const std::string problem =
        "   The FTP server '" + host + "' is not a host name followed by a port from 1 to 65535";
    EXPECT_EQ(Log(), Concat({kFetchHeading, SiteShown(), Heading(host + "/base"), {problem}})) << port;
    EXPECT_EQ(server->CommandCount(), mark) << "nothing connected";
  }
}

// A server with active mode off: FtpPassive=1 goes passive from the start; without the setting
// the first refused PORT switches the location to passive, the log says so, and it deploys.
TEST_F(DeployFtpPortE2e, PassiveBySettingOrAfterARefusedPort) {
  DeployServerFaults noActive;
  noActive.noActive = true;
  FtpServer* server = StartServer(FtpServerKind::kPyFtpd, kPassive, {}, &noActive);
  SKELDER_REQUIRE(server, Why());
  Site();
  const std::string target = std::string(kPassive) + "/base";
  const std::string switched =
      std::string("   The server ") + kPassive + " refused active mode (PORT): passive mode from here on";
  for (const bool setting : {true, false}) {
    repo_.Notes("", "[Web Folder]\r\nDeployTo=ftp://" + target + (setting ? "\r\nFtpPassive=1\r\n" : "\r\n"));
    fs::remove_all(server->root() + "/base");  // everything goes again
    MakeDirs(server->root() + "/base");
    const size_t mark = server->CommandCount();
    ASSERT_EQ(Deploy(""), kSucceeded) << LogText();
    for (const auto& rel : SiteFiles())
      EXPECT_EQ(ReadFile(server->root() + "/base/" + rel), ReadFile(repo_.Path(rel))) << rel;
    const auto commands = server->CommandsSince(mark);
    size_t ports = 0;
    for (const auto& c : commands) ports += c.rfind("PORT", 0) == 0;
    EXPECT_EQ(ports, setting ? 0u : 1u) << ::testing::PrintToString(commands);
    const auto shown = SiteShown();
    EXPECT_EQ(Log(), Concat({kFetchHeading, shown, Heading(target), setting ? shown : Concat({{switched}, shown})}));
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, DeployFtpE2e, ::testing::Values(FtpServerKind::kPyFtpd, FtpServerKind::kVsftpd),
                         [](const auto& param) { return std::string(FtpServerKindName(param.param)); });

}  // namespace
}  // namespace skelder::test
