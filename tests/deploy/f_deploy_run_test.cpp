// The deploy dialog in process: its layout, names from the host that would leave the location,
// the transfer progress callback, the clean-up and a run that cannot start.
#include "deploy/f_deploy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "deploy/deploy_log.h"
#include "deploy/u_utils.h"
#include "hostsim_fixture.h"
#include "platform/scripted_toolkit.h"
#include "platform/toolkit.h"
#include "test_support.h"

namespace skelder::deploy {
namespace {

namespace fs = std::filesystem;
using platform::ComponentKind;
using platform::ScriptedToolkit;

TEST(DeployFormLayout, EveryComponentInItsPlace) {
  TfrmDeploy f;
  EXPECT_EQ(f.caption, "Skelder");
  EXPECT_EQ(f.clientWidth, 421);
  EXPECT_EQ(f.clientHeight, 195);
  EXPECT_EQ(f.fontName, "MS Sans Serif");
  EXPECT_EQ(f.fontSize, 8);
  struct Row {
    const char* name;
    ComponentKind kind;
    int page, left, top, width, height;
    const char* caption;
  };
  const Row rows[] = {
      {"nbMain", ComponentKind::Notebook, -1, 0, 0, 421, 195, ""},
      {"Label1", ComponentKind::Label, 0, 13, 14, 0, 0, "The files contained in:"},
      {"lblXRFolder", ComponentKind::Label, 0, 35, 38, 0, 0, ""},
      {"Label2", ComponentKind::Label, 0, 13, 63, 0, 0, "will be deployed to the following locations:"},
      {"memoLocations", ComponentKind::Memo, 0, 35, 83, 372, 57, ""},
      {"Button1", ComponentKind::Button, 0, 257, 158, 75, 25, "Cancel"},
      {"btnOK", ComponentKind::Button, 0, 337, 158, 75, 25, "&Continue"},
      {"btnCancel", ComponentKind::Button, 1, 257, 162, 75, 25, "Cancel"},
      {"btnDone", ComponentKind::Button, 1, 337, 162, 75, 25, "&Done"},
      {"MainProgress", ComponentKind::ProgressBar, 1, 15, 32, 387, 25, ""},
      {"lblMain", ComponentKind::Label, 1, 15, 14, 0, 0, ""},
      {"lblAction", ComponentKind::Label, 1, 15, 62, 0, 0, ""},
      {"ActionProgress", ComponentKind::ProgressBar, 1, 15, 80, 387, 22, ""},
      {"FileProgress", ComponentKind::ProgressBar, 1, 15, 108, 387, 10, ""},
      {"lblEnd", ComponentKind::Label, 1, 15, 125, 0, 0, "Publishing files. Please wait..."},
      {"lblEndAdd", ComponentKind::Label, 1, 15, 141, 0, 0, "Publishing files. Please wait..."},
  };
  ASSERT_EQ(f.Components().size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto& c = *f.Components()[i];  // declaration order
    const Row& r = rows[i];
    SCOPED_TRACE(r.name);
    EXPECT_EQ(c.name, r.name);
    EXPECT_EQ(c.kind, r.kind);
    EXPECT_EQ(c.page, r.page);
    EXPECT_EQ(c.left, r.left);
    EXPECT_EQ(c.top, r.top);
    if (r.width) {
      EXPECT_EQ(c.width, r.width);
      EXPECT_EQ(c.height, r.height);
    }
    EXPECT_EQ(c.caption, r.caption);
    if (c.kind == ComponentKind::ProgressBar) {
      EXPECT_EQ(c.min, 0);
      EXPECT_EQ(c.max, 100);
    }
  }
  EXPECT_TRUE(f.Label1.bold);
  EXPECT_TRUE(f.Label2.bold);
  EXPECT_FALSE(f.lblXRFolder.bold);
  EXPECT_TRUE(f.memoLocations.readOnly);
  EXPECT_TRUE(f.Button1.isCancel);
  EXPECT_TRUE(f.btnCancel.isCancel);
  EXPECT_FALSE(f.btnDone.enabled);
  EXPECT_FALSE(f.FileProgress.visible);
  EXPECT_EQ(f.nbMain.lines, (std::vector<std::string>{"pgMain", "pgDeploy"}));
  EXPECT_EQ(f.activePage, 0);
  EXPECT_FALSE(f.Cancelled());
  EXPECT_FALSE(f.Paused());
  EXPECT_EQ(f.LogFile(), LogFileName());
}

TEST(DeployFormLayout, SetupFillsTheConfirmationPage) {
  TfrmDeploy f;
  TFileList files;
  TFolderList folders;
  const std::string longLine = "/srv/" + std::string(500, 'w');
  f.Setup("site/web", "/srv/a,," + longLine + ",ftp://bob:pw@host/pub", files, folders);
  EXPECT_EQ(f.lblXRFolder.caption, "site/web");
  // Every location stays one line, however long; the memo keeps the password as given.
  EXPECT_EQ(f.memoLocations.lines, (std::vector<std::string>{"/srv/a", "", longLine, "ftp://bob:pw@host/pub"}));
  EXPECT_FALSE(f.Cancelled());
  EXPECT_EQ(f.Files(), &files);
  EXPECT_EQ(f.Folders(), &folders);
}

TEST(DeployUnsafeNames, NamesThatWouldLeaveTheFolder) {
  EXPECT_EQ(UnsafePathReason("", "index.htm"), "");
  EXPECT_EQ(UnsafePathReason("img/sub", "a.gif"), "");
  EXPECT_EQ(UnsafePathReason("a..b/c.", "..x"), "");  // dots inside names are fine
  for (const char* name : {"", ".", "..", "a/b", "../x", "a\\b", "/etc"})
    EXPECT_EQ(UnsafePathReason("", name), kUnsafeFileName) << name;
  for (const char* folder : {"..", "../up", "a/../../b", "a/..", "/abs", "\\abs", "C:\\x", "a\\..\\b"})
    EXPECT_EQ(UnsafePathReason(folder, "x.htm"), kUnsafeFolder) << folder;
}

TEST(DeployFtpProgress, CodesMoveTheFileBar) {
  TfrmDeploy f;
  f.FtpProgress(7, 5);  // unknown code: shown, nothing else
  EXPECT_TRUE(f.FileProgress.visible);
  EXPECT_EQ(f.FileProgress.position, 0);
  f.FtpProgress(0, 4096);
  EXPECT_EQ(f.FileProgress.max, 4096);
  f.FtpProgress(1, 1000);
  EXPECT_EQ(f.FileProgress.position, 1000);
  f.FtpProgress(2, 0);
  EXPECT_EQ(f.FileProgress.position, 4096);
  // A transfer beyond the bar's integer range is scaled, never wrapped.
  const int64_t big = int64_t{6} << 30;
  f.FtpProgress(0, big);
  EXPECT_EQ(f.FileProgress.position, 0);
  EXPECT_GT(f.FileProgress.max, 0);
  f.FtpProgress(1, big / 2);
  EXPECT_NEAR(static_cast<double>(f.FileProgress.position) / f.FileProgress.max, 0.5, 0.01);
  f.FtpProgress(0, 10);
  EXPECT_EQ(f.FileProgress.max, 10);
}

// A run in process against the stand-in host, with the scripted toolkit and a virtual clock.
class DeployRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    user_.SetInstallDir(test::BinDir());
    auto kit = std::make_unique<ScriptedToolkit>();
    kit_ = kit.get();
    kit_->UseVirtualClock();
    platform::SetToolkit(std::move(kit));
    fs::create_directories(tmp_);
  }
  void TearDown() override { platform::SetToolkit(std::make_unique<ScriptedToolkit>()); }

