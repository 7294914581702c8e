// Directory deployment end to end: the add-in loaded afresh through its exports for each run, the stand-in host serving
// a repository on disk, the scripted toolkit chosen through the extension export, and real files at the locations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "deploy_fixture.h"
#include "platform/callconv.h"
#include "platform/dynlib.h"
#include "platform/files.h"

namespace skelder::test {
namespace {

namespace fs = std::filesystem;

// The transcript writes a text as a quoted string: its backslashes doubled.
std::string InTranscript(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

int64_t MTime(const std::string& path) {
  const auto time = platform::GetLastWriteTime(path);
  return time ? time->seconds : -1;
}

// Without "yes": the confirmation page waits for the script.
class DeployFolderE2eTest : public DeployTest {
 protected:
  int Deploy(const std::string& script, const std::string& options = "virtual-clock") {
    return DeployTest::Deploy(script, options);
  }
};

TEST_F(DeployFolderE2eTest, NestedFoldersToTwoLocationsThenNothingToSend) {
  Site();
  const std::string a = work_ / "web-a", b = work_ / "web-b";
  // The third line names the first location again with its final separator: one record.
  Locations(a + "," + NativePath(b + "/") + "," + NativePath(a + "/"));
  ASSERT_EQ(Deploy("", "yes,virtual-clock"), kSucceeded) << last_.output << Transcript();

  for (const std::string& loc : {a, b}) {
    EXPECT_EQ(ListFiles(loc), Concat({{"XRDeploy.dat"}, SiteFiles()})) << loc;
    for (const auto& rel : SiteFiles()) {
      EXPECT_EQ(ReadFile(loc + "/" + rel), ReadFile(repo_.Path(rel))) << rel;
      EXPECT_EQ(MTime(loc + "/" + rel), kTime1) << rel;
    }
    EXPECT_EQ(Record(loc), Entry("index.htm", kTime1) + "\r\n" + Entry("about/index.htm", kTime1) + "\r\n" +
                               Entry("img/logo.gif", kTime1) + "\r\n" + Entry("img/sub/deep.css", kTime1) + "\r\n");
  }
  EXPECT_EQ(Log(), Concat({kFetchHeading, SiteShown(), Heading(NativePath(a + "/")), SiteShown(),
                           Heading(NativePath(b + "/")), SiteShown(), Heading(NativePath(a + "/"))}));
  EXPECT_TRUE(MessageBoxes().empty()) << Transcript();
  // The run wrote its locations and the log beside the add-in, nothing else of ours.
  std::vector<std::string> written;
  for (const auto& f : ListFiles(work_.path()))
    if (f.rfind("web-a/", 0) != 0 && f.rfind("web-b/", 0) != 0) written.push_back(f);
  EXPECT_EQ(written, Sorted({"install/Skelder.log", "install/" + AddinFileName(), "script.txt", "transcript.txt"}));
  const std::string t = Transcript();
  EXPECT_NE(t.find("lblEnd caption=\"The folder deployed successfully.\" page=1 visible enabled color=0,128,0"),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("lblEndAdd caption=\"See the file 'Skelder.log' for more information\" page=1 visible enabled "
                   "color=0,128,0"),
            std::string::npos);
  EXPECT_NE(t.find("MainProgress caption=\"\" page=1 visible enabled color=0,0,0 position=8/8"), std::string::npos);
  EXPECT_NE(t.find("btnDone caption=\"&Done\" page=1 visible enabled color=0,0,0 default cancel"), std::string::npos);
  EXPECT_NE(t.find("btnCancel caption=\"Cancel\" page=1 visible disabled"), std::string::npos);

  // Nothing changed in the host: the second run sends nothing and logs only the headings.
  const std::string recordBefore = Record(a);
  ASSERT_EQ(Deploy("", "yes,virtual-clock"), kSucceeded) << last_.output;
  EXPECT_EQ(Log(), Concat({kFetchHeading, SiteShown(), Heading(NativePath(a + "/")), Heading(NativePath(b + "/")),
                           Heading(NativePath(a + "/"))}));
  EXPECT_EQ(Record(a), recordBefore);
}

TEST_F(DeployFolderE2eTest, ChangedFileIsSentAgainWithItsFileGroup) {
  repo_.Group("htm;txt")
      .File("index.htm", "v1", kTime1)
      .File("index.txt", "notes v1", kTime1)
      .File("other.css", "c", kTime1);
  const std::string loc = work_ / "web";
  Locations(loc);
  ASSERT_EQ(Deploy("", "yes,virtual-clock"), kSucceeded) << last_.output;
  EXPECT_EQ(ReadFile(loc + "/index.txt"), "notes v1");

  // index.htm changes; index.txt gets new text but keeps its time, so only its group brings it.
  repo_.File("index.htm", "v2", kTime2).File("index.txt", "notes v2", kTime1);
  ASSERT_EQ(Deploy("", "yes,virtual-clock"), kSucceeded) << last_.output;
  EXPECT_EQ(ReadFile(loc + "/index.htm"), "v2");
  EXPECT_EQ(ReadFile(loc + "/index.txt"), "notes v2");
  EXPECT_EQ(Log(), Concat({kFetchHeading,
                           {NativePath("   /index.htm"), NativePath("   /index.txt"), NativePath("   /other.css")},
                           Heading(NativePath(loc + "/")),
                           {NativePath("   /index.htm")}}));
  EXPECT_EQ(Record(loc), Entry("index.htm", kTime2) + "\r\n" + Entry("index.txt", kTime1) + "\r\n" +
                             Entry("other.css", kTime1) + "\r\n");
}

TEST_F(DeployFolderE2eTest, LockedFileRefusedThenAccepted) {
  repo_.File("a.htm", "a", kTime1).File("b.htm", "b", kTime1).Lock("b.htm", "alice");
  const std::string loc = work_ / "web";
  Locations(loc);
  EXPECT_EQ(Deploy("answer No\n"), kNotRun) << last_.output;
  EXPECT_FALSE(fs::exists(loc));
  ASSERT_EQ(MessageBoxes().size(), 1u);
  EXPECT_NE(MessageBoxes()[0].find("The selection included locked files. Do you want to continue?"), std::string::npos);

  EXPECT_EQ(Deploy("answer Yes\nclick btnOK\n"), kSucceeded) << last_.output << Transcript();
  EXPECT_EQ(ListFiles(loc), (std::vector<std::string>{"XRDeploy.dat", "a.htm", "b.htm"}));
}

TEST_F(DeployFolderE2eTest, ConfirmationPageCancelDeploysNothing) {
  Site();
  const std::string loc = work_ / "web";
  Locations(loc);
  EXPECT_EQ(Deploy(""), kNotRun);  // no script: Esc on the confirmation page
  EXPECT_FALSE(fs::exists(loc));
  EXPECT_FALSE(FileExists(install_ + "/Skelder.log"));
  const std::string t = Transcript();
  EXPECT_NE(t.find("memoLocations caption=\"\" lines=[\"" + InTranscript(loc) + "\"]"), std::string::npos) << t;
  EXPECT_NE(t.find("lblXRFolder caption=\"" + repo_.DisplayPath("") + "\""), std::string::npos) << t;
}

TEST_F(DeployFolderE2eTest, CancelDuringFetch) {
  Site();
  const std::string loc = work_ / "web";
  Locations(loc);
  // Turn 1 is Continue's own; turn 2 follows the first file fetched.
  EXPECT_EQ(Deploy("click btnOK\nat 2 click btnCancel\nanswer Yes\n"), kCancelled) << last_.output << Transcript();
  EXPECT_EQ(Log(), Concat({kFetchHeading,
                           {NativePath("   /index.htm"), NativePath("   about/index.htm"),
                            NativePath("   about/index.htm - Cancelled by user")}}));
  const auto boxes = MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u) << Transcript();
  EXPECT_NE(boxes[0].find("Are you sure you want to cancell this deployment?"), std::string::npos);
  EXPECT_NE(boxes[1].find("Error OK caption=\"Skelder\" text=\"Cancelled by User\""), std::string::npos) << boxes[1];
  EXPECT_FALSE(fs::exists(loc));
  EXPECT_NE(Transcript().find("lblEnd caption=\"One or more errors occurred while deploying.\" page=1 visible "
                              "enabled color=255,0,0"),
            std::string::npos);
}

TEST_F(DeployFolderE2eTest, CancelAnsweredNoChangesNothing) {
  Site();
  const std::string loc = work_ / "web";
  Locations(loc);
  EXPECT_EQ(Deploy("click btnOK\nat 2 click btnCancel\nanswer No\n"), kSucceeded) << Transcript();
  EXPECT_EQ(ListFiles(loc).size(), 5u);
}

TEST_F(DeployFolderE2eTest, CancelDuringALocationKeepsWhatWasSent) {
  Site();
  const std::string loc = work_ / "web", later = work_ / "later";
  Locations(loc + "," + later);
  // Turns: 1 Continue, 2-5 the four files fetched, 6 after the first file at the location.
  EXPECT_EQ(Deploy("click btnOK\nat 6 click btnCancel\nanswer Yes\n"), kCancelled) << Transcript();
  EXPECT_EQ(Log(), Concat({kFetchHeading,
                           SiteShown(),
                           Heading(NativePath(loc + "/")),
                           {NativePath("   /index.htm"), NativePath("   about/index.htm"),
                            NativePath("   about/index.htm - Cancelled by user")}}));
  EXPECT_EQ(Record(loc), Entry("index.htm", kTime1) + "\r\n" + Entry("about/index.htm", kTime1) + "\r\n");
  EXPECT_FALSE(fs::exists(later));
}

TEST_F(DeployFolderE2eTest, FailedCheckOutDeploysNoLocation) {
  Site();
  repo_.Fault("checkout-fail", "about/index.htm");
  const std::string loc = work_ / "web";
  Locations(loc);
  EXPECT_EQ(Deploy("", "yes,virtual-clock"), kFailed) << Transcript();
  const auto log = Log();
  ASSERT_EQ(log.size(), 4u) << ReadFile(install_ + "/Skelder.log");
  const std::string prefix = NativePath("   about/index.htm - ");
  ASSERT_EQ(log[3].rfind(prefix, 0), 0u) << log[3];
  const std::string hostText = log[3].substr(prefix.size());
  EXPECT_FALSE(hostText.empty());
  const auto boxes = MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("text=\"" + hostText + "\""), std::string::npos) << boxes[0];
  EXPECT_FALSE(fs::exists(loc));
}

TEST_F(DeployFolderE2eTest, LocationThatCannotBeMadeStopsTheRun) {
  Site();
  WriteFile(work_ / "plain-file", "x");
  const std::string bad = work_ / "plain-file/web", later = work_ / "later";
  Locations(bad + "," + later);
  EXPECT_EQ(Deploy("", "yes,virtual-clock"), kFailed);
  EXPECT_EQ(Log(), Concat({kFetchHeading,
                           SiteShown(),
                           Heading(NativePath(bad + "/")),
                           {"   Could not create the destination folder"}}));
  ASSERT_EQ(MessageBoxes().size(), 1u);
  EXPECT_NE(MessageBoxes()[0].find("text=\"Could not create the destination folder\""), std::string::npos);
  EXPECT_FALSE(fs::exists(later));
  EXPECT_EQ(ReadFile(work_ / "plain-file"), "x");
}

TEST_F(DeployFolderE2eTest, LocationThatIsAFileFails) {
  Site();
  const std::string loc = work_ / "taken";
  WriteFile(loc, "keep me");
  Locations(loc);
  EXPECT_EQ(Deploy("", "yes,virtual-clock"), kFailed);
  EXPECT_EQ(Log().back(), "   Could not create the destination folder");
  EXPECT_EQ(ReadFile(loc), "keep me");
}

TEST_F(DeployFolderE2eTest, CopyOntoADirectoryFailsWithItsErrorCode) {
  Site();
  const std::string loc = work_ / "web";
  MakeDirs(loc + "/about/index.htm");  // the target is a directory
  Locations(loc);
  EXPECT_EQ(Deploy("", "yes,virtual-clock"), kFailed);
  const auto log = Log();
  const std::string expectedStart = NativePath("   about/index.htm - Error Code: ");
  ASSERT_EQ(log.back().rfind(expectedStart, 0), 0u) << log.back();
  EXPECT_GT(std::stoi(log.back().substr(expectedStart.size())), 0);
  ASSERT_EQ(MessageBoxes().size(), 1u);
  EXPECT_NE(MessageBoxes()[0].find("text=\"" + InTranscript(log.back()) + "\""), std::string::npos)
      << MessageBoxes()[0];
  // The record keeps the file sent before the failure, not the failed one.
  EXPECT_EQ(Record(loc), Entry("index.htm", kTime1) + "\r\n");
  EXPECT_TRUE(fs::is_directory(loc + "/about/index.htm"));
}

TEST_F(DeployFolderE2eTest, RecordThatIsADirectoryIsRefused) {
  Site();
  const std::string loc = work_ / "web";
  MakeDirs(loc + "/XRDeploy.dat");
  Locations(loc);
  EXPECT_EQ(Deploy("", "yes,virtual-clock"), kFailed);
  EXPECT_EQ(Log().back(), "   The deployment record '" + NativePath(loc + "/XRDeploy.dat") + "' is a folder");
  EXPECT_EQ(ListFiles(loc), std::vector<std::string>{});
}

TEST_F(DeployFolderE2eTest, EmptyLocationLineIsSkipped) {
  repo_.File("a.htm", "a", kTime1);
  const std::string loc = work_ / "web";
  Locations("," + loc);
  EXPECT_EQ(Deploy("", "yes,virtual-clock"), kSucceeded) << Transcript();
  EXPECT_EQ(Log(), Concat({kFetchHeading,
                           {NativePath("   /a.htm")},
                           {"", "", "Skipped an empty location line: the root of the file system is never deployed to"},
                           Heading(NativePath(loc + "/")),
                           {NativePath("   /a.htm")}}));
  EXPECT_NE(Transcript().find("MainProgress caption=\"\" page=1 visible enabled color=0,0,0 position=6/6"),
            std::string::npos);
}

TEST_F(DeployFolderE2eTest, FtpWithoutModuleAndLinesOfNeitherKind) {
  repo_.File("a.htm", "a", kTime1);
  const std::string loc = work_ / "web";
  Locations("x ftp://not-a-location," + loc);
  EXPECT_EQ(Deploy("", "yes,virtual-clock"), kSucceeded) << Transcript();
  // The line with "ftp://" inside it is deployed by neither pass; the log says so.
  EXPECT_EQ(Log(), Concat({kFetchHeading,
                           {NativePath("   /a.htm"), "", ""},
                           {"Skipped the location line 'x ftp://not-a-location': it holds \"ftp://\" but does not "
                            "begin with it, so it is neither a folder nor an FTP location"},
                           Heading(NativePath(loc + "/")),
                           {NativePath("   /a.htm")}}));
}

TEST_F(DeployFolderE2eTest, NoLocationsFetchesAndSucceeds) {
  repo_.File("a.htm", "a", kTime1);
  Locations("");
  EXPECT_EQ(Deploy("", "yes,virtual-clock"), kSucceeded);
  EXPECT_EQ(Log(), Concat({kFetchHeading, {NativePath("   /a.htm")}}));
  EXPECT_NE(Transcript().find("position=2/2"), std::string::npos);
}

TEST_F(DeployFolderE2eTest, ReadOnlyTargetIsReplaced) {
  repo_.File("a.htm", "new", kTime2);
  const std::string loc = work_ / "web";
  WriteFile(loc + "/a.htm", "old");
  fs::permissions(loc + "/a.htm", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  Locations(loc);
  EXPECT_EQ(Deploy("", "yes,virtual-clock"), kSucceeded) << Transcript();
  EXPECT_EQ(ReadFile(loc + "/a.htm"), "new");
  // the fetched file's attributes, not the old ones
  EXPECT_NE(fs::status(loc + "/a.htm").permissions() & fs::perms::owner_write, fs::perms::none);
}

TEST_F(DeployFolderE2eTest, BadToolkitChoicesAreRefusedAtTheExport) {
  const std::string missing = work_ / "no-such-script";
  auto r = RunInChild([&]() -> int {
    platform::DynamicLibrary addin(InstalledAddin());
    if (!addin.Loaded()) return 100;
    auto configure = addin.Function<uint8_t(SKELDER_STDCALL*)(const char*, const char*)>("SkelderConfigureToolkit");
    auto outcome = addin.Function<int32_t(SKELDER_STDCALL*)()>("SkelderLastOutcome");
    int bad = 0;
    bad += configure("gui", "") == 0;
    bad += configure(nullptr, nullptr) == 0;
    bad += configure("scripted", missing.c_str()) == 0;
    bad += configure("terminal", "bogus") == 0;
    bad += configure("scripted", "a,b") == 0;
    int good = configure("plain", "yes, virtual-clock") + configure("terminal", nullptr) + configure("scripted", "");
    return bad * 10 + good + outcome() * 100;
  });
  EXPECT_EQ(r.exitCode, 53) << r.output;
}

}  // namespace
}  // namespace skelder::test
