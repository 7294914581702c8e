// Whatever the host passes, no export ends in an exception or a crash on the host's side: null
// buffers and records, unknown windows, ids of objects that do not exist, host libraries that
// are missing or lack a function.
#include <cstring>
#include <vector>

#include "addin_exports.h"

namespace skelder::test {
namespace {

class HostileTest : public AddinTest {
 protected:
  void SetUp() override {
    AddinTest::SetUp();
    probeEnv_ = std::make_unique<ScopedEnv>("SKELDER_PROBE_DIR", probe_.path());
    WriteFile(probe_ / "objects/7.notes", "[Web Folder]\r\nDeployTo=/srv/www\r\n");
    WriteFile(script_.path() + "/script", "");
    options_ = script_.path() + "/script";
  }
  TempDir probe_;
  TempDir script_;
  std::string options_;
  std::unique_ptr<ScopedEnv> probeEnv_;
};

// Every export with arguments no host should pass.
int CallEverything(const AddinExports& e, const std::string& options) {
  CHILD_CHECK(e.SkelderConfigureToolkit("scripted", options.c_str()) == 1);
  e.VcsInitEventAddin(nullptr, -1, -1);
  e.VcsInstalled();
  e.VcsUninstalled();
  CHILD_CHECK(e.VcsHandleCommand(nullptr, nullptr) == 0);
  CHILD_CHECK(e.VcsHandleCommand("Deploy", nullptr) == 1);
  CHILD_CHECK(e.VcsHandleCommand("Deploy", "999999") == 1);
  e.VcsConfigureAddin();
  e.VcsShowAbout();
  e.VcsReleaseAddin();
  e.GetAddinInfo(nullptr, nullptr);
  CHILD_CHECK(e.MTGetTopMenuCount() == 1);
  CHILD_CHECK(e.MTGetTopMenuInfo(0, nullptr) == 0);
  CHILD_CHECK(e.MTGetTopMenuInfo(INT32_MIN, nullptr) == 0);
  CHILD_CHECK(e.MTGetMenuInfo(0, 0, nullptr, nullptr) == 0);
  CHILD_CHECK(e.MTGetMenuInfo(0, 0, nullptr, nullptr) == 0);
  CHILD_CHECK(e.MTGetMenuInfo(0, -2, nullptr, nullptr) == 1);
  CHILD_CHECK(e.MTGetMenuInfo(0, -2, nullptr, nullptr) == 1);  // finish twice
  CHILD_CHECK(e.MTGetMenuInfo(INT32_MAX, INT32_MIN, nullptr, nullptr) == 0);
  e.MTActionStatus(10001, nullptr, nullptr, nullptr, 0);
  e.MTNotifySelection(1, nullptr);
  int32_t* nowhere = nullptr;
  e.MTNotifySelection(1, &nowhere);
  e.MTNotifySelection(2, reinterpret_cast<const void*>(uintptr_t{0x10}));  // not looked at
  Selection missing(999999), seven(7);
  e.MTNotifySelection(1, missing.Arg());
  e.MTNotifySelection(1, seven.Arg());
  e.MTActionStatus(10001, nullptr, nullptr, nullptr, 0);
  CHILD_CHECK(e.MTActionExecute(10001) == 1);  // the Deploy command runs and contains its failure
  CHILD_CHECK(e.HasDlgAddin(INT32_MIN, -1) == 0);
  uint32_t page = e.GetDlgAddin(1006, 0xDEADBEEF, 999999, nullptr, nullptr, 0);
  CHILD_CHECK(page != 0);
  e.DlgAddinParentResized(1006, page, 100, 100, 0, 0);  // turned inside out
  e.DlgAddinParentResized(1006, page, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  e.DlgAddinParentResized(1006, 0xFFFFFFFF, 0, 0, 10, 10);
  CHILD_CHECK(e.DlgAddinGetData(1006, 0xFFFFFFFF, nullptr) == 0);
  CHILD_CHECK(e.DlgAddinGetData(1006, page, nullptr) == 0);
  CHILD_CHECK(e.DlgAddinValidate(0, 0) == 0);
  CHILD_CHECK(e.SkelderRunPropertyPage(0) == 0);
  CHILD_CHECK(e.SkelderRunPropertyPage(page) == 0);  // nothing in the script: cancelled
  e.DlgAddinRelease(1006, 12345);
  e.DlgAddinRelease(1006, page);
  e.DlgAddinRelease(1006, 0);
  CHILD_CHECK(e.DlgAddinValidate(1006, page) == 0);
  CHILD_CHECK(e.SkelderRunPropertyPage(page) == 0);
  e.ReleaseVcsAddin();
  e.ReleaseVcsAddin();
  CHILD_CHECK(e.MTGetTopMenuCount() == 0);
  return 0;
}

TEST_F(HostileTest, NoHostLibrariesAtAll) {
  TempDir empty;
  user_.SetInstallDir(empty.path());
  RunHost([&](const AddinExports& e) { return CallEverything(e, options_); });
}

TEST_F(HostileTest, HostLibrariesWithoutTheMenuFunctions) {
  user_.SetInstallDir(BinDir() + "/probe_host_bare");
  RunHost([&](const AddinExports& e) { return CallEverything(e, options_); });
}

TEST_F(HostileTest, HostWithTheStandInLibrariesButNoRepository) {
  user_.SetInstallDir(BinDir());
  ScopedEnv noRepository("ARDMOOR_REPOSITORY", std::string("/nonexistent/repository"));
  RunHost([&](const AddinExports& e) { return CallEverything(e, options_); });
}

TEST_F(HostileTest, APermissionQueryTheHostCannotAnswerDisablesTheAction) {
  user_.SetInstallDir(BinDir() + "/probe_host_nopermission");
  RunHost([](const AddinExports& e) {
    e.GetAddinInfo(nullptr, nullptr);
    Selection seven(7);
    e.MTNotifySelection(1, seven.Arg());
    uint8_t en = 9, ch = 9, vi = 9;
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 0);
    CHILD_CHECK(en == 0 && vi == 1);
    return 0;
  });
}

}  // namespace
}  // namespace skelder::test
