// The host's installation directory and the per-user folder, through the registry stand-in.
#include "host/xr_direct_intf.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostsim_fixture.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace skelder::host;
using skelder::test::HostSimRepository;
using skelder::test::HostSimUser;
using skelder::test::TempDir;

namespace {

constexpr char kSep = static_cast<char>(fs::path::preferred_separator);
std::string Bin() { return skelder::test::BinDir() + kSep; }

// ---------------------------------------------------------------------------------------------
// Installation directory and per-user folder.

TEST(ClientInstallDir, FallsBackToTheAddinsFolderAndWritesItBackOnlyIntoAnExistingKey) {
  HostSimUser user;
  // No key at all: the own folder, and nothing written.
  EXPECT_EQ(ClientInstallDir(), Bin());
  EXPECT_FALSE(user.HasArdmoorKey()) << "looking does not make the key";

  // The key without a value: the own folder, remembered in the key.
  user.CreateArdmoorKey();
  EXPECT_EQ(ClientInstallDir(), Bin());
  EXPECT_EQ(user.InstallDir(), Bin());

  // A value that names a missing directory is replaced the same way.
  user.SetInstallDir("/nonexistent/ardmoor");
  EXPECT_EQ(ClientInstallDir(), Bin());
  EXPECT_EQ(user.InstallDir(), Bin());

  // An existing directory is used as stored, without a separator added.
  TempDir install;
  user.SetInstallDir(install.path());
  EXPECT_EQ(ClientInstallDir(), install.path());
  EXPECT_EQ(user.InstallDir(), install.path());
}

TEST(ClientUserDir, IsMadeUnderTheUsersConfigFolder) {
  HostSimUser user;
  const std::string expected = user.UserDir();
  EXPECT_FALSE(fs::exists(expected));
  EXPECT_EQ(ClientUserDir(), expected);
  EXPECT_TRUE(fs::is_directory(expected));
  EXPECT_EQ(ClientUserDir(), expected) << "an existing folder is used again";
}

#ifndef _WIN32  // a per-user folder past MAX_PATH is beyond the Windows calls the host makes
TEST(ClientUserDir, UsesTheWholeOfALongProfilePath) {
  TempDir base;
  std::string longPath = base.path();
  while (longPath.size() <= 600) longPath += "/" + std::string(100, 'p');
  skelder::test::ScopedEnv xdg("XDG_CONFIG_HOME", longPath);
  EXPECT_EQ(ClientUserDir(), longPath + "/Ardmoor/");
  EXPECT_TRUE(fs::is_directory(longPath + "/Ardmoor"));
}
#endif

TEST(ClientUserDir, FallsBackToTheInstallationDirectoryWithASeparator) {
  HostSimUser user;
  // A file where the folder would be: it cannot be made.
  std::string userDir = user.UserDir();
  userDir.pop_back();
  skelder::test::WriteFile(userDir, "not a folder");
  EXPECT_EQ(ClientUserDir(), Bin());
  TempDir install;
  user.SetInstallDir(install.path());
  EXPECT_EQ(ClientUserDir(), install.path() + kSep);
}

}  // namespace
