// The Deploy command in process, against the stand-in host, with the scripted toolkit playing
// the user and the dialog substituted.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "deploy/deploy_command.h"
#include "deploy/deploy_dialog_seam.h"
#include "deploy/u_utils.h"
#include "hostsim_fixture.h"
#include "platform/scripted_toolkit.h"
#include "test_support.h"

namespace skelder::deploy {
namespace {

using platform::Cursor;
using platform::MessageAnswer;
using platform::ToolkitEvent;
using Kind = ToolkitEvent::Kind;

class DeployCommandFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    user_.SetInstallDir(test::BinDir());
    auto toolkit = std::make_unique<platform::ScriptedToolkit>();
    toolkit_ = toolkit.get();
    platform::SetToolkit(std::move(toolkit));
    SetShowDeployDialog([this](const std::string& caption, const std::string& deployTo, const TFileList& files,
                               const TFolderList& folders, const std::string&) {
      ++shown_;
      caption_ = caption;
      deployTo_ = deployTo;
      files_ = files;
      folders_ = folders;
      cursorAtDialog_ = toolkit_->GetCursor();
      depthAtDialog_ = BusyDepth();
    });
  }
  void TearDown() override {
    SetShowDeployDialog({});
    platform::SetToolkit(nullptr);
  }

  std::vector<std::string> FileNames() const {
    std::vector<std::string> names;
    for (const auto& f : files_) names.push_back(f.Name);
    return names;
  }
  // Index of the first recorded event of a kind, or -1.
  long IndexOf(Kind kind) const {
    const auto& events = toolkit_->Events();
    for (size_t i = 0; i < events.size(); ++i)
      if (events[i].kind == kind) return static_cast<long>(i);
    return -1;
  }

  test::HostSimUser user_;
  test::HostSimRepository repo_;
  platform::ScriptedToolkit* toolkit_ = nullptr;
  int shown_ = 0;
  std::string caption_, deployTo_;
  TFileList files_;
  TFolderList folders_;
  Cursor cursorAtDialog_ = Cursor::HourGlass;
  int depthAtDialog_ = -1;
};

TEST_F(DeployCommandFlowTest, LockedFileAcceptedCollectsEveryFileOnceWithTheNormalCursorAtTheDialog) {
  repo_.File("a.htm").File("b.htm").File("c.htm").File("d.htm").Lock("c.htm", "alice");
  repo_.Notes("", "[Web Folder]\r\nDeployTo=/srv/www,ftp://bob:pw@server/pub\r\n");
  toolkit_->Answer(MessageAnswer::Yes);
  ASSERT_TRUE(HandleCommand("Deploy", std::to_string(repo_.FolderId(""))));

  const auto boxes = toolkit_->MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, kLockedFilesQuestion);
  EXPECT_EQ(boxes[0].icon, platform::MessageIcon::Question);
  EXPECT_EQ(boxes[0].buttons, platform::MessageButtons::YesNo);
  // The question is asked under the busy cursor.
  const auto& events = toolkit_->Events();
  const long box = IndexOf(Kind::ShowMessageBox);
  const long busy = IndexOf(Kind::Cursor);
  ASSERT_GE(busy, 0);
  EXPECT_LT(busy, box);
  EXPECT_EQ(events[static_cast<size_t>(busy)].cursor, Cursor::HourGlass);

  ASSERT_EQ(shown_, 1);
  EXPECT_EQ(FileNames(), (std::vector<std::string>{"a.htm", "b.htm", "c.htm", "d.htm"}));
  EXPECT_EQ(files_[2].Info.FileId, repo_.FileId("c.htm"));
  EXPECT_EQ(files_[2].Info.FolderId, repo_.FolderId(""));
  EXPECT_EQ(caption_, repo_.DisplayPath(""));
  // The dialog gets the value as stored; it needs the password to log in.
  EXPECT_EQ(deployTo_, "/srv/www,ftp://bob:pw@server/pub");
  EXPECT_EQ(cursorAtDialog_, Cursor::Default);
  EXPECT_EQ(depthAtDialog_, 0);
  EXPECT_GE(toolkit_->NudgeCount(), 2u);
}

TEST_F(DeployCommandFlowTest, LockedFileRefusedEndsWithoutDialogAndRestoresTheCursor) {
  repo_.File("a.htm").File("b.htm").Lock("a.htm", "bob");
  toolkit_->Answer(MessageAnswer::No);
  EXPECT_TRUE(HandleCommand("Deploy", std::to_string(repo_.FolderId(""))));
  EXPECT_EQ(shown_, 0);
  EXPECT_EQ(toolkit_->MessageBoxes().size(), 1u);
  EXPECT_EQ(toolkit_->GetCursor(), Cursor::Default);
  EXPECT_EQ(BusyDepth(), 0);
}

