// Loading the host libraries: missing, unloadable and partial libraries. Every test runs its
// binding in a process of its own, since the binding keeps what it loaded for the life of a
// process; no test of this program loads anything in the test process itself.
#include "host/xr_direct_intf.h"

#include <cstdio>
#include <cstdlib>
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

// The binding keeps its libraries for the life of the process, so every test runs whole (its
// temporary folders, user and repository included) in a process of its own: a forked child on
// POSIX, a fresh run of this program limited to the test on Windows. The body makes its own
// state, so both give it the same start, and it cleans up before the process ends.
template <typename F>
void InFreshProcess(F body) {
  EXPECT_EXIT(
      {
        try {
          body();
        } catch (const std::exception& e) {
          ADD_FAILURE() << "unexpected error: " << e.what();
        }
        // The failures again on stderr, which the test program shows from its process's end.
        const auto* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
        for (int i = 0; i < result->total_part_count(); ++i) {
          const auto& part = result->GetTestPartResult(i);
          std::fprintf(stderr, "%s:%d: %s\n", part.file_name() ? part.file_name() : "?", part.line_number(),
                       part.message());
        }
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
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
  InFreshProcess([] {
    HostSimUser user;
    HostSimRepository repo;
    TempDir install;
    user.SetInstallDir(install.path());
    const std::string message = "Could not locate XR Client: " + (install / "KVOCCore.Dll");
    EXPECT_EQ(MessageOf<EKvoCannotLocateClient>([] { VcsInvalidateCache(); }), message);
    EXPECT_EQ(MessageOf<EKvoCannotLocateClient>([] { LoadCoreLibrary(); }), message);
    EXPECT_EQ(MessageOf<EKvoCannotLocateClient>([] { LoadMainLibrary(); }),
              "Could not locate XR Client: " + (install / "KVOMain.Dll"));
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
  InFreshProcess([] {
    HostSimUser user;
    TempDir install;
    user.SetInstallDir(install.path());
    skelder::test::WriteFile(install / "KVOCCore.Dll", "this is no library");
    skelder::test::WriteFile(install / "KVOMain.Dll", "nor is this");
    for (int attempt = 0; attempt < 2; ++attempt) {
      std::string core = MessageOf<skelder::Exception>([] { VcsInvalidateCache(); });
      EXPECT_EQ(core, "Error Loading XR Interface");
      std::string main = MessageOf<skelder::Exception>([] { LoadMainLibrary(); });
      EXPECT_EQ(main, "Error Loading XR Interface: " + (install / "KVOMain.Dll"));
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
  InFreshProcess([] {
    HostSimUser user;
    HostSimRepository repo;
    user.SetInstallDir(skelder::test::HostSimPartialDir());
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
  InFreshProcess([] {
    HostSimUser user;
    HostSimRepository repo;
    TempDir install;
    user.SetInstallDir(install.path());
    fs::copy_file(Bin() + "KVOCCore.Dll", install / "kvoccore.dll");
    EXPECT_EQ(VcsInvalidateCache(), 0);
  });
}

}  // namespace