  void Run(const std::string& deployTo) {
    test::ScopedTempFolder tmp(tmp_);
    form_ = std::make_unique<TfrmDeploy>();
    form_->Setup("site", deployTo, files_, folders_);
    form_->SetLogFile(log_);
    kit_->LoadScript("click btnOK\n");
    platform::CurrentToolkit().ShowModal(*form_);
  }
  std::vector<std::string> Log() const { return test::SplitLines(test::ReadFile(log_)); }

  test::HostSimUser user_;
  test::HostSimRepository repo_;
  test::TempDir work_;
  std::string tmp_ = work_ / "tmp";
  std::string log_ = work_ / "Skelder.log";
  ScriptedToolkit* kit_ = nullptr;
  TFileList files_;
  TFolderList folders_;
  std::unique_ptr<TfrmDeploy> form_;
};

TEST_F(DeployRunTest, HostNamesThatWouldEscapeAreRefusedBeforeAnythingIsWritten) {
  repo_.File("a.htm", "a");
  const int32_t root = repo_.FolderId("");
  const int32_t a = repo_.FileId("a.htm");
  struct Case {
    std::string folder, name, reason;
  };
  const std::vector<Case> cases = {
      {"", "../a.htm", kUnsafeFileName},       {"", "..", kUnsafeFileName},      {"../up", "a.htm", kUnsafeFolder},
      {"img/../../x", "a.htm", kUnsafeFolder}, {"/abs", "a.htm", kUnsafeFolder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder + " " + c.name);
    folders_ = {{"", root}, {c.folder, 77}};
    files_ = {{"a.htm", {root, a}}, {c.name, {c.folder.empty() ? root : 77, a}}};
    Run(work_ / "web");
    EXPECT_EQ(form_->Outcome(), TDeployOutcome::Failed);
    // Shown as the host names it, the folder's text and the separator before the name.
    EXPECT_EQ(Log(),
              (std::vector<std::string>{"Getting files from Ardmoor...", "", test::NativePath("   /a.htm"),
                                        "   " + c.folder + platform::kPathSeparator + c.name + " - " + c.reason}));
    EXPECT_EQ(form_->LastError(), c.reason);
    // Only the log was written: no location, nothing beside the temporary folder.
    EXPECT_EQ(test::ListFiles(work_.path()), std::vector<std::string>{"Skelder.log"});
    EXPECT_EQ(form_->lblEnd.fontColor, platform::kRed);
  }
}

