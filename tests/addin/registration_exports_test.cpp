// The add-in's entry in the host's add-in list, KVOAddins.dat, maintained through the exports:
// copied from the installation first, matched without letter case, only its own key removed.
#include <cstring>
#include <filesystem>

#include "addin_exports.h"

namespace skelder::test {
namespace {

class RegistrationTest : public AddinTest {
 protected:
  void SetUp() override {
    AddinTest::SetUp();
    user_.SetInstallDir(install_.path());
  }
  std::string UserList() const { return user_.UserDir() + "KVOAddins.dat"; }
  std::string InstallList() const { return install_ / "KVOAddins.dat"; }
  void Install() {
    RunHost([](const AddinExports& e) {
      e.VcsInstalled();
      return 0;
    });
  }
  void Uninstall() {
    RunHost([](const AddinExports& e) {
      e.VcsUninstalled();
      return 0;
    });
  }
  TempDir install_;
};

TEST_F(RegistrationTest, InitEventNamesTheHandlerKeepsItsValuesAndRegisters) {
  RunHost([](const AddinExports& e) {
    char name[64];
    std::memset(name, 'x', sizeof name);
    e.VcsInitEventAddin(name, 17, -3);
    CHILD_CHECK(std::string(name) == "Skelder Command Handler");
    CHILD_CHECK(name[24] == 'x');
    return 0;
  });
  EXPECT_EQ(SplitLines(ReadFile(UserList())),
            (std::vector<std::string>{"[Addins]", "Skelder Command Handler=Skelder.dll"}));
}

TEST_F(RegistrationTest, InstallingTwiceLeavesOneEntry) {
  Install();
  Install();
  EXPECT_EQ(SplitLines(ReadFile(UserList())),
            (std::vector<std::string>{"[Addins]", "Skelder Command Handler=Skelder.dll"}));
}

TEST_F(RegistrationTest, AnEntryNamingTheLibraryInAnyCaseOrInQuotesCountsAsTheRegistration) {
  MakeDirs(user_.UserDir());
  for (const char* value : {"sKELDER.DLL", "\"Skelder.dll\"", "'skelder.dll'"}) {
    const std::string text =
        "[Other]\r\nX=Skelder.dll\r\n[ADDINS]\r\nSpell=Spell.dll\r\nOld Name=" + std::string(value) + "\r\n";
    WriteFile(UserList(), text);
    Install();
    EXPECT_EQ(ReadFile(UserList()), text) << value << ": nothing written";
  }
}

TEST_F(RegistrationTest, OnlyTheFirstValueOfARepeatedKeyCounts) {
  MakeDirs(user_.UserDir());
  WriteFile(UserList(), "[Addins]\r\nA=Spell.dll\r\nA=Skelder.dll\r\n");
  Install();
  EXPECT_EQ(SplitLines(ReadFile(UserList())), (std::vector<std::string>{"[Addins]", "A=Spell.dll", "A=Skelder.dll",
                                                                        "Skelder Command Handler=Skelder.dll"}));
}

TEST_F(RegistrationTest, UninstallRemovesItsOwnKeyOnly) {
  MakeDirs(user_.UserDir());
  WriteFile(UserList(),
            "; the host's list\r\n[addins]\r\nSpell=Spell.dll\r\nskelder command handler=Skelder.dll\r\n"
            "Mine=Skelder.dll\r\n[Other]\r\nSkelder Command Handler=Skelder.dll\r\n");
  Uninstall();
  EXPECT_EQ(ReadFile(UserList()),
            "; the host's list\r\n[addins]\r\nSpell=Spell.dll\r\nMine=Skelder.dll\r\n[Other]\r\n"
            "Skelder Command Handler=Skelder.dll\r\n");
}

TEST_F(RegistrationTest, UninstallWithAnEmptyValueDeletesNothing) {
  MakeDirs(user_.UserDir());
  const std::string text = "[Addins]\r\nSkelder Command Handler=\r\nSpell=Spell.dll\r\n";
  WriteFile(UserList(), text);
  Uninstall();
  EXPECT_EQ(ReadFile(UserList()), text);
}

TEST_F(RegistrationTest, TheInstallationCopyIsCopiedFirstAndStaysUnchanged) {
  const std::string installed = "[Addins]\r\nSpell=Spell.dll\r\n";
  WriteFile(InstallList(), installed);
  namespace fs = std::filesystem;  // read-only, as installed files may be
  fs::permissions(InstallList(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  Install();
  EXPECT_EQ(ReadFile(InstallList()), installed);
  EXPECT_EQ(SplitLines(ReadFile(UserList())),
            (std::vector<std::string>{"[Addins]", "Spell=Spell.dll", "Skelder Command Handler=Skelder.dll"}));
  // Removal works on the user's copy the same way.
  Uninstall();
  EXPECT_EQ(SplitLines(ReadFile(UserList())), (std::vector<std::string>{"[Addins]", "Spell=Spell.dll"}));
  EXPECT_EQ(ReadFile(InstallList()), installed);
}

TEST_F(RegistrationTest, UninstallWithoutAnyListChangesNothing) {
  Uninstall();
  EXPECT_FALSE(FileExists(UserList()));
  EXPECT_FALSE(FileExists(InstallList()));
}

TEST_F(RegistrationTest, ConfigureAndAboutShowTheirBoxesAndReleaseDoesNothing) {
  TempDir scriptDir;
  WriteFile(scriptDir / "script", "answer OK\nanswer OK\n");
  const std::string transcript = scriptDir / "transcript";
  const std::string options = (scriptDir / "script") + ",transcript=" + transcript;
  RunHost([&](const AddinExports& e) {
    CHILD_CHECK(e.SkelderConfigureToolkit("scripted", options.c_str()) == 1);
    e.VcsConfigureAddin();
    e.VcsShowAbout();
    e.VcsReleaseAddin();
    return 0;
  });
  std::string text = ReadFile(transcript);
  EXPECT_NE(text.find("This procedure can be used to configure the addin"), std::string::npos) << text;
  EXPECT_NE(text.find("This procedure can be used to show an About Box containing information about the addin"),
            std::string::npos)
      << text;
}

}  // namespace
}  // namespace skelder::test
