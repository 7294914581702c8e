// Deployment that never lies, end to end through the exports at both kinds of location: every
// file arrives under its own name (no extension, an extension the group writes in another
// letter case), a file that was not stored is never recorded, mistyped locations deploy nowhere
// and say so, names with control characters cannot forge log lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "deploy_fixture.h"
#include "loopback.h"

namespace skelder::test {
namespace {

using namespace loopback;

namespace fs = std::filesystem;

constexpr int64_t kTime1 = 1700000000;
constexpr int64_t kTime2 = 1700003600;

enum class Kind { kFolder, kFtp };

class DeployNamesE2e : public DeployTest, public ::testing::WithParamInterface<Kind> {
 protected:
  // The location of the parameter's kind; false (with Why()) when its server cannot be had.
  // ctest runs cases side by side: each FTP case has a loopback address of its own.
  bool StartLocation(const std::string& host) {
    if (GetParam() == Kind::kFolder) {
      remote_ = work_ / "web";
      location_ = remote_;
      return true;
    }
    if (!StartServer(FtpServerKind::kPyFtpd, host)) return false;
    remote_ = server_->root() + "/base";
    MakeDirs(remote_);
    location_ = "ftp://" + host + "/base";
    return true;
  }
  // The shown name of a file as the location's log lines have it.
  std::string Shown(const std::string& rel) const {
    const size_t slash = rel.rfind('/');
    if (slash == std::string::npos) return "   /" + rel;
    return "   " + rel;
  }
  std::string Remote(const std::string& rel) const { return ReadFile(remote_ + "/" + rel); }
  std::vector<std::string> RecordLines() const { return SplitLines(Remote("XRDeploy.dat")); }

  std::string remote_, location_;
};

TEST_P(DeployNamesE2e, EveryFileArrivesUnderItsOwnNameAndIsRecordedOnlyWhenStored) {
  SKELDER_REQUIRE(StartLocation(kExactNames), Why());
  // A group whose extensions the folder writes in other letter cases, and files with none.
  repo_.Group("htm;asp");
  repo_.File("CNAME", "www.example.com\n", kTime1)
      .File("LICENSE", "MIT", kTime1)
      .File("_redirects", "/a /b 301", kTime1)
      .File("PAGE.HTM", "<html>page</html>", kTime1)
      .File("PAGE.Asp", "<% asp %>", kTime1)
      .File("sub/README", "readme", kTime1);
  Locations(location_);

  ASSERT_EQ(Deploy(""), kSucceeded) << LogText();
  const std::vector<std::string> names = {"CNAME", "LICENSE", "PAGE.Asp", "PAGE.HTM", "_redirects", "sub/README"};
  std::vector<std::string> present = Concat({{"XRDeploy.dat"}, names});
  std::sort(present.begin(), present.end());
  EXPECT_EQ(ListFiles(remote_), present);
  for (const auto& name : names) EXPECT_EQ(Remote(name), ReadFile(repo_.Path(name))) << name;
  std::vector<std::string> entries;
  for (const auto& name : names) entries.push_back(Entry(name, kTime1));
  std::vector<std::string> record = RecordLines();
  std::sort(record.begin(), record.end());
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(record, entries);

  // The next run sends nothing; a changed file without an extension goes again.
  repo_.File("CNAME", "example.org\n", kTime2);
  ASSERT_EQ(Deploy(""), kSucceeded) << LogText();
  EXPECT_EQ(Remote("CNAME"), "example.org\n");
  const std::vector<std::string> log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), Shown("CNAME")), 2) << LogText();    // fetched, sent
  EXPECT_EQ(std::count(log.begin(), log.end(), Shown("LICENSE")), 1) << LogText();  // fetched only
}

TEST_P(DeployNamesE2e, AFileMissingAfterCheckOutFailsTheLocationAndStaysUnrecorded) {
  SKELDER_REQUIRE(StartLocation(kMissingAfterCheckOut), Why());
  repo_.File("a.htm", "alpha", kTime1).File("b.htm", "bravo", kTime1);
  // The host reports the check-out as done but leaves no file.
  repo_.Fault("checkout-nofile", "b.htm");
  Locations(location_);
  ASSERT_EQ(Deploy(""), kFailed) << LogText();
  EXPECT_FALSE(fs::exists(remote_ + "/b.htm"));
  const std::string record = Remote("XRDeploy.dat");
  EXPECT_NE(record.find(Entry("a.htm", kTime1)), std::string::npos) << record;
  EXPECT_EQ(record.find(std::to_string(repo_.FileId("b.htm")) + "="), std::string::npos) << record;
  EXPECT_NE(LogText().find("/b.htm - The checked-out copy '"), std::string::npos) << LogText();
}

