// Loading the host libraries: missing, unloadable and partial libraries. Every test runs its
// binding in a child process, since the binding keeps what it loaded for the life of a process;
// no test of this program loads anything in the parent.
#include "host/xr_direct_intf.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::string Bin() { return skelder::test::BinDir() + "/"; }

// The binding keeps its libraries for the life of the process, so a test that needs a binding
// that has not loaded anything yet runs in a child process of its own.
template <typename F>
void InFreshProcess(F body) {
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    try {
      body();
    } catch (const std::exception& e) {
      ADD_FAILURE() << "unexpected error: " << e.what();
    }
    std::fflush(stdout);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child process's failures are printed above";
}

// Runs `call` and returns the message of the error it raises of type E; fails when it raises
// nothing or another type.
template <typename E, typename F>
std::string MessageOf(F call) {
  try {
    call();
  } catch (const E& e) {
    return e.what();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "other error type: " << e.what();
    return {};
  }
  ADD_FAILURE() << "no error raised";
  return {};
}

void CopyLibraries(const std::string& from, const std::string& to) {
  for (const char* name : {"KVOCCore.Dll", "KVOMain.Dll"})
    fs::copy_file(from + name, fs::path(to) / name, fs::copy_options::overwrite_existing);
}

// ---------------------------------------------------------------------------------------------
// Loading the libraries.

TEST(HostLibraryLoading, MissingCoreLibraryNamesThePathAndIsTriedAgain) {
  HostSimUser user;
  HostSimRepository repo;
  TempDir install;
  user.SetInstallDir(install.path());
  InFreshProcess([&] {
    const std::string message = "Could not locate XR Client: " + install.path() + "/KVOCCore.Dll";
    EXPECT_EQ(MessageOf<EKvoCannotLocateClient>([] { VcsInvalidateCache(); }), message);
    EXPECT_EQ(MessageOf<EKvoCannotLocateClient>([] { LoadCoreLibrary(); }), message);
    EXPECT_EQ(MessageOf<EKvoCannotLocateClient>([] { LoadMainLibrary(); }),
              "Could not locate XR Client: " + install.path() + "/KVOMain.Dll");
    // Once the files are there the next call loads them.
    CopyLibraries(Bin(), install.path());
    EXPECT_EQ(VcsInvalidateCache(), 0);
    std::string a, b, c, d;
    int32_t i1, i2, i3;
    EXPECT_EQ(MainVcsGetFolderInfo(repo.FolderId(""), a, b, c, d, i1, i2, i3), 0);
    EXPECT_EQ(a, "site");
  });
}

TEST(HostLibraryLoading, UnloadableLibrariesGiveTheirOwnMessages) {
  HostSimUser user;
  TempDir install;
  user.SetInstallDir(install.path());
  skelder::test::WriteFile(install / "KVOCCore.Dll", "this is no library");
  skelder::test::WriteFile(install / "KVOMain.Dll", "nor is this");
  InFreshProcess([&] {
    for (int attempt = 0; attempt < 2; ++attempt) {
      std::string core = MessageOf<skelder::Exception>([] { VcsInvalidateCache(); });
      EXPECT_EQ(core, "Error Loading XR Interface");
      std::string main = MessageOf<skelder::Exception>([] { LoadMainLibrary(); });
      EXPECT_EQ(main, "Error Loading XR Interface: " + install.path() + "/KVOMain.Dll");
    }
    try {
      LoadCoreLibrary();
    } catch (const EKvoCannotLocateClient&) {
      ADD_FAILURE() << "a present file is not a missing one";
    } catch (const skelder::Exception&) {
    }
  });
}

TEST(HostLibraryLoading, MissingFunctionFailsOnEveryCallAndTheRestWorks) {
  HostSimUser user;
  HostSimRepository repo;
  user.SetInstallDir(skelder::test::HostSimPartialDir());
  InFreshProcess([&] {
    for (int attempt = 0; attempt < 3; ++attempt)
      EXPECT_EQ(MessageOf<EKvoFunctionNotExported>([] { VcsInvalidateCache(); }),
                "Function not exported: VcsInvalidateCache");
    std::string name, display, path, notes;
    int32_t i1 = 0, i2 = 0, i3 = 0;
    EXPECT_EQ(VcsGetFolderInfo(repo.FolderId(""), name, display, path, notes, i1, i2, i3), 0);
    EXPECT_EQ(path, "$");
  });
}

TEST(HostLibraryLoading, FindsLibrariesWhoseNamesDifferInLetterCase) {
  HostSimUser user;
  HostSimRepository repo;
  TempDir install;
  user.SetInstallDir(install.path());
  fs::copy_file(Bin() + "KVOCCore.Dll", install / "kvoccore.dll");
  InFreshProcess([] { EXPECT_EQ(VcsInvalidateCache(), 0); });
}

}  // namespace
