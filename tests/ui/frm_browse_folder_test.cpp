// The folder browse component against the scripted browser: path shortening, the directory
// choice of the property page, the new-folder flow, the remembered place, OK and the extra
// button following the selection.
#include "ui/frm_browse_folder.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/files.h"
#include "platform/scripted_toolkit.h"
#include "test_support.h"

namespace skelder::ui {
namespace {

using test::NativePath;

using platform::ScriptAction;
using platform::ScriptedFolderBrowser;
using platform::ScriptedToolkit;

TEST(ShortenPath, KeepsShortPathsAndShortensLongOnesAtThirtyFiveCharacters) {
  EXPECT_EQ(ShortenPath("C:\\Program Files\\Common Files\\System\\ado\\msado15", 35, '\\'),
            "C:\\...\\System\\ado\\msado15");
  EXPECT_EQ(ShortenPath("C:\\Short\\Path", 35, '\\'), "C:\\Short\\Path");
  // The platform's separator by default.
  EXPECT_EQ(ShortenPath(NativePath("/usr/share/common-licenses/Apache-2.0")),
            NativePath("/.../common-licenses/Apache-2.0"));
  EXPECT_EQ(ShortenPath(NativePath("/usr/share/common-licenses/GPL")), NativePath("/usr/share/common-licenses/GPL"));
  // Exactly at the limit stays; one more is shortened.
  std::string at35 = NativePath("/aaaaaaaaa/bbbbbbbbb/ccccccccc/dddd");
  ASSERT_EQ(at35.size(), 35u);
  EXPECT_EQ(ShortenPath(at35), at35);
  EXPECT_EQ(ShortenPath(at35 + "d"), NativePath("/.../bbbbbbbbb/ccccccccc/ddddd"));
}

TEST(ShortenPath, FewPartsOrIrreduciblePartsEndAsFirstEllipsisLast) {
  std::string twoParts = NativePath("/") + std::string(39, 'x');
  ASSERT_EQ(twoParts.size(), 40u);
  EXPECT_EQ(ShortenPath(twoParts), twoParts);
  std::string longLast = NativePath("first/second/third/") + std::string(40, 'z');
  EXPECT_EQ(ShortenPath(longLast), NativePath("first/.../") + std::string(40, 'z'));
  // Empty parts count as parts.
  EXPECT_EQ(ShortenPath(NativePath("//") + std::string(40, 'q')), NativePath("/.../") + std::string(40, 'q'));
}

class BrowseFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRememberedBrowserPosition(0, 0);
    auto toolkit = std::make_unique<ScriptedToolkit>();
    toolkit_ = toolkit.get();
    platform::SetToolkit(std::move(toolkit));
    test::MakeDirs(dir_ / "Web");
  }
  void TearDown() override { platform::SetToolkit(nullptr); }

  ScriptedFolderBrowser& Browser() { return toolkit_->Browser(); }
  const ScriptedFolderBrowser::Shown& Show(size_t i) { return Browser().Shows().at(i); }

  test::TempDir dir_;
  std::string web_ = dir_ / "Web";
  ScriptedToolkit* toolkit_ = nullptr;
};

TEST_F(BrowseFolderTest, DirectoryChoiceAddsASeparatorOnlyWhenTheInitialTextHadNone) {
  Browser().Select(web_);
  Browser().Ok();
  EXPECT_EQ(BrowseForDirectory(0, ""), web_ + NativePath("/"));
  const auto& shown = Show(0);
  EXPECT_EQ(shown.title, "Choose a directory:");
  EXPECT_EQ(shown.flags, platform::kBifReturnOnlyFsDirs | platform::kBifStatusText | platform::kBifReturnFsAncestors);
  EXPECT_FALSE(shown.rootGiven);
  ASSERT_EQ(shown.buttonsAtInit.size(), 1u);
  EXPECT_EQ(shown.buttonsAtInit[0].controlId, 255);
  EXPECT_EQ(shown.buttonsAtInit[0].caption, "&New Folder");
  EXPECT_EQ(shown.buttonsAtInit[0].left, 12);
  EXPECT_EQ(shown.buttonsAtInit[0].top, 270);
  EXPECT_EQ(shown.buttonsAtInit[0].width, 75);
  EXPECT_EQ(shown.buttonsAtInit[0].height, 23);
  EXPECT_EQ(shown.buttonsAtInit[0].style, platform::kBsPushButton);

  // With a final separator the folder is preselected without it and nothing is added.
  Browser().Ok();
  EXPECT_EQ(BrowseForDirectory(0, web_ + NativePath("/")), web_);
  EXPECT_EQ(Show(1).selectionAtInit, web_);

  // Cancel gives the initial text back.
  Browser().Cancel();
  EXPECT_EQ(BrowseForDirectory(0, ""), "");
  Browser().Escape();
  EXPECT_EQ(BrowseForDirectory(0, web_ + NativePath("/")), web_ + NativePath("/"));
  EXPECT_EQ(Browser().LiveItems(), 0u) << "every item the component got is freed";
}

