// The POSIX profile backend, byte for byte: it must write the host's list as the system's
// profile API would. The cases shared with the Windows backend come from profile_cases.h.
#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "profile_cases.h"
#include "test_support.h"

namespace skelder::platform {
namespace {

using profile_cases::Pairs;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(ProfileRead, NamesIgnoreCaseAndBlanksAndTheFirstOccurrenceWins) {
  TempDir dir;
  WriteFile(dir / "a.ini", profile_cases::kReadText);
  profile_cases::ExpectTheSharedReads(ProfileFile(dir / "a.ini"), ProfileFile(dir / "missing.ini"));
  // The file itself is found the way Windows finds it.
  EXPECT_EQ(ProfileFile(dir / "A.INI").ReadString("Other", "key", "-"), "other");
}

TEST(ProfileWrite, ReplacesInPlaceAndLeavesEveryOtherByte) {
  TempDir dir;
  WriteFile(dir / "p.ini", profile_cases::kWriteText);
  ProfileFile file(dir / "p.ini");
  // After each write: the whole file, byte for byte.
  const std::vector<std::string> bytes = {
      // The first Beta line changes, its line end and every other line stay.
      "; host's list\n[Addins]\nAlpha = a.dll\nBeta=new.dll\r\nbeta=second.dll\n\n[Later]   \nx=1",
      // A new key goes after the section's last entry, before its blank lines.
      "; host's list\n[Addins]\nAlpha = a.dll\nBeta=new.dll\r\nbeta=second.dll\n"
      "Skelder Command Handler=Skelder.dll\r\n\n[Later]   \nx=1",
      // In the last section, a last line without a line end gets one first.
      "; host's list\n[Addins]\nAlpha = a.dll\nBeta=new.dll\r\nbeta=second.dll\n"
      "Skelder Command Handler=Skelder.dll\r\n\n[Later]   \nx=1\r\ny=2\r\n",
      // A new section at the end of the file.
      "; host's list\n[Addins]\nAlpha = a.dll\nBeta=new.dll\r\nbeta=second.dll\n"
      "Skelder Command Handler=Skelder.dll\r\n\n[Later]   \nx=1\r\ny=2\r\n[New]\r\nk=v\r\n",
  };
  ASSERT_EQ(bytes.size(), profile_cases::kWrites.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto& step = profile_cases::kWrites[i];
    ASSERT_TRUE(file.WriteString(step.section, step.key, step.value)) << i;
    EXPECT_EQ(ReadFile(dir / "p.ini"), bytes[i]) << i;
    EXPECT_EQ(file.ReadSection(step.section), step.sectionAfter) << i;
  }
}

TEST(ProfileWrite, CreatesTheFileAndRefusesWhatWouldCorruptIt) {
  TempDir dir;
  ProfileFile file(dir / "KVOAddins.dat");
  ASSERT_TRUE(file.WriteString("Addins", "Skelder Command Handler", "Skelder.dll"));
  EXPECT_EQ(ReadFile(dir / "KVOAddins.dat"), "[Addins]\r\nSkelder Command Handler=Skelder.dll\r\n");
  ASSERT_TRUE(file.WriteString("Addins", "Skelder Command Handler", "Skelder.dll"));
  EXPECT_EQ(ReadFile(dir / "KVOAddins.dat"), "[Addins]\r\nSkelder Command Handler=Skelder.dll\r\n");

  const std::string kept = ReadFile(dir / "KVOAddins.dat");
  for (const auto& c : profile_cases::kRefused) EXPECT_FALSE(file.WriteString(c.section, c.key, c.value)) << c.key;
  EXPECT_EQ(ReadFile(dir / "KVOAddins.dat"), kept);

  // A read-only file, or a folder in the way, is not written.
  ::chmod((dir / "KVOAddins.dat").c_str(), 0444);
  EXPECT_FALSE(file.WriteString("Addins", "k", "v"));
  EXPECT_FALSE(file.DeleteKey("Addins", "Skelder Command Handler"));
  EXPECT_EQ(ReadFile(dir / "KVOAddins.dat"), kept);
  test::MakeDirs(dir / "folder.ini");
  EXPECT_FALSE(ProfileFile(dir / "folder.ini").WriteString("a", "b", "c"));
  // No temporary files are left behind.
  EXPECT_EQ(test::ListFiles(dir.path()), std::vector<std::string>{"KVOAddins.dat"});
  EXPECT_FALSE(ProfileFile(dir / "no/such/dir.ini").WriteString("a", "b", "c"));
}

// A list kept elsewhere and linked into place (dotfiles) stays linked: writes go through to the
// link's target, by the same atomic replace, and a relative link is read from the link's folder.
TEST(ProfileWrite, GoesThroughSymbolicLinksToTheirTarget) {
  TempDir dir;
  test::MakeDirs(dir / "real");
  test::MakeDirs(dir / "conf");
  WriteFile(dir / "real/list.dat", "[Addins]\r\n");
  ASSERT_EQ(::symlink("../real/list.dat", (dir / "conf/middle.dat").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "conf/middle.dat").c_str(), (dir / "conf/KVOAddins.dat").c_str()), 0);
  ProfileFile file(dir / "conf/KVOAddins.dat");
  ASSERT_TRUE(file.WriteString("Addins", "k", "v"));
  ASSERT_TRUE(file.DeleteKey("Addins", "k"));
  ASSERT_TRUE(file.WriteString("Addins", "Skelder Command Handler", "Skelder.dll"));
  struct stat st {};
  ASSERT_EQ(::lstat((dir / "conf/KVOAddins.dat").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link is still a link";
  ASSERT_EQ(::lstat((dir / "conf/middle.dat").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(dir / "real/list.dat"), "[Addins]\r\nSkelder Command Handler=Skelder.dll\r\n");
  EXPECT_EQ(test::ListFiles(dir / "real"), std::vector<std::string>{"list.dat"});
  // A link to a file not there yet: the file is made at the target.
  ASSERT_EQ(::symlink("../real/new.dat", (dir / "conf/new.dat").c_str()), 0);
  ASSERT_TRUE(ProfileFile(dir / "conf/new.dat").CreateSection("Software\\Vorn\\Ardmoor"));
  EXPECT_EQ(ReadFile(dir / "real/new.dat"), "[Software\\Vorn\\Ardmoor]\r\n");
}

TEST(ProfileDelete, RemovesOnlyThatLine) {
  TempDir dir;
  WriteFile(dir / "d.ini", profile_cases::kDeleteText);
  ProfileFile file(dir / "d.ini");
  ASSERT_TRUE(file.DeleteKey("addins", "SKELDER COMMAND HANDLER"));
  EXPECT_EQ(ReadFile(dir / "d.ini"),
            "[Addins]\r\nOther=Skelder.dll\r\nskelder command handler=dup\r\n[Next]\r\nSkelder Command Handler=x\r\n");
  EXPECT_EQ(file.ReadSection("Addins"), profile_cases::kAfterDelete);
  // Absent keys, sections and files: nothing to do, nothing written or created.
  EXPECT_TRUE(file.DeleteKey("Addins", "Nope"));
  EXPECT_TRUE(file.DeleteKey("Nope", "Other"));
  EXPECT_TRUE(ProfileFile(dir / "none.ini").DeleteKey("a", "b"));
  EXPECT_FALSE(test::FileExists(dir / "none.ini"));
}

TEST(ProfileSection, CreateEmptySectionOnce) {
  TempDir dir;
  ProfileFile file(dir / "r.ini");
  EXPECT_FALSE(file.SectionExists("Software\\Vorn\\Ardmoor"));
  ASSERT_TRUE(file.CreateSection("Software\\Vorn\\Ardmoor"));
  ASSERT_TRUE(file.CreateSection("software\\vorn\\ardmoor"));
  EXPECT_EQ(ReadFile(dir / "r.ini"), "[Software\\Vorn\\Ardmoor]\r\n");
  EXPECT_TRUE(file.SectionExists("SOFTWARE\\Vorn\\Ardmoor"));
  EXPECT_TRUE(file.ReadSection("Software\\Vorn\\Ardmoor").empty());
}

}  // namespace
}  // namespace skelder::platform
