// The menu interface through the exports: the answers with and without a menu module, the two
// byte records at their offsets (bytes the add-in must not write stay as the host left them),
// the selection cache, the deploy permission, and the 84 retry with a buffer of size + 1.
#include <cstring>
#include <vector>

#include "addin_exports.h"

namespace skelder::test {
namespace {

constexpr uint8_t kFill = 0xCC;

int32_t Int32At(const std::vector<uint8_t>& r, size_t offset) {
  int32_t v;
  std::memcpy(&v, r.data() + offset, 4);
  return v;
}

bool Untouched(const std::vector<uint8_t>& r, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i)
    if (r[i] != kFill) return false;
  return true;
}

std::string TextAt(const std::vector<uint8_t>& r, size_t offset) {
  return std::string(reinterpret_cast<const char*>(r.data() + offset));
}

class MenuTest : public AddinTest {
 protected:
  void SetUp() override {
    AddinTest::SetUp();
    user_.SetInstallDir(BinDir() + "/probe_host");
    probeEnv_ = std::make_unique<ScopedEnv>("SKELDER_PROBE_DIR", probe_.path());
    MakeDirs(probe_ / "objects");
    MakeDirs(probe_ / "perm");
  }
  void Folder(int32_t id, const std::string& notes, int32_t type = 4) {
    WriteFile(probe_ / ("objects/" + std::to_string(id) + ".notes"), notes);
    WriteFile(probe_ / ("objects/" + std::to_string(id) + ".type"), std::to_string(type));
  }
  void Permission(int32_t id, bool allowed) { WriteFile(probe_ / ("perm/" + std::to_string(id)), allowed ? "1" : "0"); }
  std::vector<std::string> Calls() {
    return FileExists(probe_ / "calls.log") ? SplitLines(ReadFile(probe_ / "calls.log")) : std::vector<std::string>{};
  }

  TempDir probe_;
  std::unique_ptr<ScopedEnv> probeEnv_;
  const std::string web_ = "[Web Folder]\r\nDeployTo=/srv/www\r\n";
};

TEST_F(MenuTest, WithoutAModuleTheMenuGivesItsFixedAnswers) {
  RunHost([](const AddinExports& e) {
    std::vector<uint8_t> record(800, kFill);
    int32_t count = 77;
    CHILD_CHECK(e.MTGetTopMenuCount() == 0);
    CHILD_CHECK(e.MTGetTopMenuInfo(0, record.data()) == 1);
    CHILD_CHECK(e.MTGetMenuInfo(0, 0, &count, record.data()) == 1);
    CHILD_CHECK(e.MTGetMenuInfo(0, -1, &count, record.data()) == 1);
    CHILD_CHECK(Untouched(record, 0, record.size()) && count == 77);
    uint8_t en = 9, ch = 9, vi = 9;
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 0);
    CHILD_CHECK(en == 9 && ch == 9 && vi == 9);
    CHILD_CHECK(e.MTActionExecute(10001) == 0);
    return 0;
  });
}

TEST_F(MenuTest, TopMenuRecordHoldsWebAndItsTwoValuesAtTheirOffsets) {
  RunHost([](const AddinExports& e) {
    char name[64], description[64];
    std::memset(name, 'x', sizeof name);
    std::memset(description, 'x', sizeof description);
    e.GetAddinInfo(name, description);
    CHILD_CHECK(std::string(name) == "Web Folders");
    CHILD_CHECK(std::string(description) == "Adds support for Web Folders");
    CHILD_CHECK(name[12] == 'x' && description[29] == 'x');
    CHILD_CHECK(e.MTGetTopMenuCount() == 1);

    std::vector<uint8_t> r(600, kFill);
    CHILD_CHECK(e.MTGetTopMenuInfo(-1, r.data()) == 1);
    CHILD_CHECK(e.MTGetTopMenuInfo(-2, r.data()) == 1);
    CHILD_CHECK(Untouched(r, 0, r.size()));
    CHILD_CHECK(e.MTGetTopMenuInfo(1, r.data()) == 0);
    CHILD_CHECK(e.MTGetTopMenuInfo(0, r.data()) == 1);
    CHILD_CHECK(TextAt(r, 0) == "Web");
    CHILD_CHECK(TextAt(r, 256).empty());
    CHILD_CHECK(Untouched(r, 512, 516));
    CHILD_CHECK(Int32At(r, 516) == 5002);
    CHILD_CHECK(Int32At(r, 520) == 1);
    CHILD_CHECK(Untouched(r, 524, r.size()));
    return 0;
  });
}