TEST_F(BrowseFolderTest, TheRootDoesNotGetASecondSeparator) {
  const std::string root = platform::kPathSeparator == '/' ? "/" : "C:\\";
  Browser().Select(root);
  Browser().Ok();
  EXPECT_EQ(BrowseForDirectory(0, ""), root);
}

TEST_F(BrowseFolderTest, NewFolderIsMadeUnderTheSelectionAndTheBrowserReopensOnIt) {
  Browser().Select(web_);
  Browser().Click(255);
  toolkit_->Then(ScriptAction::SetText("edtValue", "Site")).Then(ScriptAction::Click("btnOK"));
  Browser().Ok();
  EXPECT_EQ(BrowseForDirectory(0, ""), web_ + NativePath("/Site/"));
  EXPECT_TRUE(platform::DirectoryExists(web_ + NativePath("/Site")));
  ASSERT_EQ(Browser().Shows().size(), 2u);
  EXPECT_EQ(Show(0).chosen, std::nullopt) << "the first browser closes without a choice";
  EXPECT_EQ(Show(1).selectionAtInit, web_ + NativePath("/Site"));
  EXPECT_EQ(Show(1).placeAtInit.left, Show(0).placeAtClose.left);
  EXPECT_EQ(Show(1).placeAtInit.top, Show(0).placeAtClose.top);
  auto shown = toolkit_->EventsOf(platform::ToolkitEvent::Kind::FormShown);
  ASSERT_EQ(shown.size(), 1u);
  const auto* prompt = toolkit_->SnapshotOf(shown[0]);
  ASSERT_NE(prompt, nullptr);
  EXPECT_EQ(prompt->caption, "Enter the name");
  EXPECT_EQ(prompt->Get("lblPrompt").caption, "New Folder");
  EXPECT_EQ(prompt->Get("edtValue").caption, "");
}

TEST_F(BrowseFolderTest, ANameWithALeadingSeparatorGivesTheSameFolder) {
  Browser().Select(web_);
  Browser().Click(255);
  toolkit_->Then(ScriptAction::SetText("edtValue", NativePath("/Site"))).Then(ScriptAction::Click("btnOK"));
  Browser().Ok();
  EXPECT_EQ(BrowseForDirectory(0, ""), web_ + NativePath("/Site/"));
  EXPECT_TRUE(platform::DirectoryExists(web_ + NativePath("/Site")));
  EXPECT_FALSE(platform::DirectoryExists(web_ + NativePath("//Site/Site")));
}

TEST_F(BrowseFolderTest, AnEmptyOrCancelledNameDoesNothing) {
  Browser().Select(web_);
  Browser().Click(255);
  toolkit_->Then(ScriptAction::Click("btnCancel"));
  Browser().Click(255);
  toolkit_->Then(ScriptAction::Click("btnOK"));  // empty name
  Browser().Ok();
  EXPECT_EQ(BrowseForDirectory(0, ""), web_ + NativePath("/"));
  EXPECT_EQ(Browser().Shows().size(), 1u) << "no reopening";
  EXPECT_EQ(test::ListFiles(web_).size(), 0u);
}

TEST_F(BrowseFolderTest, AFolderThatCannotBeMadeReopensWithoutSelectingIt) {
  test::WriteFile(web_ + NativePath("/file"), "x");
  Browser().Select(web_ + NativePath("/file"));  // the scripted user may pick any path; it is no folder
  Browser().Click(255);
  toolkit_->Then(ScriptAction::SetText("edtValue", "Site")).Then(ScriptAction::Click("btnOK"));
  Browser().Cancel();
  EXPECT_EQ(BrowseForDirectory(0, ""), "");
  ASSERT_EQ(Browser().Shows().size(), 2u);
  EXPECT_EQ(Show(1).selectionAtInit, NativePath("/")) << "the missing folder is not selected";
}

TEST_F(BrowseFolderTest, FirstBrowserIsCentredAndLaterOnesOpenWhereTheUserLeftThem) {
  Browser().SetScreenSize(1024, 768);
  Browser().SetBrowserSize(331, 400);
  Browser().MoveTo(40, 50);
  Browser().Cancel();
  BrowseForDirectory(0, "");
  EXPECT_EQ(Show(0).placeAtInit.left, 512 - 165);
  EXPECT_EQ(Show(0).placeAtInit.top, 192);
  EXPECT_EQ(Show(0).placeAtInit.Width(), 331) << "the size stays";
  Browser().Cancel();
  BrowseForDirectory(0, "");
  EXPECT_EQ(Show(1).placeAtInit.left, 40);
  EXPECT_EQ(Show(1).placeAtInit.top, 50);
  EXPECT_EQ(RememberedBrowserPosition(), std::make_pair(40, 50));
}