TEST_F(DeployCommandFlowTest, NoLockedFilesAsksNothing) {
  repo_.File("index.htm").File("img/logo.gif").File("img/deep/x.png");
  EXPECT_TRUE(HandleCommand("Deploy", std::to_string(repo_.FolderId(""))));
  EXPECT_TRUE(toolkit_->MessageBoxes().empty());
  ASSERT_EQ(shown_, 1);
  ASSERT_EQ(folders_.size(), 3u);
  EXPECT_EQ(folders_[0].Path, "");
  EXPECT_EQ(folders_[0].Id, repo_.FolderId(""));
  EXPECT_EQ(files_.size(), 3u);
  EXPECT_EQ(deployTo_, "");
  // Every folder of a file is in the folder list.
  const FolderIndex index(folders_);
  for (const auto& f : files_) EXPECT_GE(index.Find(f.Info.FolderId), 0) << f.Name;
}

TEST_F(DeployCommandFlowTest, FolderWithoutFilesStillShowsTheDialog) {
  repo_.File("index.htm").Folder("empty");
  EXPECT_TRUE(HandleCommand("Deploy", std::to_string(repo_.FolderId("empty"))));
  ASSERT_EQ(shown_, 1);
  EXPECT_TRUE(files_.empty());
  ASSERT_EQ(folders_.size(), 1u);
  EXPECT_EQ(folders_[0].Path, "");
}

TEST_F(DeployCommandFlowTest, HostErrorBeepsThenShowsTheHostsText) {
  repo_.File("index.htm").Fault("folderinfo-fail");
  EXPECT_TRUE(HandleCommand("Deploy", std::to_string(repo_.FolderId(""))));
  EXPECT_EQ(shown_, 0);
  const long beep = IndexOf(Kind::Beep);
  const long box = IndexOf(Kind::ShowMessageBox);
  ASSERT_GE(beep, 0);
  ASSERT_GT(box, beep);
  EXPECT_EQ(toolkit_->Events()[static_cast<size_t>(beep)].beep, platform::BeepKind::Exclamation);
  const auto boxes = toolkit_->MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.rfind("The repository reported a failure", 0), 0u) << boxes[0].text;
  EXPECT_EQ(boxes[0].icon, platform::MessageIcon::Error);
  EXPECT_EQ(boxes[0].buttons, platform::MessageButtons::Ok);
  // The busy cursor had not started yet.
  EXPECT_EQ(IndexOf(Kind::Cursor), -1);
}

TEST_F(DeployCommandFlowTest, HostStringsFillingTheirBuffersAreBounded) {
  // Notes of 65,535 characters: the largest the host's buffer holds with its terminator.
  std::string notes = "[Web Folder]\r\nDeployTo=/srv/www\r\n[Other]\r\nK=";
  notes += std::string(65535 - notes.size(), 'n');
  repo_.File("index.htm").Notes("", notes);
  EXPECT_TRUE(HandleCommand("Deploy", std::to_string(repo_.FolderId(""))));
  ASSERT_EQ(shown_, 1);
  EXPECT_EQ(deployTo_, "/srv/www");

  // Every string fills its whole buffer with no terminating zero: the command reads no further
  // than the buffers. The folder path no longer names any folder, so nothing is collected.
  shown_ = 0;
  repo_.Fault("unterminated");
  EXPECT_TRUE(HandleCommand("Deploy", std::to_string(repo_.FolderId(""))));
  ASSERT_EQ(shown_, 1);
  EXPECT_EQ(caption_.size(), 2048u);
  EXPECT_TRUE(folders_.empty());
  EXPECT_TRUE(files_.empty());
}

TEST_F(DeployCommandFlowTest, NotesTooLargeForTheHostBufferShowTheHostsError) {
  repo_.File("index.htm").Notes("", "[Web Folder]\r\nDeployTo=" + std::string(70000, 'n') + "\r\n");
  EXPECT_TRUE(HandleCommand("Deploy", std::to_string(repo_.FolderId(""))));
  EXPECT_EQ(shown_, 0);
  ASSERT_EQ(toolkit_->MessageBoxes().size(), 1u);
  EXPECT_EQ(toolkit_->MessageBoxes()[0].icon, platform::MessageIcon::Error);
}

TEST_F(DeployCommandFlowTest, MalformedFolderIdIsSilent) {
  repo_.File("index.htm");
  EXPECT_TRUE(HandleCommand("Deploy", std::to_string(repo_.FolderId("")) + "a"));
  EXPECT_TRUE(toolkit_->Events().empty());
  EXPECT_EQ(shown_, 0);
}

TEST_F(DeployCommandFlowTest, DialogFailureKeepsTheResult) {
  repo_.File("index.htm");
  SetShowDeployDialog([](const std::string&, const std::string&, const TFileList&, const TFolderList&,
                         const std::string&) { throw std::runtime_error("dialog broke"); });
  EXPECT_TRUE(HandleCommand("Deploy", std::to_string(repo_.FolderId(""))));
  EXPECT_EQ(BusyDepth(), 0);
}

}  // namespace
}  // namespace skelder::deploy
