#pragma once
// Cases that every profile backend must answer alike: the POSIX implementation, checked byte for
// byte in profile_test.cpp, and the system's own API on Windows (win32/profile_test.cpp).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/profile.h"

namespace skelder::platform::profile_cases {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Names without letter case and blanks, first occurrence of a key and of a section, comments
// and lines without "=", quoted and empty values.
inline const std::string kReadText =
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
    "[Quoted]\r\nq=\"a b\"\r\nempty=\r\n";

struct ReadCase {
  const char* section;
  const char* key;
  const char* expected;  // "-" is the default passed
};
inline const ReadCase kReads[] = {
    {"addins", "FIRST HANDLER", "One.dll"},
    {"Addins", "second", "Two.dll"},
    {"Addins", "Third", "-"},  // only the first section of a name counts
    {"Addins", "top", "-"},
    {"Missing", "Key", "-"},
    {"Quoted", "q", "a b"},
    {"Quoted", "empty", ""},
    {" other ", "KEY", "other"},
};
inline const Pairs kAddinsEntries = {{"First Handler", "One.dll"}, {"SECOND", "Two.dll"}};

// Writes in turn into kWriteText: a value replaced in place (the first of two spellings), a new
// key in a section followed by blank lines, a key after a last line without a line end, a new
// section. After each, the section written reads back as given.
inline const std::string kWriteText =
    "; host's list\n"
    "[Addins]\n"
    "Alpha = a.dll\n"
    "Beta=b.dll\r\n"
    "beta=second.dll\n"
    "\n"
    "[Later]   \n"
    "x=1";
struct WriteStep {
  const char* section;
  const char* key;
  const char* value;
  Pairs sectionAfter;
};
inline const std::vector<WriteStep> kWrites = {
    {"ADDINS", "BETA", "new.dll", {{"Alpha", "a.dll"}, {"Beta", "new.dll"}}},
    {"addins",
     "Skelder Command Handler",
     "Skelder.dll",
     {{"Alpha", "a.dll"}, {"Beta", "new.dll"}, {"Skelder Command Handler", "Skelder.dll"}}},
    {"Later", "y", "2", {{"x", "1"}, {"y", "2"}}},
    {"New", "k", "v", {{"k", "v"}}},
};

// Writes that would put another entry into the file than the one asked for.
struct Refused {
  const char* section;
  const char* key;
  const char* value;
};
inline const Refused kRefused[] = {
    {"Addins", "k", "line\r\nInjected=1"},
    {"Addins", "a=b", "v"},
    {"Addins", "  ", "v"},
    {"Add]ins", "k", "v"},
    {"", "k", "v"},
    {"Addins", ";k", "v"},
    {"Addins", "k\nx", "v"},
};

// A delete takes the first spelling of the key in the first section of its name; the next
// spelling then answers.
inline const std::string kDeleteText =
    "[Addins]\r\nOther=Skelder.dll\r\nSkelder Command Handler=Skelder.dll\r\n"
    "skelder command handler=dup\r\n[Next]\r\nSkelder Command Handler=x\r\n";
inline const Pairs kAfterDelete = {{"Other", "Skelder.dll"}, {"skelder command handler", "dup"}};

// What a backend reads from kReadText (written to `file`) and from a file that is not there.
inline void ExpectTheSharedReads(const ProfileFile& file, const ProfileFile& missing) {
  for (const auto& c : kReads)
    EXPECT_EQ(file.ReadString(c.section, c.key, "-"), c.expected) << c.section << " " << c.key;
  EXPECT_EQ(file.ReadSection("ADDINS"), kAddinsEntries);
  EXPECT_EQ(file.ReadSection("quoted"), (Pairs{{"q", "a b"}, {"empty", ""}}))
      << "one pair of quotes goes, as for a key";
  EXPECT_TRUE(file.ReadSection("none").empty());
  EXPECT_TRUE(file.SectionExists("other"));
  EXPECT_FALSE(file.SectionExists("Oth"));
  EXPECT_EQ(missing.ReadString("a", "b", "d  "), "d  ");
}

}  // namespace skelder::platform::profile_cases
