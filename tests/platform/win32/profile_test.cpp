// The Windows profile backend: the system's own API must read back what profile_cases.h says,
// for answers longer than any first buffer too, and a relative path must mean the current
// folder, not the Windows folder where the API would look for it.
#include <gtest/gtest.h>

#include <windows.h>

#include "../profile_cases.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "test_support.h"

namespace skelder::platform {
namespace {

class Win32Profile : public ::testing::Test {
 protected:
  test::TempDir dir_;
  std::string Path(const std::string& name) const { return dir_.path() + "\\" + name; }
};

TEST_F(Win32Profile, ReadsTheSharedCases) {
  test::WriteFile(Path("a.ini"), profile_cases::kReadText);
  profile_cases::ExpectTheSharedReads(ProfileFile(Path("a.ini")), ProfileFile(Path("missing.ini")));
}

TEST_F(Win32Profile, WritesReadBackAndReachTheFile) {
  test::WriteFile(Path("p.ini"), profile_cases::kWriteText);
  ProfileFile file(Path("p.ini"));
  for (const auto& step : profile_cases::kWrites) {
    ASSERT_TRUE(file.WriteString(step.section, step.key, step.value)) << step.key;
    EXPECT_EQ(file.ReadSection(step.section), step.sectionAfter) << step.key;
  }
  EXPECT_NE(test::ReadFile(Path("p.ini")).find("Skelder Command Handler=Skelder.dll\r\n"), std::string::npos);

  const std::string kept = test::ReadFile(Path("p.ini"));
  for (const auto& c : profile_cases::kRefused) EXPECT_FALSE(file.WriteString(c.section, c.key, c.value)) << c.key;
  EXPECT_EQ(test::ReadFile(Path("p.ini")), kept);
  ASSERT_TRUE(WriteFileAttributes(Path("p.ini"), kAttrReadOnly));
  EXPECT_FALSE(file.WriteString("Addins", "k", "v"));
  ASSERT_TRUE(WriteFileAttributes(Path("p.ini"), kAttrNormal));
  EXPECT_EQ(test::ReadFile(Path("p.ini")), kept);
}

TEST_F(Win32Profile, AnswersLongerThanTheFirstBufferComeWhole) {
  ProfileFile file(Path("KVOAddins.dat"));
  // Around the first buffer's size, where a cut answer and a whole one have the same length,
  // and a few times that size.
  for (size_t length : {1016u, 1017u, 1018u, 1019u, 1022u, 1023u, 1024u, 1025u, 5000u}) {
    const std::string value(length, 'v');
    ASSERT_TRUE(file.WriteString("Addins", "Long", value)) << length;
    EXPECT_EQ(file.ReadString("Addins", "Long", "-").size(), length);
    const auto entries = file.ReadSection("Addins");
    ASSERT_EQ(entries.size(), 1u) << length;
    EXPECT_EQ(entries[0].second.size(), length);
  }
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(file.CreateSection("Section " + std::to_string(i)));
  EXPECT_TRUE(file.SectionExists("section 299"));
  EXPECT_TRUE(file.SectionExists("Addins"));
}

TEST_F(Win32Profile, DeletesCreatesAndTakesRelativePathsFromTheCurrentFolder) {
  test::WriteFile(Path("d.ini"), profile_cases::kDeleteText);
  ProfileFile file(Path("d.ini"));
  ASSERT_TRUE(file.DeleteKey("addins", "SKELDER COMMAND HANDLER"));
  EXPECT_EQ(file.ReadSection("Addins"), profile_cases::kAfterDelete);
  EXPECT_EQ(file.ReadString("Next", "Skelder Command Handler", "-"), "x");
  EXPECT_TRUE(file.DeleteKey("Addins", "Nope"));
  EXPECT_TRUE(ProfileFile(Path("none.ini")).DeleteKey("a", "b"));
  EXPECT_FALSE(PathExists(Path("none.ini")));

  ProfileFile registry(Path("r.ini"));
  EXPECT_FALSE(registry.SectionExists("Software\\Vorn\\Ardmoor"));
  ASSERT_TRUE(registry.CreateSection("Software\\Vorn\\Ardmoor"));
  ASSERT_TRUE(registry.WriteString("Software\\Vorn\\Ardmoor", "InstallDir", "C:\\A"));
  ASSERT_TRUE(registry.CreateSection("software\\vorn\\ardmoor"));  // its entries stay
  EXPECT_TRUE(registry.SectionExists("SOFTWARE\\Vorn\\Ardmoor"));
  EXPECT_EQ(registry.ReadString("Software\\Vorn\\Ardmoor", "installdir", "-"), "C:\\A");

  char previous[MAX_PATH];
  ASSERT_NE(::GetCurrentDirectoryA(MAX_PATH, previous), 0u);
  ASSERT_TRUE(::SetCurrentDirectoryA(dir_.path().c_str()));
  const bool written = ProfileFile("relative.ini").WriteString("Addins", "k", "v");
  const std::string readBack = ProfileFile("relative.ini").ReadString("Addins", "k", "-");
  ::SetCurrentDirectoryA(previous);
  EXPECT_TRUE(written);
  EXPECT_EQ(readBack, "v");
  EXPECT_TRUE(test::FileExists(Path("relative.ini")));
}

}  // namespace
}  // namespace skelder::platform
