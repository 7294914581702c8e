// Generated repositories, deployed end to end through the exports to both kinds of location:
// whatever the names (letter-case twins, no extension, several dots, blanks, 8-bit bytes, a file
// group whose extensions the files write in other letter cases), after every run each file of the
// folder is at the location byte for byte under its exact name, and the record lists exactly the
// files there. Each seed changes, adds and deploys again, so the incremental path is covered too.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "deploy_fixture.h"
#include "loopback.h"

namespace skelder::test {
namespace {

using namespace loopback;

constexpr int64_t kTime0 = 1700000000;

enum class Kind { kFolder, kFtp };

class DeployGeneratedE2e : public DeployTest, public ::testing::WithParamInterface<Kind> {
 protected:
  bool StartLocation() {
    if (GetParam() == Kind::kFolder) {
      remote_ = work_ / "web";
      location_ = remote_;
      return true;
    }
    // vsftpd takes names as bytes, 8-bit ones included.
    if (!StartServer(FtpServerKind::kVsftpd, kGeneratedTrees)) return false;
    remote_ = server_->root() + "/base";
    MakeDirs(remote_);
    location_ = (std::string("ftp://") + kGeneratedTrees) + remote_;
    return true;
  }

  // A random relative path of the generator's alphabet.
  std::string RandomPath(std::mt19937& rng) {
    static const std::vector<std::string> folders = {"", "", "sub/", "Sub/", "a b/", "d\xe9j\xe0/", "sub/deep/"};
    static const std::vector<std::string> bases = {"index",       "Index",       "page",      "PAGE",
                                                   "Page",        "CNAME",       "LICENSE",   "x.y",
                                                   "two  blanks", "caf\xc3\xa9", "\xe9t\xe9", "v1.2.3"};
    static const std::vector<std::string> exts = {"", "", ".htm", ".HTM", ".Htm", ".asp", ".ASP", ".css", ".tar.gz"};
    auto pick = [&rng](const std::vector<std::string>& from) {
      return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(rng)];
    };
    return pick(folders) + pick(bases) + pick(exts);
  }

  // Every file of the folder is at the location with its bytes; the record holds exactly the
  // folder's files.
  void ExpectMirrored(const std::map<std::string, std::string>& files, const std::string& round) {
    std::vector<std::string> expected;
    for (const auto& [rel, contents] : files) expected.push_back(rel);
    expected.push_back("XRDeploy.dat");
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(ListFiles(remote_), expected) << round << "\n" << LogText();
    for (const auto& [rel, contents] : files) EXPECT_EQ(ReadFile(remote_ + "/" + rel), contents) << round << rel;
    std::set<std::string> ids, recorded;
    for (const auto& [rel, contents] : files) ids.insert(std::to_string(repo_.FileId(rel)));
    for (const auto& line : SplitLines(ReadFile(remote_ + "/XRDeploy.dat")))
      recorded.insert(line.substr(0, line.find('=')));
    EXPECT_EQ(recorded, ids) << round;
  }

  std::string remote_, location_;
};

TEST_P(DeployGeneratedE2e, EveryFileArrivesUnderItsExactNameAndTheRecordListsExactlyThose) {
  SKELDER_REQUIRE(StartLocation(), Why());
  repo_.Group("htm;asp");
  Locations(location_);
  std::map<std::string, std::string> files;  // what the folder holds now
  std::mt19937 rng(20261208);
  int64_t time = kTime0;
  for (int round = 0; round < 4; ++round) {
    // New files, and changes to some of those already deployed.
    const int count = round == 0 ? 24 : 6;
    for (int i = 0; i < count; ++i) {
      const std::string rel = RandomPath(rng);
      const std::string contents = rel + " #" + std::to_string(round) + std::string(rng() % 300, 'x');
      files[rel] = contents;
      repo_.File(rel, contents, time);
    }
    time += 3600;
    ASSERT_EQ(Deploy(""), kSucceeded) << "round " << round << "\n" << LogText();
    ExpectMirrored(files, "round " + std::to_string(round) + ": ");
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DeployGeneratedE2e, ::testing::Values(Kind::kFolder, Kind::kFtp),
                         [](const ::testing::TestParamInfo<Kind>& kind) {
                           return kind.param == Kind::kFolder ? "Folder" : "Ftp";
                         });

}  // namespace
}  // namespace skelder::test
