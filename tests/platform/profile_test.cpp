#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "test_support.h"

namespace skelder::platform {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(ProfileRead, NamesIgnoreCaseAndBlanksAndTheFirstOccurrenceWins) {
  TempDir dir;
  WriteFile(dir / "a.ini",
            "top=ignored\r\n"
            "[Other]\r\nKey=other\r\n"
            " [ ADDINS ] \r\n"
            "  First Handler  =  One.dll  \r\n"
            "; a comment=not an entry\r\n"
            "no equals sign\r\n"
            "SECOND=Two.dll\r\n"
            "first handler=Shadowed.dll\r\n"
            "[Addins]\r\n"
            "Third=Three.dll\r\n"
            "[Quoted]\r\nq=\"a b\"\r\nempty=\r\n");
  ProfileFile file(dir / "a.ini");
  EXPECT_EQ(file.ReadString("addins", "FIRST HANDLER", "-"), "One.dll");
  EXPECT_EQ(file.ReadString("Addins", "second", "-"), "Two.dll");
  // Only the first section of a name counts.
  EXPECT_EQ(file.ReadString("Addins", "Third", "-"), "-");
  EXPECT_EQ(file.ReadString("Addins", "top", "-"), "-");
  EXPECT_EQ(file.ReadString("Missing", "Key", "dflt"), "dflt");
  EXPECT_EQ(file.ReadString("Quoted", "q", "-"), "a b");
  EXPECT_EQ(file.ReadString("Quoted", "empty", "-"), "");
  EXPECT_EQ(file.ReadSection("ADDINS"), (Pairs{{"First Handler", "One.dll"}, {"SECOND", "Two.dll"}}));
  EXPECT_TRUE(file.ReadSection("none").empty());
  EXPECT_TRUE(file.SectionExists("other"));
  EXPECT_FALSE(file.SectionExists("Oth"));
  EXPECT_EQ(ProfileFile(dir / "missing.ini").ReadString("a", "b", "d"), "d");
  // The file itself is found the way Windows finds it.
  EXPECT_EQ(ProfileFile(dir / "A.INI").ReadString("Other", "key", "-"), "other");
}

TEST(ProfileWrite, ReplacesInPlaceAndLeavesEveryOtherByte) {
  TempDir dir;
  const std::string before =
      "; host's list\n"
      "[Addins]\n"
      "Alpha = a.dll\n"
      "Beta=b.dll\r\n"
      "beta=second.dll\n"
      "\n"
      "[Later]   \n"
      "x=1";
  WriteFile(dir / "p.ini", before);
  ProfileFile file(dir / "p.ini");
  ASSERT_TRUE(file.WriteString("ADDINS", "BETA", "new.dll"));
  // The first Beta line changes, its line end and every other line stay.
  EXPECT_EQ(ReadFile(dir / "p.ini"),
            "; host's list\n[Addins]\nAlpha = a.dll\nBeta=new.dll\r\nbeta=second.dll\n\n[Later]   \nx=1");

  // A new key goes after the section's last entry, before its blank lines.
  ASSERT_TRUE(file.WriteString("addins", "Skelder Command Handler", "Skelder.dll"));
  EXPECT_EQ(ReadFile(dir / "p.ini"),
            "; host's list\n[Addins]\nAlpha = a.dll\nBeta=new.dll\r\nbeta=second.dll\n"
            "Skelder Command Handler=Skelder.dll\r\n\n[Later]   \nx=1");

  // In the last section, a last line without a line end gets one first.
  ASSERT_TRUE(file.WriteString("Later", "y", "2"));
  EXPECT_EQ(ReadFile(dir / "p.ini").substr(ReadFile(dir / "p.ini").find("[Later]")), "[Later]   \nx=1\r\ny=2\r\n");

  // A new section at the end of the file.
  ASSERT_TRUE(file.WriteString("New", "k", "v"));
  std::string text = ReadFile(dir / "p.ini");
  EXPECT_TRUE(text.ends_with("y=2\r\n[New]\r\nk=v\r\n")) << text;
  EXPECT_EQ(file.ReadSection("addins"),
            (Pairs{{"Alpha", "a.dll"}, {"Beta", "new.dll"}, {"Skelder Command Handler", "Skelder.dll"}}));
}

TEST(ProfileWrite, CreatesTheFileAndRefusesWhatWouldCorruptIt) {
  TempDir dir;
  ProfileFile file(dir / "KVOAddins.dat");
  ASSERT_TRUE(file.WriteString("Addins", "Skelder Command Handler", "Skelder.dll"));
  EXPECT_EQ(ReadFile(dir / "KVOAddins.dat"), "[Addins]\r\nSkelder Command Handler=Skelder.dll\r\n");
  ASSERT_TRUE(file.WriteString("Addins", "Skelder Command Handler", "Skelder.dll"));
  EXPECT_EQ(ReadFile(dir / "KVOAddins.dat"), "[Addins]\r\nSkelder Command Handler=Skelder.dll\r\n");

  const std::string kept = ReadFile(dir / "KVOAddins.dat");
  EXPECT_FALSE(file.WriteString("Addins", "k", "line\r\nInjected=1"));
  EXPECT_FALSE(file.WriteString("Addins", "a=b", "v"));
  EXPECT_FALSE(file.WriteString("Addins", "  ", "v"));
  EXPECT_FALSE(file.WriteString("Add]ins", "k", "v"));
  EXPECT_FALSE(file.WriteString("", "k", "v"));
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

TEST(ProfileDelete, RemovesOnlyThatLine) {
  TempDir dir;
  WriteFile(dir / "d.ini",
            "[Addins]\r\nOther=Skelder.dll\r\nSkelder Command Handler=Skelder.dll\r\n"
            "skelder command handler=dup\r\n[Next]\r\nSkelder Command Handler=x\r\n");
  ProfileFile file(dir / "d.ini");
  ASSERT_TRUE(file.DeleteKey("addins", "SKELDER COMMAND HANDLER"));
  EXPECT_EQ(ReadFile(dir / "d.ini"),
            "[Addins]\r\nOther=Skelder.dll\r\nskelder command handler=dup\r\n[Next]\r\nSkelder Command Handler=x\r\n");
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
