// The Win32 platform backend against the real system calls (wine here): temporary files named
// "TTS", copies that keep contents, attributes and time, the shell's tree delete, the packed local
// age, the universal form of a chosen folder, the current user's registry, environment strings,
// the module's own path and the loader, and locks that the system drops with their owner.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <vector>

#include "platform/ascii.h"
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

TEST_F(Win32Backend, TemporaryNamesAreTheSystemsAndUnique) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    const std::string temp = CreateUniqueTempFile(dir_.path(), "TTS");
    ASSERT_FALSE(temp.empty());
    EXPECT_TRUE(seen.insert(temp).second) << temp;
    EXPECT_EQ(temp.rfind(Path("TTS"), 0), 0u) << temp;
    EXPECT_EQ(temp.substr(temp.size() - 4), ".tmp");
    for (char c : temp.substr(Path("TTS").size(), temp.size() - Path("TTS").size() - 4))
      EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c))) << temp;
    EXPECT_EQ(GetFileSize(temp), 0u);
  }
  // A name in use is never handed out again.
  const std::string first = *seen.begin();
  test::WriteFile(first, "taken");
  for (int i = 0; i < 50; ++i) EXPECT_NE(CreateUniqueTempFile(dir_.path(), "TTS"), first);
  EXPECT_EQ(test::ReadFile(first), "taken");
  EXPECT_TRUE(CreateUniqueTempFile(Path("missing"), "TTS").empty());
  // The system's temporary folder follows TMP, with its separator.
  test::ScopedEnv tmp("TMP", dir_.path());
  EXPECT_EQ(TempDirectory(), dir_.path() + "\\");
}

TEST_F(Win32Backend, CopiesKeepContentsAttributesAndTime) {
  std::string data;
  for (int i = 0; i < 700000; ++i) data += static_cast<char>(i * 7 % 251);  // several chunks
  test::WriteFile(Path("a.htm"), data);
  // FILETIME counts 100 ns.
  const FileTime when{1700000000, 123456700};
  ASSERT_TRUE(SetLastWriteTime(Path("a.htm"), when));
  ASSERT_TRUE(WriteFileAttributes(Path("a.htm"), kAttrHidden | kAttrArchive));
  int code = 0;
  ASSERT_TRUE(CopyFileWithTimes(Path("a.htm"), Path("b.htm"), true, &code)) << code;
  EXPECT_EQ(test::ReadFile(Path("b.htm")), data);
  EXPECT_EQ(GetLastWriteTime(Path("b.htm"))->seconds, when.seconds);
  EXPECT_EQ(GetLastWriteTime(Path("b.htm"))->nanoseconds, when.nanoseconds);
  EXPECT_EQ(ReadFileAttributes(Path("b.htm")).value_or(0) & (kAttrHidden | kAttrArchive), kAttrHidden | kAttrArchive);
  // Nothing of the copy's partial file is left beside it.
  for (const auto& name : DirectoryEntries(dir_.path())) EXPECT_FALSE(IsPartialFileName(name)) << name;

  // An existing target is kept when it must not be replaced, and replaced otherwise.
  test::WriteFile(Path("c.htm"), "old");
  EXPECT_FALSE(CopyFileWithTimes(Path("a.htm"), Path("C.HTM"), true, &code));
  EXPECT_EQ(code, ERROR_FILE_EXISTS);
  EXPECT_EQ(test::ReadFile(Path("c.htm")), "old");
  ASSERT_TRUE(CopyFileWithTimes(Path("a.htm"), Path("C.HTM"), false, &code)) << code;
  EXPECT_EQ(test::ReadFile(Path("c.htm")), data);

  // A read-only target is refused until its attribute is cleared, as Windows refuses it; a
  // read-only source gives a read-only copy.
  ASSERT_TRUE(WriteFileAttributes(Path("b.htm"), kAttrReadOnly));
  EXPECT_FALSE(CopyFileWithTimes(Path("c.htm"), Path("b.htm"), false, &code));
  EXPECT_EQ(code, ERROR_ACCESS_DENIED);
  EXPECT_EQ(test::ReadFile(Path("b.htm")), data);
  ASSERT_TRUE(CopyFileWithTimes(Path("b.htm"), Path("d.htm"), false, &code)) << code;
  EXPECT_TRUE(ReadFileAttributes(Path("d.htm")).value_or(0) & kAttrReadOnly);
  ASSERT_TRUE(WriteFileAttributes(Path("b.htm"), kAttrNormal));
  ASSERT_TRUE(WriteFileAttributes(Path("d.htm"), kAttrNormal));

  // Failures carry the system's error numbers.
  test::MakeDirs(Path("sub"));
  const struct {
    std::string source, target;
    DWORD code;
  } failures[] = {
      {Path("missing.htm"), Path("e.htm"), ERROR_FILE_NOT_FOUND},
      {Path("a.htm"), Path("no\\such\\e.htm"), ERROR_PATH_NOT_FOUND},
      {Path("a.htm"), Path("sub"), ERROR_DIRECTORY},
  };
  for (const auto& f : failures) {
    code = 0;
    EXPECT_FALSE(CopyFileWithTimes(f.source, f.target, false, &code)) << f.target;
    EXPECT_EQ(static_cast<DWORD>(code), f.code) << f.target;
  }
}

// The packed local date and time, worked out here from the system's own local time.
int32_t Packed(FileTime time) {
  const int64_t ticks = time.seconds * 10000000 + 116444736000000000LL;
  FILETIME utc{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32)};
  SYSTEMTIME universal, local;
  if (!::FileTimeToSystemTime(&utc, &universal) || !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
    return -2;
  return static_cast<int32_t>((static_cast<uint32_t>(local.wYear - 1980) << 25) | (local.wMonth << 21) |
                              (local.wDay << 16) | (local.wHour << 11) | (local.wMinute << 5) | (local.wSecond / 2));
}

