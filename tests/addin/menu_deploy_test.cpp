// The menu action end to end: a selection of a web folder in the stand-in host enables
// "Deploy Folder...", and executing it runs the Deploy command for that folder.
#include "addin_exports.h"

namespace skelder::test {
namespace {

class MenuDeployTest : public AddinTest {
 protected:
  void SetUp() override {
    AddinTest::SetUp();
    user_.SetInstallDir(BinDir());
  }
  HostSimRepository repo_;
  TempDir work_;
};

TEST_F(MenuDeployTest, ExecutingTheActionDeploysTheSelectedWebFolder) {
  repo_.File("index.htm", "<html/>").File("img/logo.gif", "GIF89a");
  repo_.Notes("", "[Web Folder]\r\nDeployTo=" + (work_ / "www") + "\r\n");
  const int32_t root = repo_.FolderId("");
  const int32_t img = repo_.FolderId("img");
  const std::string capture = work_ / "lists.txt";
  RunHost([&](const AddinExports& e) {
    auto setCapture =
        reinterpret_cast<uint8_t(SKELDER_STDCALL*)(const char*)>(AddinSymbol("SkelderCaptureDeployLists"));
    CHILD_CHECK(setCapture && setCapture(capture.c_str()) == 1);
    e.GetAddinInfo(nullptr, nullptr);
    Selection sub(img), top(root);
    uint8_t en = 9, ch = 9, vi = 9;
    e.MTNotifySelection(1, sub.Arg());  // no settings: not a web folder
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 1 && en == 0);
    e.MTNotifySelection(1, top.Arg());
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 1 && en == 1);
    CHILD_CHECK(e.MTActionExecute(10001) == 1);
    return 0;
  });
  ASSERT_TRUE(FileExists(capture)) << last_.output;
  const std::string lists = ReadFile(capture);
  EXPECT_NE(lists.find("index.htm"), std::string::npos) << lists;
  EXPECT_NE(lists.find("logo.gif"), std::string::npos) << lists;
}

TEST_F(MenuDeployTest, RunningTheActionWithoutASelectedWebFolderDeploysNothing) {
  repo_.File("index.htm", "<html/>");
  const std::string capture = work_ / "lists.txt";
  const std::string transcript = work_ / "transcript";
  WriteFile(work_ / "script", "");
  const std::string options = (work_ / "script") + ",transcript=" + transcript;
  RunHost([&](const AddinExports& e) {
    auto setCapture =
        reinterpret_cast<uint8_t(SKELDER_STDCALL*)(const char*)>(AddinSymbol("SkelderCaptureDeployLists"));
    CHILD_CHECK(setCapture && setCapture(capture.c_str()) == 1);
    CHILD_CHECK(e.SkelderConfigureToolkit("scripted", options.c_str()) == 1);
    e.GetAddinInfo(nullptr, nullptr);
    CHILD_CHECK(e.MTActionExecute(10001) == 1);
    return 0;
  });
  EXPECT_FALSE(FileExists(capture));
  // A Deploy command for folder 0 would have told the user the host's error.
  EXPECT_FALSE(FileExists(transcript)) << ReadFile(transcript);
}

TEST_F(MenuDeployTest, AFolderTheHostDoesNotLetTheUserDeployKeepsTheActionDisabled) {
  repo_.Notes("", "[Web Folder]\r\nDeployTo=" + (work_ / "www") + "\r\n").Permit("", false);
  const int32_t root = repo_.FolderId("");
  RunHost([&](const AddinExports& e) {
    e.GetAddinInfo(nullptr, nullptr);
    Selection top(root);
    e.MTNotifySelection(1, top.Arg());
    uint8_t en = 9, ch = 9, vi = 9;
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 0 && en == 0);
    return 0;
  });
}

}  // namespace
}  // namespace skelder::test