TEST_F(BrowseFolderTest, OkAndTheExtraButtonFollowWhetherTheSelectionIsAFolder) {
  std::string deep = web_ + NativePath("/a-rather-long-folder-name/and-another-one/leaf");
  test::MakeDirs(deep);
  Browser().Select(deep);
  Browser().SelectVirtual("Printers");
  Browser().Click(255);  // disabled: nothing happens
  Browser().Ok();        // disabled: nothing happens
  Browser().Select(web_);
  Browser().Ok();
  EXPECT_EQ(BrowseForDirectory(0, ""), web_ + NativePath("/"));
  const auto& shown = Show(0);
  ASSERT_GE(shown.statusTexts.size(), 3u);
  EXPECT_EQ(shown.statusTexts[1], ShortenPath(deep));
  EXPECT_LE(shown.statusTexts[1].size(), 35u + 40u);
  EXPECT_EQ(shown.statusTexts[2], "") << "a place without a path shows an empty status";
  // okStates: at init, then after each action.
  ASSERT_EQ(shown.okStates.size(), 7u);
  EXPECT_TRUE(shown.okStates[1]);
  EXPECT_FALSE(shown.okStates[2]);
  EXPECT_FALSE(shown.okStates[3]);
  EXPECT_FALSE(shown.okStates[4]);
  EXPECT_TRUE(shown.okStates[5]);
  EXPECT_TRUE(shown.buttonsAtClose.at(0).enabled);
  EXPECT_EQ(Browser().Shows().size(), 1u);
}

TEST_F(BrowseFolderTest, CheckBoxStateIsReadBackOnOk) {
  TKVOClientBrowseFolder browse;
  browse.CustomButtonVisible = true;
  browse.CustomButtonType = btCheckBox;
  browse.CustomButtonChecked = true;
  browse.OnCustomButtonClick = [](TKVOClientBrowseFolder&, uint32_t) {};
  Browser().Select(web_);
  Browser().Click(255);  // toggles it off
  Browser().Ok();
  ASSERT_TRUE(browse.Execute());
  EXPECT_EQ(browse.Directory, web_);
  EXPECT_FALSE(browse.CustomButtonChecked);
  EXPECT_TRUE(Show(0).buttonsAtInit.at(0).checked);
  EXPECT_EQ(Show(0).buttonsAtInit.at(0).style, platform::kBsAutoCheckBox);
}

TEST_F(BrowseFolderTest, ButtonClickHandlerAndDesignModeReplaceTheNewFolderFlow) {
  TKVOClientBrowseFolder browse;
  browse.CustomButtonVisible = true;
  int clicks = 0;
  uint32_t dialog = 0;
  browse.OnCustomButtonClick = [&](TKVOClientBrowseFolder& sender, uint32_t handle) {
    ++clicks;
    dialog = handle;
    sender.SetCustomButtonCaption("Clicked");
  };
  Browser().Select(web_);
  Browser().Click(255);
  Browser().Cancel();
  EXPECT_FALSE(browse.Execute());
  EXPECT_EQ(clicks, 1);
  EXPECT_NE(dialog, 0u);
  EXPECT_EQ(Show(0).buttonsAtClose.at(0).caption, "Clicked") << "a shown button takes a new caption at once";
  EXPECT_EQ(browse.Directory, "") << "Directory holds the path the browser was opened with";

  TKVOClientBrowseFolder designing;
  designing.Designing = true;
  designing.CustomButtonVisible = true;
  Browser().Select(web_);
  Browser().Click(255);
  Browser().Cancel();
  designing.Execute();
  auto boxes = toolkit_->MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Current directory is " + web_);
  EXPECT_EQ(Browser().Shows().size(), 2u);
}

TEST_F(BrowseFolderTest, WidthRuleAndPlatformBits) {
  TKVOClientBrowseFolder browse;
  browse.SetCustomButtonWidth(-5);
  EXPECT_EQ(browse.CustomButtonWidth(), 75);
  browse.SetCustomButtonWidth(0);
  EXPECT_EQ(browse.CustomButtonWidth(), 75);
  browse.SetCustomButtonWidth(120);
  EXPECT_EQ(browse.CustomButtonWidth(), 120);
  EXPECT_EQ(browse.Flags.Bits(), 0b101) << "file-system folders only, status text";
  EXPECT_EQ((TBrowseInfoFlagSet{bfBrowseForComputer, bfBrowseForPrinter, bfDontGoBelowDomain}).PlatformBits(), 0x3002u);
}

TEST_F(BrowseFolderTest, RootFolderAndSelectionEventsReachTheCaller) {
  TKVOClientBrowseFolder browse;
  browse.RootFolder = foPersonal;
  browse.Directory = web_;
  int initialized = 0;
  std::vector<std::string> paths;
  browse.OnInitialized = [&](TKVOClientBrowseFolder&, uint32_t) { ++initialized; };
  browse.OnSelectionChanged = [&](TKVOClientBrowseFolder&, uint32_t, platform::ItemIdList, const std::string& p) {
    paths.push_back(p);
  };
  Browser().Ok();
  test::ScopedEnv home("HOME", dir_.path());
  ASSERT_TRUE(browse.Execute());
  EXPECT_EQ(browse.Directory, web_);
  EXPECT_EQ(initialized, 1);
  EXPECT_EQ(paths, std::vector<std::string>{web_});
  EXPECT_TRUE(Show(0).rootGiven);
  EXPECT_EQ(Show(0).rootPath, dir_.path());
  EXPECT_EQ(Browser().LiveItems(), 0u) << "the root item is freed too";
}

}  // namespace
}  // namespace skelder::ui