TEST_F(DeployRunTest, TheFolderTargetRefusesEscapingNamesToo) {
  // Fetched by something else: the folder target checks the names again on its own.
  const std::string fetched = work_ / "fetched/";
  test::WriteFile(fetched + "a.htm", "a");
  test::WriteFile(work_ / "outside.htm", "keep");
  TfrmDeploy f;
  folders_ = {{"", 1}, {"..", 2}};
  files_ = {{"a.htm", {1, 10}}, {"outside.htm", {2, 11}}};
  f.Setup("site", "", files_, folders_);
  f.SetLogFile(log_);
  TCurrentAges ages;
  ages.Add(10, 5);
  ages.Add(11, 5);
  f.UseFetchedFiles(fetched, std::move(ages));
  const std::string loc = work_ / "web";
  EXPECT_FALSE(f.DeployToFolder(loc));
  EXPECT_EQ(f.LastError(), kUnsafeFolder);
  EXPECT_EQ(test::ListFiles(loc), (std::vector<std::string>{"XRDeploy.dat", "a.htm"}));
  EXPECT_EQ(test::ReadFile(work_ / "outside.htm"), "keep");
  EXPECT_EQ(Log().back(), test::NativePath("   ../outside.htm - ") + kUnsafeFolder);
}

TEST_F(DeployRunTest, CleanUpWaitsThroughTheClockUnderTheBusyCursor) {
  repo_.File("a.htm", "a");
  folders_ = {{"", repo_.FolderId("")}};
  files_ = {{"a.htm", {repo_.FolderId(""), repo_.FileId("a.htm")}}};
  Run("");
  EXPECT_EQ(form_->Outcome(), TDeployOutcome::Succeeded);
  EXPECT_EQ(kit_->Clock().TotalSlept(), 2000u);
  EXPECT_TRUE(fs::is_empty(tmp_));
  auto cursors = kit_->EventsOf(platform::ToolkitEvent::Kind::Cursor);
  ASSERT_GE(cursors.size(), 2u);
  EXPECT_EQ(cursors.front().cursor, platform::Cursor::HourGlass);
  EXPECT_EQ(cursors.back().cursor, platform::Cursor::Default);
  EXPECT_EQ(form_->TempDir().rfind(test::NativePath(tmp_ + "/TTS"), 0), 0u) << form_->TempDir();
  EXPECT_EQ(form_->TempDir().substr(form_->TempDir().size() - 8), test::NativePath(".Deploy/"));

  // While the run starts, lblEndAdd is empty and lblEnd still asks to wait.
  const auto shots = kit_->SnapshotsOf("frmDeploy");
  const platform::FormSnapshot* firstRunShot = nullptr;
  for (const auto* s : shots)
    if (s->activePage == 1) {
      firstRunShot = s;
      break;
    }
  ASSERT_NE(firstRunShot, nullptr);
  EXPECT_EQ(firstRunShot->Get("lblEndAdd").caption, "");
  EXPECT_EQ(firstRunShot->Get("lblEnd").caption, kPleaseWait);
  EXPECT_TRUE(firstRunShot->Get("btnCancel").enabled);
  EXPECT_FALSE(firstRunShot->Get("btnDone").enabled);
}

