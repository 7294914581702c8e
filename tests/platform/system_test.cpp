// Registry stand-in, environment expansion and the dynamic loader.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/dynlib.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "test_support.h"

namespace skelder::platform {
namespace {

using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;

constexpr const char* kKey = "\\Software\\Vorn\\Ardmoor";

TEST(Registry, KeyExistsWhenItsSectionDoesEvenEmpty) {
  TempDir home;
  ScopedEnv xdg("XDG_CONFIG_HOME", home.path());
  EXPECT_EQ(registry::BackingFile(), home.path() + "/Vorn/registry.ini");
  EXPECT_FALSE(registry::KeyExists(kKey));
  // No key: nothing is written, not even the file.
  EXPECT_FALSE(registry::WriteString(kKey, "InstallDir", "/opt/ardmoor"));
  EXPECT_FALSE(test::FileExists(registry::BackingFile()));
  EXPECT_FALSE(registry::ReadString(kKey, "InstallDir").has_value());

  ASSERT_TRUE(registry::CreateKey(kKey));  // makes the folders and the file
  EXPECT_TRUE(registry::KeyExists(kKey));
  EXPECT_TRUE(registry::KeyExists("\\software\\VORN\\ardmoor"));
  EXPECT_FALSE(registry::KeyExists("\\Software\\Vorn"));
  EXPECT_FALSE(registry::ReadString(kKey, "InstallDir").has_value());
  EXPECT_EQ(ReadFile(registry::BackingFile()), "[Software\\Vorn\\Ardmoor]\r\n");

  ASSERT_TRUE(registry::WriteString(kKey, "InstallDir", "/opt/ardmoor"));
  EXPECT_EQ(registry::ReadString(kKey, "installdir"), "/opt/ardmoor");
  ASSERT_TRUE(registry::WriteString(kKey, "Empty", ""));
  EXPECT_EQ(registry::ReadString(kKey, "Empty"), "");
  EXPECT_FALSE(registry::ReadString(kKey, "Missing").has_value());
  EXPECT_FALSE(registry::KeyExists(""));
}

TEST(Registry, FollowsHomeWithoutXdg) {
  TempDir home;
  ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
  ScopedEnv h("HOME", home.path());
  EXPECT_EQ(registry::BackingFile(), home.path() + "/.config/Vorn/registry.ini");
  EXPECT_EQ(UserApplicationDataDir(), home.path() + "/.config/");
  ScopedEnv relative("XDG_CONFIG_HOME", "relative/dir");
  EXPECT_EQ(UserApplicationDataDir(), home.path() + "/.config/");
  ScopedEnv absolute("XDG_CONFIG_HOME", "/x/y/");
  EXPECT_EQ(UserApplicationDataDir(), "/x/y/");
}

TEST(Environment, ExpandsLikeWindows) {
  ScopedEnv a("SKELDER_A", "alpha");
  ScopedEnv empty("SKELDER_EMPTY", "");
  ScopedEnv undefined("SKELDER_UNDEFINED", std::nullopt);
  EXPECT_EQ(ExpandEnvironmentText("no percent at all"), "no percent at all");
  EXPECT_EQ(ExpandEnvironmentText("%SKELDER_A%"), "alpha");
  EXPECT_EQ(ExpandEnvironmentText("x%skelder_a%y%SKELDER_A%"), "xalphayalpha");
  EXPECT_EQ(ExpandEnvironmentText("[%SKELDER_EMPTY%]"), "[]");
  // Undefined names, "%%" and an unfinished name stay as written.
  EXPECT_EQ(ExpandEnvironmentText("%SKELDER_UNDEFINED%\\x"), "%SKELDER_UNDEFINED%\\x");
  EXPECT_EQ(ExpandEnvironmentText("100%% sure"), "100%% sure");
  EXPECT_EQ(ExpandEnvironmentText("50% of %SKELDER_A"), "50% of %SKELDER_A");
  EXPECT_EQ(ExpandEnvironmentText("%SKELDER_UNDEFINED%SKELDER_A%"), "%SKELDER_UNDEFINED%SKELDER_A%");
}

TEST(Environment, UserProfileFallsBackToHomeAndLongValuesSurvive) {
  ScopedEnv profile("UserProfile", std::nullopt);
  ScopedEnv upper("USERPROFILE", std::nullopt);
  ScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(ExpandEnvironmentText("%UserProfile%\\"), "/home/someone\\");
  {
    ScopedEnv set("UserProfile", "/elsewhere");
    EXPECT_EQ(ExpandEnvironmentText("%UserProfile%"), "/elsewhere");
  }
  std::string longHome = "/" + std::string(5000, 'h');
  ScopedEnv big("HOME", longHome);
  EXPECT_EQ(ExpandEnvironmentText("%UserProfile%/x"), longHome + "/x");
}

TEST(DynamicLibrary, LoadsByAnyLetterCaseAndFindsFunctions) {
  TempDir dir;
  std::string built = test::BinDir() + "/libplatform_test_library.so";
  ASSERT_TRUE(std::filesystem::exists(built)) << built;
  std::filesystem::copy_file(built, dir / "KVOMain.Dll");

  DynamicLibrary lib(dir / "KVOMain.dll");
  ASSERT_TRUE(lib.Loaded()) << LastLoadError();
  auto answer = lib.Function<int (*)(int)>("TestLibraryAnswer");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(20), 41);
  EXPECT_EQ(lib.Symbol("NoSuchFunction"), nullptr);
  EXPECT_NE(LastLoadError().find("NoSuchFunction"), std::string::npos);

  // Linked into a library, the module's path is the library's, as the add-in needs for its log.
  auto modulePath = lib.Function<void (*)(char*, int)>("TestLibraryModuleFileName");
  ASSERT_NE(modulePath, nullptr);
  char buffer[4096] = {};
  modulePath(buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer), std::filesystem::canonical(dir / "KVOMain.Dll").string());
  EXPECT_NE(ModuleFileName(), std::string(buffer));

  DynamicLibrary moved(std::move(lib));
  EXPECT_FALSE(lib.Loaded());
  EXPECT_TRUE(moved.Loaded());

  DynamicLibrary missing(dir / "KVOCCore.Dll");
  EXPECT_FALSE(missing.Loaded());
  EXPECT_FALSE(LastLoadError().empty());
  // Something that is not a library fails to load rather than crash.
  test::WriteFile(dir / "bogus.dll", "not a library");
  EXPECT_EQ(OpenLibrary(dir / "bogus.dll"), nullptr);
  EXPECT_EQ(LibrarySymbol(nullptr, "x"), nullptr);
  CloseLibrary(nullptr);
}

}  // namespace
}  // namespace skelder::platform
