// The Win32 platform backend against the real system calls (wine here): temporary files named
// "TTS", copies that keep contents and time, the shell's tree delete, the packed local age, the
// current user's registry, environment strings, and locks that the system drops with their owner.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/dynlib.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/win32/win32_text.h"
#include "test_support.h"

namespace skelder::platform {
namespace {

class Win32Backend : public ::testing::Test {
 protected:
  test::TempDir dir_;
  std::string Path(const std::string& name) const { return dir_.path() + "\\" + name; }
};

TEST_F(Win32Backend, TemporaryFilesCopiesAndTreesUseTheSystemsCalls) {
  const std::string temp = CreateUniqueTempFile(dir_.path(), "TTS");
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.rfind(Path("TTS"), 0), 0u) << temp;
  EXPECT_EQ(temp.substr(temp.size() - 4), ".tmp");
  EXPECT_EQ(GetFileSize(temp), 0u);

  test::WriteFile(Path("a.htm"), "alpha");
  const FileTime when{1700000000, 0};
  ASSERT_TRUE(SetLastWriteTime(Path("a.htm"), when));
  int code = 0;
  ASSERT_TRUE(CopyFileWithTimes(Path("a.htm"), Path("b.htm"), false, &code)) << code;
  EXPECT_EQ(test::ReadFile(Path("b.htm")), "alpha");
  EXPECT_EQ(GetLastWriteTime(Path("b.htm"))->seconds, when.seconds);
  EXPECT_EQ(FileAge(Path("b.htm")), PackLocalTime(when));
  EXPECT_NE(FileAge(Path("b.htm")), -1);
  // Nothing of the copy's partial file is left beside it.
  for (const auto& name : DirectoryEntries(dir_.path())) EXPECT_FALSE(IsPartialFileName(name)) << name;

  // A read-only target is refused until its attribute is cleared, as Windows refuses it.
  ASSERT_TRUE(WriteFileAttributes(Path("b.htm"), kAttrReadOnly));
  EXPECT_FALSE(CopyFileWithTimes(Path("a.htm"), Path("b.htm"), false, &code));
  EXPECT_EQ(code, ERROR_ACCESS_DENIED);
  ASSERT_TRUE(WriteFileAttributes(Path("b.htm"), kAttrNormal));