TEST_F(DeployRunTest, RunThatCannotMakeItsTemporaryFolderFailsAndDeletesNothing) {
  repo_.File("a.htm", "a");
  folders_ = {{"", repo_.FolderId("")}};
  files_ = {{"a.htm", {repo_.FolderId(""), repo_.FileId("a.htm")}}};
  tmp_ = work_ / "missing/tmp";  // no such directory: no temporary file can be made
  {
    test::ScopedTempFolder tmp(tmp_);
    form_ = std::make_unique<TfrmDeploy>();
    form_->Setup("site", work_ / "web", files_, folders_);
    form_->SetLogFile(log_);
    kit_->LoadScript("click btnOK\n");
    platform::CurrentToolkit().ShowModal(*form_);
  }
  EXPECT_EQ(form_->Outcome(), TDeployOutcome::Failed);
  EXPECT_EQ(form_->TempDir(), "");
  auto boxes = kit_->MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_FALSE(boxes[0].text.empty());
  EXPECT_EQ(Log(), std::vector<std::string>{"   " + boxes[0].text});
  EXPECT_EQ(form_->lblEnd.caption, kDeployedWithErrors);
  EXPECT_TRUE(form_->btnDone.enabled);
  EXPECT_FALSE(form_->btnCancel.enabled);
  EXPECT_FALSE(fs::exists(work_ / "web"));
}

TEST_F(DeployRunTest, EscDuringTheRunAsksTheCancelQuestion) {
  repo_.File("a.htm", "a").File("b.htm", "b");
  folders_ = {{"", repo_.FolderId("")}};
  files_ = {{"a.htm", {repo_.FolderId(""), repo_.FileId("a.htm")}},
            {"b.htm", {repo_.FolderId(""), repo_.FileId("b.htm")}}};
  test::ScopedTempFolder tmp(tmp_);
  form_ = std::make_unique<TfrmDeploy>();
  form_->Setup("site", "", files_, folders_);
  form_->SetLogFile(log_);
  kit_->LoadScript("click btnOK\nat 2 press Esc\nanswer Yes\n");
  platform::CurrentToolkit().ShowModal(*form_);
  EXPECT_EQ(form_->Outcome(), TDeployOutcome::Cancelled);
  EXPECT_EQ(Log().back(), test::NativePath("   /b.htm - Cancelled by user"));
  EXPECT_FALSE(form_->Paused());
  // After the run Esc closes the dialog (Done).
  EXPECT_EQ(form_->modalResult, platform::mrOk);
}

}  // namespace
}  // namespace skelder::deploy