TEST_F(MenuTest, MenuItemRecordAndItsBitmapAcrossPrepareAndFinish) {
  RunHost([](const AddinExports& e) {
    e.GetAddinInfo(nullptr, nullptr);
    std::vector<uint8_t> r(900, kFill);
    int32_t count = 5;
    CHILD_CHECK(e.MTGetMenuInfo(1, 0, &count, r.data()) == 0);
    CHILD_CHECK(e.MTGetMenuInfo(0, 1, &count, r.data()) == 0);
    CHILD_CHECK(e.MTGetMenuInfo(0, -1, &count, r.data()) == 1);
    CHILD_CHECK(Untouched(r, 0, r.size()) && count == 5);
    CHILD_CHECK(e.MTGetMenuInfo(0, 0, &count, r.data()) == 1);
    CHILD_CHECK(count == 0);
    CHILD_CHECK(Int32At(r, 0) == 10001);
    CHILD_CHECK(r[4] == 0);
    CHILD_CHECK(TextAt(r, 5) == "Deploy Folder...");
    CHILD_CHECK(TextAt(r, 261) == "Deploy the currently selected Web Folder");
    CHILD_CHECK(Untouched(r, 517, 773));
    CHILD_CHECK(r[773] == 0 && r[774] == 0);
    uint32_t bitmap = static_cast<uint32_t>(Int32At(r, 775));
    CHILD_CHECK(bitmap != 0);
    CHILD_CHECK(Untouched(r, 779, 781));
    CHILD_CHECK(Int32At(r, 781) == 0 && Int32At(r, 785) == 0);
    CHILD_CHECK(Untouched(r, 789, r.size()));
    // The same picture again for a second item request before the finish.
    std::vector<uint8_t> again(900, kFill);
    CHILD_CHECK(e.MTGetMenuInfo(0, 0, &count, again.data()) == 1);
    CHILD_CHECK(static_cast<uint32_t>(Int32At(again, 775)) == bitmap);
    CHILD_CHECK(e.MTGetMenuInfo(0, -2, &count, r.data()) == 1);
    // After the finish an item request has no picture to hand out.
    CHILD_CHECK(e.MTGetMenuInfo(0, 0, &count, again.data()) == 1);
    CHILD_CHECK(Int32At(again, 775) == 0);
    return 0;
  });
}

TEST_F(MenuTest, ModuleLivesFromGetAddinInfoToReleaseAndReleaseTwiceIsHarmless) {
  RunHost([](const AddinExports& e) {
    e.GetAddinInfo(nullptr, nullptr);
    e.GetAddinInfo(nullptr, nullptr);
    CHILD_CHECK(e.MTGetTopMenuCount() == 1);
    e.ReleaseVcsAddin();
    CHILD_CHECK(e.MTGetTopMenuCount() == 0);
    e.ReleaseVcsAddin();
    CHILD_CHECK(e.MTGetTopMenuCount() == 0);
    e.GetAddinInfo(nullptr, nullptr);
    CHILD_CHECK(e.MTGetTopMenuCount() == 1);
    return 0;
  });
}

TEST_F(MenuTest, AWebFolderWithPermissionEnablesTheActionAndTheCacheAsksOnce) {
  Folder(7, "[General]\r\nA=1\r\n" + web_);
  Folder(8, "[General]\r\nA=1\r\n");
  RunHost([](const AddinExports& e) {
    e.GetAddinInfo(nullptr, nullptr);
    Selection seven(7), eight(8);
    e.MTNotifySelection(1, seven.Arg());
    e.MTNotifySelection(1, seven.Arg());
    uint8_t en = 9, ch = 9, vi = 9;
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 1);
    CHILD_CHECK(en == 1 && ch == 0 && vi == 1);
    CHILD_CHECK(e.MTActionStatus(10002, &en, &ch, &vi, 0) == 0);  // unknown ids touch nothing
    e.MTNotifySelection(1, eight.Arg());
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 1);
    CHILD_CHECK(en == 0);
    e.MTNotifySelection(1, seven.Arg());
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 1 && en == 1);
    return 0;
  });
  EXPECT_EQ(Calls(), (std::vector<std::string>{"objectinfo 7 32000", "permission 7", "objectinfo 8 32000",
                                               "objectinfo 7 32000", "permission 7"}));
}

TEST_F(MenuTest, UnknownActionIdsLeaveTheOutputsAlone) {
  Folder(7, web_);
  RunHost([](const AddinExports& e) {
    e.GetAddinInfo(nullptr, nullptr);
    Selection seven(7);
    e.MTNotifySelection(1, seven.Arg());
    for (int32_t id : {0, 1, -1, 10000, 10002, 5002}) {
      uint8_t en = 9, ch = 9, vi = 9;
      CHILD_CHECK(e.MTActionStatus(id, &en, &ch, &vi, 0) == 0);
      CHILD_CHECK(en == 9 && ch == 9 && vi == 9);
      CHILD_CHECK(e.MTActionExecute(id) == 0);
    }
    return 0;
  });
}