  test::WriteFile(Path("tree\\sub\\c.css"), "c");
  EXPECT_TRUE(DeleteTree(Path("tree")));
  EXPECT_FALSE(PathExists(Path("tree")));
  EXPECT_EQ(FileAge(Path("missing")), -1);
  EXPECT_EQ(FileAge(dir_.path()), -1);
}

TEST_F(Win32Backend, AChosenFolderIsKeptInItsFullForm) {
  // None of these is on a mapped drive: each stays its full local (or network) path.
  EXPECT_EQ(UniversalPathName(Path("a\\.\\b\\..\\c\\")), Path("a\\c\\"));
  EXPECT_EQ(UniversalPathName(Path("a\\\\c")), Path("a\\c"));
  EXPECT_EQ(UniversalPathName("C:\\\\"), "C:\\");
  EXPECT_EQ(UniversalPathName("\\\\server\\share\\x"), "\\\\server\\share\\x");
  EXPECT_EQ(UniversalPathName(""), "");
  char previous[MAX_PATH];
  ASSERT_NE(::GetCurrentDirectoryA(MAX_PATH, previous), 0u);
  ASSERT_TRUE(::SetCurrentDirectoryA(dir_.path().c_str()));
  const std::string relative = UniversalPathName("rel\\x");
  ::SetCurrentDirectoryA(previous);
  EXPECT_EQ(relative, Path("rel\\x"));
}

TEST_F(Win32Backend, RecordsAreReadBoundedAndReplacedWhole) {
  std::string contents;
  EXPECT_EQ(ReadRegularFile(Path("none"), 100, contents), ReadResult::Missing);
  EXPECT_EQ(ReadRegularFile(dir_.path(), 100, contents), ReadResult::NotRegular);
  test::WriteFile(Path("XRDeploy.dat"), std::string(200, 'x'));
  EXPECT_EQ(ReadRegularFile(Path("XRDeploy.dat"), 100, contents), ReadResult::TooLarge);
  int code = 0;
  ASSERT_TRUE(ReplaceFileContents(Path("XRDeploy.dat"), "1=2\r\n", &code)) << code;
  EXPECT_EQ(ReadRegularFile(Path("XRDeploy.dat"), 100, contents), ReadResult::Ok);
  EXPECT_EQ(contents, "1=2\r\n");
}

TEST_F(Win32Backend, ALockIsOneHoldersAtATime) {
  DirectoryLock first, second;
  EXPECT_EQ(first.TryLock(dir_.path()), DirectoryLock::Result::Locked);
  EXPECT_EQ(second.TryLock(dir_.path()), DirectoryLock::Result::Busy);
  // A locked check-out folder is never taken for a dead run's.
  DirectoryLock made;
  ASSERT_TRUE(CreateLockedDirectory(Path("TTS1.Deploy"), made));
  EXPECT_FALSE(DeleteTreeIfAbandoned(Path("TTS1.Deploy")));
  made.Release();
  EXPECT_TRUE(DeleteTreeIfAbandoned(Path("TTS1.Deploy")));
  first.Release();
  EXPECT_EQ(second.TryLock(dir_.path()), DirectoryLock::Result::Locked);
}

TEST(Win32System, RegistryEnvironmentAndLibraries) {
  // A key of this run's own: the prefix, and so the registry, outlives a run.
  const std::string key = "\\Software\\Vorn\\SkelderTest" + std::to_string(::GetCurrentProcessId()) + "-" +
                          std::to_string(::GetTickCount());
  ASSERT_TRUE(registry::CreateKey(key));
  EXPECT_TRUE(registry::KeyExists(key));
  EXPECT_FALSE(registry::ReadString(key, "InstallDir").has_value());
  ASSERT_TRUE(registry::WriteString(key, "InstallDir", "C:\\Program Files\\Ardmoor"));
  EXPECT_EQ(registry::ReadString(key, "InstallDir"), "C:\\Program Files\\Ardmoor");
  EXPECT_FALSE(registry::WriteString("\\Software\\Vorn\\NoSuchKey", "InstallDir", "x"));

  // Expansions around the first buffer's 512 bytes and far beyond come whole.
  for (size_t length : {509u, 510u, 511u, 512u, 513u, 5000u}) {
    const std::string value(length - 2, 'v');
    ASSERT_TRUE(SetEnvironmentValue("SKELDER_TEST_VALUE", value));
    EXPECT_EQ(ExpandEnvironmentText("[%SKELDER_TEST_VALUE%]"), "[" + value + "]") << length;
  }
  EXPECT_EQ(ExpandEnvironmentText("%NO_SUCH_VARIABLE%"), "%NO_SUCH_VARIABLE%");
  EXPECT_EQ(ExpandEnvironmentText("no variable"), "no variable");
  ASSERT_TRUE(SetEnvironmentValue("SKELDER_TEST_VALUE", std::nullopt));
  EXPECT_FALSE(EnvironmentVariable("SKELDER_TEST_VALUE").has_value());
  EXPECT_EQ(UserApplicationDataDir().substr(UserApplicationDataDir().size() - 18), "\\Application Data\\");

  // The module's own path is this program's; the system's libraries load by name.
  EXPECT_NE(ModuleFileName().find("platform_win32_backend"), std::string::npos) << ModuleFileName();
  DynamicLibrary kernel("KERNEL32.DLL");
  ASSERT_TRUE(kernel.Loaded());
  EXPECT_NE(kernel.Symbol("GetTickCount"), nullptr);
  EXPECT_EQ(kernel.Symbol("NoSuchFunction"), nullptr);
}

// The buffer rule of the "A" calls, against a call that behaves as the 8-bit expansion may: it
// reports the size it needs, terminating zero included, and needs a byte more than that to write
// the answer whole; short of that it writes the answer cut.
TEST(Win32System, AnAnswerIsTakenOnlyWhenItFitsWhole) {
  for (size_t length : {510u, 511u, 512u, 600u}) {
    const std::string answer(length, 'x');
    int calls = 0;
    auto expand = [&](char* buffer, DWORD size) -> DWORD {
      ++calls;
      const size_t written = size >= answer.size() + 2 ? answer.size() : std::min<size_t>(answer.size(), size - 2);
      answer.copy(buffer, written);
      buffer[written] = '\0';
      return static_cast<DWORD>(answer.size() + 1);
    };
    std::vector<char> buffer(512);
    const auto reported = CallWithRoom(buffer, 1, 4096, expand);
    ASSERT_TRUE(reported.has_value()) << length;
    EXPECT_EQ(std::string(buffer.data()), answer) << length;
    EXPECT_LE(calls, 2) << length;
  }
  // An answer beyond the limit is not taken at all.
  std::vector<char> buffer(512);
  EXPECT_FALSE(CallWithRoom(buffer, 1, 4096, [](char*, DWORD) -> DWORD { return 5000; }).has_value());
}

}  // namespace
}  // namespace skelder::platform