TEST_F(Win32Backend, TheAgeIsTheLocalTimePackedWithinItsBounds) {
  test::WriteFile(Path("f"), "x");
  // Odd seconds are halved; a time near each end of the packed form; from 2044 on it is negative.
  for (int64_t seconds : {1058197357LL, 1700000001LL, 347155200LL, 4323283199LL, 2345000000LL}) {
    ASSERT_TRUE(SetLastWriteTime(Path("f"), FileTime{seconds, 0})) << seconds;
    EXPECT_EQ(FileAge(Path("f")), Packed({seconds, 0})) << seconds;
    EXPECT_EQ(PackLocalTime({seconds, 0}), Packed({seconds, 0})) << seconds;
  }
  EXPECT_LT(FileAge(Path("f")), 0);
  // Before 1980 and after 2107 the packed form holds nothing.
  for (int64_t seconds : {0LL, 315532800LL - 86400 * 2, 4354819200LL + 86400 * 2}) {
    ASSERT_TRUE(SetLastWriteTime(Path("f"), FileTime{seconds, 0})) << seconds;
    EXPECT_EQ(FileAge(Path("f")), -1) << seconds;
  }
  EXPECT_EQ(FileAge(Path("missing")), -1);
  EXPECT_EQ(FileAge(dir_.path()), -1);
}

TEST_F(Win32Backend, TreesGoWholeAndFilesAndFoldersOneByOne) {
  // The shell's delete takes read-only files and folders too, silently.
  test::WriteFile(Path("tree\\sub\\c.css"), "c");
  test::WriteFile(Path("tree\\sub\\ro.txt"), "r");
  ASSERT_TRUE(WriteFileAttributes(Path("tree\\sub\\ro.txt"), kAttrReadOnly));
  ASSERT_TRUE(WriteFileAttributes(Path("tree\\sub"), kAttrReadOnly | kAttrDirectory));
  EXPECT_TRUE(DeleteTree(Path("tree\\")));
  EXPECT_FALSE(PathExists(Path("tree")));
  EXPECT_TRUE(DeleteTree(Path("tree")));  // already gone

  EXPECT_TRUE(MakeDirectory(Path("Sub")));
  EXPECT_FALSE(MakeDirectory(Path("sub")));  // the same name
  EXPECT_FALSE(MakeDirectory(Path("a\\b")));
  test::WriteFile(Path("Sub\\f.txt"), "f");
  EXPECT_FALSE(RemoveEmptyDirectory(Path("sub")));
  EXPECT_FALSE(RemoveFile(Path("sub")));
  test::WriteFile(Path("target.txt"), "old");
  EXPECT_TRUE(RenameFile(Path("sub\\F.TXT"), Path("Target.txt")));
  EXPECT_EQ(test::ReadFile(Path("target.txt")), "f");
  EXPECT_TRUE(RemoveEmptyDirectory(Path("SUB")));
  // A read-only file is kept from deletion until its attribute is cleared.
  ASSERT_TRUE(WriteFileAttributes(Path("target.txt"), kAttrReadOnly));
  EXPECT_FALSE(RemoveFile(Path("target.txt")));
  EXPECT_EQ(LastErrorCode(), static_cast<int>(ERROR_ACCESS_DENIED));
  ASSERT_TRUE(WriteFileAttributes(Path("target.txt"), kAttrNormal));
  EXPECT_TRUE(RemoveFile(Path("TARGET.txt")));
  EXPECT_FALSE(PathExists(Path("target.txt")));
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

  // The system's own name of the key has no leading "\".
  HKEY opened = nullptr;
  ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, key.substr(1).c_str(), 0, KEY_READ, &opened), ERROR_SUCCESS);
  ::RegCloseKey(opened);

  // The module's own path is this program's, and in a library the library's own; the system's
  // libraries load by name.
  EXPECT_NE(ModuleFileName().find("platform_win32_backend"), std::string::npos) << ModuleFileName();
  const std::string libraryPath = test::BinDir() + "\\libplatform_test_library.dll";
  {
    DynamicLibrary library(libraryPath);
    ASSERT_TRUE(library.Loaded()) << LastLoadError();
    auto modulePath = library.Function<void (*)(char*, int)>("TestLibraryModuleFileName");
    ASSERT_NE(modulePath, nullptr) << LastLoadError();
    char buffer[4096] = {};
    modulePath(buffer, sizeof buffer);
    EXPECT_EQ(AsciiLower(buffer), AsciiLower(FullPathName(libraryPath)));
  }
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
  // A call that cuts its answer to the buffer tells no size: the buffer doubles.
  const std::string cut(5000, 'c');
  int cutCalls = 0;
  std::vector<char> doubled(1024);
  const auto length = CallWithRoom(doubled, 2, 1 << 20, [&](char* buffer, DWORD size) -> DWORD {
    ++cutCalls;
    const size_t written = std::min<size_t>(cut.size(), size - 1);
    cut.copy(buffer, written);
    buffer[written] = '\0';
    return static_cast<DWORD>(written);
  });
  ASSERT_TRUE(length.has_value());
  EXPECT_EQ(std::string(doubled.data(), *length), cut);
  EXPECT_EQ(cutCalls, 4);  // 1024, 2048, 4096, 8192
  // An answer beyond the limit is not taken at all.
  std::vector<char> buffer(512);
  EXPECT_FALSE(CallWithRoom(buffer, 1, 4096, [](char*, DWORD) -> DWORD { return 5000; }).has_value());
}

}  // namespace
}  // namespace skelder::platform