TEST_P(DeployNamesE2e, ControlCharactersInANameCannotForgeLogLines) {
  SKELDER_REQUIRE(StartLocation(kControlCharacters), Why());
  const std::string forged = "x.htm\r\n\r\nDeploying to 'www.example.com'...\x1b[2J";
  repo_.File(forged, "evil", kTime1).File("a.htm", "alpha", kTime1);
  Locations(location_);
  const int outcome = Deploy("", "yes,virtual-clock", {}, "plain");
  for (const auto& line : Log()) EXPECT_NE(line, "Deploying to 'www.example.com'...") << LogText();
  EXPECT_NE(LogText().find("x.htm\\r\\n\\r\\nDeploying to 'www.example.com'...\\x1B[2J"), std::string::npos)
      << LogText();
  EXPECT_EQ(last_.output.find('\x1b'), std::string::npos) << last_.output;
  if (GetParam() == Kind::kFolder) {
    // A folder keeps any name the file system keeps.
    EXPECT_EQ(outcome, kSucceeded) << LogText();
    EXPECT_EQ(Remote(forged), "evil");
  } else {
    // A line break cannot travel in an FTP command: the name is refused before it is sent.
    EXPECT_EQ(outcome, kFailed) << LogText();
    EXPECT_FALSE(fs::exists(remote_ + "/" + forged));
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DeployNamesE2e, ::testing::Values(Kind::kFolder, Kind::kFtp),
                         [](const ::testing::TestParamInfo<Kind>& kind) {
                           return kind.param == Kind::kFolder ? "Folder" : "Ftp";
                         });

// Locations as people mistype them: none may deploy anywhere but where it says, and a run that
// deployed nowhere is no success.
class DeployLocationsE2e : public DeployTest {};

TEST_F(DeployLocationsE2e, MistypedLocationsFailBeforeAnythingIsWritten) {
  repo_.File("index.htm", "home", kTime1);
  const std::string cwd = fs::current_path();
  for (const std::string line : {"ftp:/127.0.0.1/x", "relative/dir", "http://x/", "~/site", "$HOME/site"}) {
    Locations(line);
    EXPECT_EQ(Deploy(""), kFailed) << line << "\n" << LogText();
    const std::vector<std::string> log = Log();
    ASSERT_FALSE(log.empty()) << line;
    EXPECT_EQ(log.back().find("   Refused the location '" + line + "': "), 0u) << line << "\n" << LogText();
    ASSERT_EQ(MessageBoxes().size(), 1u) << line;
  }
  for (const char* made : {"ftp:", "relative", "http:", "~", "$HOME"})
    EXPECT_FALSE(fs::exists(cwd + "/" + made)) << made;
}

TEST_F(DeployLocationsE2e, ALineOfNeitherKindIsLoggedAndNothingDeployedIsAFailure) {
  repo_.File("index.htm", "home", kTime1);
  Locations("see ftp://127.0.0.1/x");
  ASSERT_EQ(Deploy(""), kFailed) << LogText();
  EXPECT_EQ(Log(), Concat({kFetchHeading,
                           {"   /index.htm", "", ""},
                           {"Skipped the location line 'see ftp://127.0.0.1/x': it holds \"ftp://\" but does not "
                            "begin with it, so it is neither a folder nor an FTP location",
                            "", "", "None of the folder's deployment locations could be deployed to"}}));
}

TEST_F(DeployLocationsE2e, AnUpperCaseSchemeIsAnFtpLocationAndBlanksAroundTheEqualsSignAreTolerated) {
  SKELDER_REQUIRE(StartServer(FtpServerKind::kPyFtpd, kUpperCaseScheme), Why());
  MakeDirs(server_->root() + "/up");
  repo_.File("index.htm", "home", kTime1);
  const std::string folder = work_ / "web";
  repo_.Notes("", (std::string("[Web Folder]\r\nDeployTo = FTP://") + kUpperCaseScheme + "/up,") + folder +
                      "\r\nEnabled=1\r\n");
  ASSERT_EQ(Deploy(""), kSucceeded) << LogText();
  EXPECT_EQ(ReadFile(server_->root() + "/up/index.htm"), "home");
  EXPECT_EQ(ReadFile(folder + "/index.htm"), "home");
  EXPECT_FALSE(fs::exists(fs::current_path() / "FTP:"));
}

}  // namespace
}  // namespace skelder::test
