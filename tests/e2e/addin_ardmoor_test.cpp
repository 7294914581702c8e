// ardmoor as the add-in's host, run as a user runs it: the menu it builds from the add-in, the
// property page played from a script, deploying through the menu action (refused for folders
// that are no web folder or may not be deployed), installing and uninstalling.
#include <gtest/gtest.h>

#include <cstdlib>

#include <string>

#include "hostsim_fixture.h"
#include "test_support.h"

namespace skelder::test {
namespace {

class ArdmoorHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FileExists(BinDir() + "/ardmoor")) << "build ardmoor first";
    repo_.File("index.htm", "<html/>").File("img/logo.gif", "GIF89a");
    repo_.Sync();
    MakeDirs(work_ / "www");
  }
  int Ardmoor(const std::string& args) {
    output_.clear();
    // Under AddressSanitizer, LeakSanitizer's walk of thread-local storage at ardmoor's exit
    // crashes after the menu module has unloaded the stand-in host library (the unload is what a
    // host expects); its leak check of everything else stays on.
    const char* lsan = std::getenv("LSAN_OPTIONS");
    ScopedEnv noTlsWalk("LSAN_OPTIONS", std::string(lsan ? lsan : "") + (lsan && *lsan ? ":" : "") + "use_tls=0");
    return RunCommand("'" + BinDir() + "/ardmoor' --repository '" + repo_.Root() + "' " + args + " --install-dir '" +
                          BinDir() + "' 2>&1 </dev/null",
                      &output_);
  }
  int Exit(int status) { return status; }
  std::string Script(const std::string& text) {
    WriteFile(work_ / "script", text);
    return work_ / "script";
  }
  std::string Notes() { return ReadFile(work_ / "notes.out"); }

  HostSimUser user_;
  HostSimRepository repo_;
  TempDir work_;
  std::string output_;
};

TEST_F(ArdmoorHostTest, MenuPropertiesAndDeployThroughTheAction) {
  ASSERT_EQ(Exit(Ardmoor("menu")), 0) << output_;
  EXPECT_NE(output_.find("Web Folders: Adds support for Web Folders"), std::string::npos) << output_;
  EXPECT_NE(output_.find("\nWeb\n  Deploy Folder...\t[action 10001] disabled\ticon"), std::string::npos) << output_;

  // Not a web folder yet: the action stays disabled and nothing is deployed.
  EXPECT_EQ(Exit(Ardmoor("deploy '$' --yes --ui plain --ui-options virtual-clock")), 3) << output_;
  EXPECT_NE(output_.find("is not a web folder"), std::string::npos) << output_;

  const std::string www = work_ / "www";
  ASSERT_EQ(Exit(Ardmoor("properties '$' --script '" +
                         Script("click btnAddPath\nbrowse select " + www + "\nbrowse ok\npress Enter\n") + "'")),
            0)
      << output_;
  EXPECT_NE(output_.find("Folder properties: Web Projects"), std::string::npos) << output_;
  ASSERT_EQ(Exit(Ardmoor("notes '$' > '" + (work_ / "notes.out") + "'")), 0);
  EXPECT_EQ(Notes(), "[Web Folder]\r\nDeployTo=" + www + "/\r\nEnabled=1\r\n\r\n");

  ASSERT_EQ(Exit(Ardmoor("menu '$'")), 0) << output_;
  EXPECT_NE(output_.find("Deploy Folder...\t[action 10001] enabled"), std::string::npos) << output_;

  ASSERT_EQ(Exit(Ardmoor("deploy '$' --yes --ui plain --ui-options virtual-clock")), 0) << output_;
  EXPECT_EQ(ReadFile(www + "/index.htm"), "<html/>");
  EXPECT_EQ(ReadFile(www + "/img/logo.gif"), "GIF89a");

  ASSERT_EQ(Exit(Ardmoor("permit '$' off")), 0);
  EXPECT_EQ(Exit(Ardmoor("deploy '$' --yes --ui plain --ui-options virtual-clock")), 3) << output_;
  EXPECT_NE(output_.find("may not be deployed"), std::string::npos) << output_;
}

TEST_F(ArdmoorHostTest, ACancelledPageLeavesTheNotesAlone) {
  repo_.Notes("", "[General]\r\nA=1\r\n");
  EXPECT_EQ(Exit(Ardmoor("properties '$' --script '" + Script("append memoDeploymentPaths /srv/x\npress Esc\n") + "'")),
            2)
      << output_;
  ASSERT_EQ(Exit(Ardmoor("notes '$' > '" + (work_ / "notes.out") + "'")), 0);
  EXPECT_EQ(Notes(), "[General]\r\nA=1\r\n");
}

// A number of connections the page refuses keeps the dialog open, as a host's dialog stays open:
// put right, it saves; left wrong at the end of the script, nothing is saved.
TEST_F(ArdmoorHostTest, ARefusedPageStaysOpenUntilPutRight) {
  repo_.Notes("", "[General]\r\nA=1\r\n");
  const std::string refused = "check chkFtpPassive\nset edtFtpConnections 40\npress Enter\n";
  EXPECT_EQ(Exit(Ardmoor("properties '$' --script '" + Script(refused) + "'")), 2) << output_;
  ASSERT_EQ(Exit(Ardmoor("notes '$' > '" + (work_ / "notes.out") + "'")), 0);
  EXPECT_EQ(Notes(), "[General]\r\nA=1\r\n");
  EXPECT_EQ(
      Exit(Ardmoor("properties '$' --script '" + Script(refused + "set edtFtpConnections 4\npress Enter\n") + "'")), 0)
      << output_;
  ASSERT_EQ(Exit(Ardmoor("notes '$' > '" + (work_ / "notes.out") + "'")), 0);
  EXPECT_EQ(
      Notes(),
      "[General]\r\nA=1\r\n\r\n[Web Folder]\r\nDeployTo=\r\nEnabled=0\r\nFtpPassive=1\r\nFtpConnections=4\r\n\r\n");
}

TEST_F(ArdmoorHostTest, InstallAndUninstallMaintainTheAddinList) {
  const std::string list = user_.ConfigHome() + "/Ardmoor/KVOAddins.dat";
  ASSERT_EQ(Exit(Ardmoor("install")), 0) << output_;
  EXPECT_EQ(SplitLines(ReadFile(list)), (std::vector<std::string>{"[Addins]", "Skelder Command Handler=Skelder.dll"}));
  ASSERT_EQ(Exit(Ardmoor("uninstall")), 0) << output_;
  EXPECT_EQ(SplitLines(ReadFile(list)), (std::vector<std::string>{"[Addins]"}));
}

}  // namespace
}  // namespace skelder::test