TEST_F(MenuTest, EmptyDeployToNoSectionOtherTypesAndMissingObjectsAreNotWebFolders) {
  Folder(1, "[Web Folder]\r\nDeployTo=/a\r\n");
  Folder(2, "[Web Folder]\r\nDeployTo=\r\nEnabled=1\r\n");
  Folder(3, "[Other]\r\nDeployTo=/a\r\n");
  Folder(4, "[Web Folder]\r\nDeployTo=/a\r\n", 1);  // a file, not a folder
  RunHost([](const AddinExports& e) {
    e.GetAddinInfo(nullptr, nullptr);
    for (int32_t id : {2, 3, 4, 99}) {
      Selection one(1), other(id);
      e.MTNotifySelection(1, one.Arg());
      uint8_t en = 9, ch = 9, vi = 9;
      CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 1 && en == 1);
      e.MTNotifySelection(1, other.Arg());
      CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 1);
      CHILD_CHECK(en == 0);
    }
    return 0;
  });
}

TEST_F(MenuTest, NotesLargerThanTheFirstBufferAreFetchedAgainWithSizePlusOne) {
  std::string big = "[Filler]\r\n";
  while (big.size() < 40000) big += "K" + std::to_string(big.size()) + "=" + std::string(60, 'v') + "\r\n";
  big += web_;
  Folder(5, big);
  RunHost([](const AddinExports& e) {
    e.GetAddinInfo(nullptr, nullptr);
    Selection five(5);
    e.MTNotifySelection(1, five.Arg());
    uint8_t en = 9, ch = 9, vi = 9;
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 1 && en == 1);
    return 0;
  });
  const std::string needed = std::to_string(big.size() + 1);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"objectinfo 5 32000", "objectinfo 5 " + needed, "permission 5"}));
}

TEST_F(MenuTest, AHostThatAnswers84TwiceGivesNoWebFolder) {
  Folder(5, web_);
  WriteFile(probe_ / "always84", "");
  RunHost([](const AddinExports& e) {
    e.GetAddinInfo(nullptr, nullptr);
    Selection five(5);
    e.MTNotifySelection(1, five.Arg());
    uint8_t en = 9, ch = 9, vi = 9;
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 1 && en == 0);
    return 0;
  });
  EXPECT_EQ(Calls().size(), 2u) << "one retry only";
}

TEST_F(MenuTest, PermissionDeniedDisablesTheActionAndTheStatusAnswersFalse) {
  Folder(7, web_);
  Permission(7, false);
  Folder(9, web_);
  RunHost([](const AddinExports& e) {
    e.GetAddinInfo(nullptr, nullptr);
    Selection seven(7), nine(9);
    e.MTNotifySelection(1, seven.Arg());
    uint8_t en = 9, ch = 9, vi = 9;
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 0);
    CHILD_CHECK(en == 0 && ch == 0 && vi == 1);
    e.MTNotifySelection(1, nine.Arg());
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 1 && en == 1);
    return 0;
  });
}

TEST_F(MenuTest, SelectionStateWithoutAModule) {
  Folder(7, web_);
  Folder(8, "[General]\r\n");
  RunHost([](const AddinExports& e) {
    Selection seven(7), eight(8);
    uint8_t en = 9, ch = 9, vi = 9;
    // Kind 1 without a module keeps the selection; the module sees it again when it comes.
    e.GetAddinInfo(nullptr, nullptr);
    e.MTNotifySelection(1, seven.Arg());
    e.ReleaseVcsAddin();
    e.MTNotifySelection(1, eight.Arg());
    e.GetAddinInfo(nullptr, nullptr);
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 1 && en == 1);
    // Another kind clears it even without a module.
    e.ReleaseVcsAddin();
    e.MTNotifySelection(2, seven.Arg());
    e.GetAddinInfo(nullptr, nullptr);
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 1 && en == 0);
    return 0;
  });
  EXPECT_EQ(Calls(), (std::vector<std::string>{"objectinfo 7 32000", "permission 7"}));
}

TEST_F(MenuTest, AHostLibraryWithoutTheFunctionsNeverEnablesTheAction) {
  user_.SetInstallDir(BinDir() + "/probe_host_bare");
  Folder(7, web_);
  RunHost([](const AddinExports& e) {
    e.GetAddinInfo(nullptr, nullptr);
    Selection seven(7);
    e.MTNotifySelection(1, seven.Arg());
    uint8_t en = 9, ch = 9, vi = 9;
    CHILD_CHECK(e.MTActionStatus(10001, &en, &ch, &vi, 0) == 1 && en == 0);
    return 0;
  });
  EXPECT_TRUE(Calls().empty());
}

}  // namespace
}  // namespace skelder::test
