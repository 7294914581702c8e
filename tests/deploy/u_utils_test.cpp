#include "deploy/deploy_log.h"
#include "deploy/u_utils.h"

#include <cstdio>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/scripted_toolkit.h"
#include "platform/text.h"
#include "test_support.h"

namespace skelder::deploy {
namespace {

using test::NativePath;

TEST(PathHelpersTest, AddBackslashUsesThePlatformSeparator) {
  EXPECT_EQ(AddBackslash(""), NativePath("/"));
  EXPECT_EQ(AddBackslash("img"), NativePath("img/"));
  EXPECT_EQ(AddBackslash(NativePath("/a/")), NativePath("/a/"));
}

TEST(PathHelpersTest, TheLogIsTheModuleWithItsExtensionChanged) {
  // The rules themselves: tests/platform/file_names_test.cpp.
  EXPECT_EQ(LogFileName(), platform::ChangeFileExt(platform::ModuleFileName(), ".log"));
}

TEST(ParseInt32Test, StrictDecimal) {
  EXPECT_EQ(platform::ParseInt32("12"), 12);
  EXPECT_EQ(platform::ParseInt32("-12"), -12);
  EXPECT_EQ(platform::ParseInt32("+0"), 0);
  EXPECT_EQ(platform::ParseInt32("2147483647"), 2147483647);
  EXPECT_EQ(platform::ParseInt32("-2147483648"), -2147483648);
  for (const char* bad :
       {"", "-", "+", "12a", " 12", "12 ", "2147483648", "-2147483649", "0x10", "$10", "99999999999999999999999"})
    EXPECT_FALSE(platform::ParseInt32(bad).has_value()) << bad;
}

TEST(SplitLinesTest, EveryLineEndKind) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(platform::SplitLines(""), Lines{});
  EXPECT_EQ(platform::SplitLines("\r\n"), Lines{""});
  EXPECT_EQ(platform::SplitLines("a\r\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(platform::SplitLines("a\n\rb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(platform::SplitLines("a\r\r\nb\n"), (Lines{"a", "", "b"}));
}

class DirectoryHelpersTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(DirectoryHelpersTest, ForceDirectoriesMakesMissingParents) {
  const std::string deep = dir_ / "a/b/c";
  EXPECT_TRUE(platform::ForceDirectories(deep + NativePath("/")));
  EXPECT_TRUE(platform::DirectoryExists(deep));
  EXPECT_TRUE(platform::ForceDirectories(deep));  // existing: done
  EXPECT_TRUE(platform::ForceDirectories(""));
  EXPECT_TRUE(platform::ForceDirectories(NativePath("/")));
}

TEST_F(DirectoryHelpersTest, ForceDirectoriesFailsWhenALevelIsAFile) {
  test::WriteFile(dir_ / "file", "x");
  EXPECT_FALSE(platform::ForceDirectories(dir_ / "file/sub/deeper"));
  EXPECT_FALSE(platform::DirectoryExists(dir_ / "file/sub"));
  EXPECT_FALSE(platform::ForceDirectories(dir_ / "file"));
}

TEST_F(DirectoryHelpersTest, AppendToLogCreatesAndAppendsWithCrLf) {
  const std::string log = dir_ / "Skelder.log";
  AppendToLog(log, "Getting files from Ardmoor...");
  AppendToLog(log, "");
  AppendToLog(log, "   /index.htm");
  EXPECT_EQ(test::ReadFile(log), "Getting files from Ardmoor...\r\n\r\n   /index.htm\r\n");
}

TEST_F(DirectoryHelpersTest, AppendToLogNeverFailsItsCaller) {
  // A directory in the way, and a folder that does not exist: the line is dropped quietly.
  test::MakeDirs(dir_ / "Skelder.log");
  EXPECT_NO_THROW(AppendToLog(dir_ / "Skelder.log", "x"));
  EXPECT_NO_THROW(AppendToLog(dir_ / "no/such/dir/Skelder.log", "x"));
  EXPECT_FALSE(test::FileExists(dir_ / "no/such/dir/Skelder.log"));
}

TEST_F(DirectoryHelpersTest, LogWriterHandsEveryLineOverAtOnce) {
  const std::string log = dir_ / "Skelder.log", other = dir_ / "Other.log";
  TLogWriter writer;
  writer.Append(log, "Getting files from Ardmoor...");
  // Readable while the writer keeps the file open: nothing waits in a buffer.
  EXPECT_EQ(test::ReadFile(log), "Getting files from Ardmoor...\r\n");
  writer.Append(log, "   /index.htm");
  EXPECT_EQ(test::ReadFile(log), "Getting files from Ardmoor...\r\n   /index.htm\r\n");
  // Another path moves the writer over; both files keep what they got.
  writer.Append(other, "x");
  EXPECT_EQ(test::ReadFile(other), "x\r\n");
  // Closed, the file can go, and the next line starts it afresh.
  writer.Close();
  ASSERT_EQ(std::remove(other.c_str()), 0);
  writer.Append(other, "y");
  EXPECT_EQ(test::ReadFile(other), "y\r\n");
  // A line longer than any buffer arrives whole.
  const std::string longLine(100000, 'L');
  writer.Append(log, longLine);
  writer.Close();
  EXPECT_EQ(test::ReadFile(log), "Getting files from Ardmoor...\r\n   /index.htm\r\n" + longLine + "\r\n");
  // A path that cannot be written drops the line and leaves the writer usable.
  test::MakeDirs(dir_ / "blocked.log");
  EXPECT_NO_THROW(writer.Append(dir_ / "blocked.log", "lost"));
  writer.Append(log, "after");
  EXPECT_EQ(test::ReadFile(log).substr(test::ReadFile(log).size() - 7), "after\r\n");
}

TEST_F(DirectoryHelpersTest, FileAgeOfMissingFileAndDirectory) {
  EXPECT_EQ(platform::FileAge(dir_ / "missing"), -1);
  EXPECT_EQ(platform::FileAge(dir_.path()), -1);
  test::WriteFile(dir_ / "f", "x");
  EXPECT_NE(platform::FileAge(dir_ / "f"), -1);
}

TEST_F(DirectoryHelpersTest, ClearReadOnlyKeepsOtherAttributes) {
  const std::string file = dir_ / "ro.txt";
  test::WriteFile(file, "x");
  ASSERT_TRUE(platform::WriteFileAttributes(file, platform::kAttrReadOnly));
  ASSERT_TRUE(platform::ReadFileAttributes(file).value_or(0) & platform::kAttrReadOnly);
  ClearReadOnly(file);
  EXPECT_FALSE(platform::ReadFileAttributes(file).value_or(platform::kAttrReadOnly) & platform::kAttrReadOnly);
  EXPECT_NO_THROW(ClearReadOnly(dir_ / "missing"));
}

TEST(BusyCursorTest, NestedBusyRestoresTheCursorOfTheOutermostCall) {
  auto owned = std::make_unique<platform::ScriptedToolkit>();
  platform::ScriptedToolkit& toolkit = *owned;
  platform::SetToolkit(std::move(owned));
  BeginBusy();
  BeginBusy();
  EXPECT_EQ(toolkit.GetCursor(), platform::Cursor::HourGlass);
  EndBusy();
  EXPECT_EQ(toolkit.GetCursor(), platform::Cursor::HourGlass);
  EndBusy();
  EXPECT_EQ(toolkit.GetCursor(), platform::Cursor::Default);
  EXPECT_EQ(toolkit.NudgeCount(), 4u);
  // An unmatched end must not leave the depth negative: the next busy period still restores.
  EndBusy();
  EXPECT_EQ(BusyDepth(), 0);
  {
    BusyScope scope;
    EXPECT_EQ(toolkit.GetCursor(), platform::Cursor::HourGlass);
  }
  EXPECT_EQ(toolkit.GetCursor(), platform::Cursor::Default);
  platform::SetToolkit(nullptr);
}

TEST(TempFileTest, MakeTempFileNameCreatesAnEmptyTtsFile) {
  test::TempDir tmp;
  test::ScopedTempFolder env(tmp.path());
  const std::string a = MakeTempFileName();
  const std::string b = MakeTempFileName();
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind(tmp / "TTS", 0), 0u) << a;
  EXPECT_TRUE(test::FileExists(a));
  EXPECT_EQ(test::ReadFile(a), "");
}

}  // namespace
}  // namespace skelder::deploy
