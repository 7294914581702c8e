// Listing parser: layout detection, the Unix and DOS layouts, the two-digit-year rule, lines
// as pyftpdlib and vsftpd send them, and the session's directory listing with its events.
#include "ftp/net_ftp_list.h"

#include <gtest/gtest.h>

#include "ftp/net_ftp.h"

using namespace skelder::ftp;

namespace {

// Pins "now" to 2026-06-15 14:20 local time for every test of this file.
class ListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetListingClock([] { return ListingNow{2026, 6, 15, 14, 20}; });
    SetTwoDigitYearWindow(50);
  }
  void TearDown() override {
    SetListingClock({});
    SetTwoDigitYearWindow(50);
  }

  static void ExpectDate(TDateTime value, int y, int mo, int d, int h, int mi, int s, int ms) {
    DateTimeParts p = DecodeDateTime(value);
    EXPECT_EQ(p.year, y);
    EXPECT_EQ(p.month, mo);
    EXPECT_EQ(p.day, d);
    EXPECT_EQ(p.hour, h);
    EXPECT_EQ(p.minute, mi);
    EXPECT_EQ(p.second, s);
    EXPECT_EQ(p.millisecond, ms);
  }

  TNetFTPListItems Parse(TNetFTPListFormat format, const std::vector<std::string>& lines) {
    TNetFTPListItems items;
    items.ListFormat = format;
    items.ParseListing(lines);
    return items;
  }
};

TEST_F(ListingTest, DateTimeEncodingRoundTripsAndRejectsInvalidValues) {
  EXPECT_EQ(EncodeDate(1899, 12, 30).value(), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1).value(), 2.0);
  EXPECT_FALSE(EncodeDate(2023, 2, 29));
  EXPECT_TRUE(EncodeDate(2024, 2, 29));
  EXPECT_FALSE(EncodeDate(2024, 0, 1));
  EXPECT_FALSE(EncodeDate(2024, 13, 1));
  EXPECT_FALSE(EncodeTime(24, 0, 0, 0));
  EXPECT_FALSE(EncodeTime(0, 60, 0, 0));
  ExpectDate(*EncodeDate(2001, 3, 1) + *EncodeTime(23, 59, 59, 999), 2001, 3, 1, 23, 59, 59, 999);
}

TEST_F(ListingTest, DetectsLayoutFromFirstLine) {
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("anything", false), fmtNoDetails);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("drwxr-xr-x 2 u g 0 Jan 1 2001 d", true), fmtUnix);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("-rw-r--r-- 1 u g 0 Jan 1 2001 f", true), fmtUnix);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("lrwxrwxrwx 1 u g 0 Jan 1 2001 l", true), fmtUnix);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("-rwsr-sr-t 1 u g 0 Jan 1 2001 f", true), fmtUnix);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("total 12", true), fmtUnix);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("TOTAL 0", true), fmtUnix);
  // "A" is allowed at the eighth place only.
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("-rw-r--a-- 1 u g 0 Jan 1 2001 f", true), fmtUnix);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("-rwar--r-- 1 u g 0 Jan 1 2001 f", true), fmtUnknown);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("USER1:[DIR] DSK:FILE.TXT;1", true), fmtVms);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("01-15-02  03:45PM       <DIR>          web", true), fmtDos);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("01-15-02  03:45PM                 1,234 a.txt", true), fmtDos);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("01/15/02  03:45PM       <DIR>          web", true), fmtDos);
  // A size field of -1 or text is no DOS size; nor is a date without separators.
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("01-15-02  03:45PM                    -1 a.txt", true), fmtUnknown);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("01-15-02  03:45PM                  abcd a.txt", true), fmtUnknown);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("0115202  03:45PM       <DIR>          web", true), fmtUnknown);
  // Short or empty lines must not read past their end.
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("", true), fmtUnknown);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("01-15", true), fmtUnknown);
  EXPECT_EQ(TNetFTPListItems::DetectListFormat("drwx", true), fmtUnknown);
}

TEST_F(ListingTest, UnixDirectoryWithTimeIsInTheCurrentYearAndTotalIsSkipped) {
  auto items = Parse(fmtUnix, {"total 12", "drwxr-xr-x   2 user group 4096 Jan  5 10:30 docs"});
  ASSERT_EQ(items.Count(), 1u);
  const TNetFTPListItem& d = items.Item(0);
  EXPECT_EQ(d.Kind, ikDirectory);
  EXPECT_EQ(d.EntryName, "docs");
  EXPECT_EQ(d.EntrySize, 4096);
  EXPECT_EQ(d.LinkCount, 2);
  EXPECT_EQ(d.Owner, "user");
  EXPECT_EQ(d.Group, "group");
  EXPECT_EQ(d.OwnerRights, "rwx");
  EXPECT_EQ(d.GroupRights, "r-x");
  EXPECT_EQ(d.OtherRights, "r-x");
  EXPECT_EQ(d.Line, "drwxr-xr-x   2 user group 4096 Jan  5 10:30 docs");
  ExpectDate(d.Modified, 2026, 1, 5, 10, 30, 0, 999);
}

TEST_F(ListingTest, UnixTimeOfALaterMonthBelongsToLastYear) {
  auto items =
      Parse(fmtUnix, {"-rw-r--r-- 1 u g 10 Dec 24 18:00 xmas.txt", "-rw-r--r-- 1 u g 10 Jun 15 09:00 today.txt"});
  ASSERT_EQ(items.Count(), 2u);
  ExpectDate(items.Item(0).Modified, 2025, 12, 24, 18, 0, 0, 999);
  ExpectDate(items.Item(1).Modified, 2026, 6, 15, 9, 0, 0, 999);
}

TEST_F(ListingTest, UnixLinkSplitsNameAndTarget) {
  auto items = Parse(fmtUnix, {"lrwxrwxrwx 1 u g 7 Mar 1 2001 ln -> target"});
  ASSERT_EQ(items.Count(), 1u);
  EXPECT_EQ(items.Item(0).Kind, ikLink);
  EXPECT_EQ(items.Item(0).EntryName, "ln");
  EXPECT_EQ(items.Item(0).LinkTarget, "target");
  EXPECT_EQ(items.Item(0).EntrySize, 7);
  ExpectDate(items.Item(0).Modified, 2001, 3, 1, 0, 0, 0, 999);
}

TEST_F(ListingTest, UnixLineWithoutGroupColumn) {
  auto items = Parse(fmtUnix, {"-rw-r--r-- 1 user 512 Feb 2 2002 f"});
  ASSERT_EQ(items.Count(), 1u);
  EXPECT_EQ(items.Item(0).Owner, "");
  EXPECT_EQ(items.Item(0).Group, "user");
  EXPECT_EQ(items.Item(0).EntrySize, 512);
  EXPECT_EQ(items.Item(0).EntryName, "f");
  ExpectDate(items.Item(0).Modified, 2002, 2, 2, 0, 0, 0, 999);
}

TEST_F(ListingTest, UnixNameKeepsBlanksAfterTheOneSeparator) {
  auto items = Parse(fmtUnix, {"-rw-r--r-- 1 u g 1 Mar  1  2001  two blanks -> x"});
  ASSERT_EQ(items.Count(), 1u);
  EXPECT_EQ(items.Item(0).EntryName, " two blanks -> x");  // a file: no link split
  EXPECT_EQ(items.Item(0).Kind, ikFile);
}

TEST_F(ListingTest, UnixFolderWordSkipsLinkCountOwnerAndGroup) {
  auto items = Parse(fmtUnix, {"drwxrwxrwx folder 0 Nov 3 2003 Stuff"});
  ASSERT_EQ(items.Count(), 1u);
  EXPECT_EQ(items.Item(0).Kind, ikDirectory);
  EXPECT_EQ(items.Item(0).EntryName, "Stuff");
  EXPECT_EQ(items.Item(0).LinkCount, 0);
  EXPECT_EQ(items.Item(0).Owner, "????????");
  ExpectDate(items.Item(0).Modified, 2003, 11, 3, 0, 0, 0, 999);
}

TEST_F(ListingTest, UnixNonNumbersBecomeZeroAndBadDatesFailTheLine) {
  auto items = Parse(fmtUnix, {"-rw-r--r-- x u g 12ab Jan 1 2001 f"});
  ASSERT_EQ(items.Count(), 1u);
  EXPECT_EQ(items.Item(0).LinkCount, 0);
  EXPECT_EQ(items.Item(0).EntrySize, 0);
  EXPECT_EQ(Parse(fmtUnix, {"-rw-r--r-- 1 u g 1 Foo 1 2001 f"}).Count(), 0u);
  EXPECT_EQ(Parse(fmtUnix, {"-rw-r--r-- 1 u g 1 Feb 30 2001 f"}).Count(), 0u);
  EXPECT_EQ(Parse(fmtUnix, {"-rw-r--r-- 1 u g 1 Feb 3 25:61 f"}).Count(), 0u);
  EXPECT_EQ(Parse(fmtUnix, {"-rw-r--r-- 1 u g 1 Feb 3 1a:00 f"}).Count(), 0u);
  // Truncated lines fail cleanly.
  EXPECT_EQ(Parse(fmtUnix, {"-rw-r--r--"}).Count(), 0u);
  EXPECT_EQ(Parse(fmtUnix, {"d"}).Count(), 0u);
}

TEST_F(ListingTest, AFailedLineEmptiesTheCollectionAndParsingGoesOn) {
  auto items =
      Parse(fmtUnix, {"-rw-r--r-- 1 u g 1 Jan 1 2001 a", "garbage", "", " \t ", "-rw-r--r-- 1 u g 2 Jan 1 2001 b"});
  ASSERT_EQ(items.Count(), 1u);
  EXPECT_EQ(items.Item(0).EntryName, "b");
}

TEST_F(ListingTest, UnknownLayoutMakesEveryLineFail) {
  std::vector<std::string> lines = {"??? what is this", "-rw-r--r-- 1 u g 1 Jan 1 2001 a"};
  TNetFTPListItems items;
  items.ListFormat = TNetFTPListItems::DetectListFormat(lines[0], true);
  ASSERT_EQ(items.ListFormat, fmtUnknown);
  items.ParseListing(lines);
  EXPECT_EQ(items.Count(), 0u);
}

TEST_F(ListingTest, NoneNoDetailsAndCustomFormats) {
  auto none = Parse(fmtNone, {"  raw line ", "total 1"});
  ASSERT_EQ(none.Count(), 2u);
  EXPECT_EQ(none.Item(0).Line, "  raw line ");
  EXPECT_EQ(none.Item(0).EntryName, "");
  EXPECT_EQ(none.Item(1).Line, "total 1");  // "total" is skipped only for the Unix layout

  auto names = Parse(fmtNoDetails, {"  a.txt  ", "b"});
  ASSERT_EQ(names.Count(), 2u);
  EXPECT_EQ(names.Item(0).EntryName, "a.txt");
  EXPECT_EQ(names.Item(0).Kind, ikFile);

  EXPECT_EQ(Parse(fmtCustom, {"x"}).Count(), 0u);  // no handler
  TNetFTPListItems custom;
  custom.ListFormat = fmtCustom;
  custom.OnParseCustomListFormat = [](TNetFTPListItem& item) {
    if (item.Line == "bad") throw std::runtime_error("no");
    item.EntryName = "<" + item.Line + ">";
  };
  custom.ParseListing({"one", "two"});
  ASSERT_EQ(custom.Count(), 2u);
  EXPECT_EQ(custom.Item(1).EntryName, "<two>");
  custom.ParseListing({"one", "bad"});
  EXPECT_EQ(custom.Count(), 0u);
}

TEST_F(ListingTest, DosDirectoryAndFile) {
  auto items = Parse(
      fmtDos, {"01-15-02  03:45PM       <DIR>          web", "12-31-99  11:05AM               123,456 big file.zip  "});
  ASSERT_EQ(items.Count(), 2u);
  EXPECT_EQ(items.Item(0).Kind, ikDirectory);
  EXPECT_EQ(items.Item(0).EntryName, "web");
  EXPECT_EQ(items.Item(0).EntrySize, 0);
  ExpectDate(items.Item(0).Modified, 2002, 1, 15, 15, 45, 0, 0);
  EXPECT_EQ(items.Item(1).Kind, ikFile);
  EXPECT_EQ(items.Item(1).EntrySize, 123456);
  EXPECT_EQ(items.Item(1).EntryName, "big file.zip");
  ExpectDate(items.Item(1).Modified, 1999, 12, 31, 11, 5, 0, 0);
}

TEST_F(ListingTest, DosNameIsTakenAfterTheSizeColumnEvenWhenTheSizeAppearsEarlier) {
  // The size "1" also occurs in the date; the name must still be the file's own.
  auto items = Parse(fmtDos, {"01-15-02  03:45PM                    1 a.txt"});
  ASSERT_EQ(items.Count(), 1u);
  EXPECT_EQ(items.Item(0).EntrySize, 1);
  EXPECT_EQ(items.Item(0).EntryName, "a.txt");
}

TEST_F(ListingTest, DosTwelveOClockAndBadTimesOrDates) {
  auto items = Parse(
      fmtDos, {"01-15-02  12:30AM                    5 midnight", "01-15-02  12:30PM                    5 noon",
               "13-45-02  10:00AM                    5 baddate", "01-15-02  xx:00AM                    5 badtime"});
  ASSERT_EQ(items.Count(), 4u);
  ExpectDate(items.Item(0).Modified, 2002, 1, 15, 0, 30, 0, 0);
  ExpectDate(items.Item(1).Modified, 2002, 1, 15, 12, 30, 0, 0);
  EXPECT_EQ(items.Item(2).Modified, 0.0);
  EXPECT_EQ(items.Item(3).Modified, 0.0);
  EXPECT_EQ(items.Item(3).EntryName, "badtime");
}

TEST_F(ListingTest, DosTimeWithoutMinuteTakesItFromTheClock) {
  auto items = Parse(fmtDos, {"01-15-02  07PM                       5 f"});
  ASSERT_EQ(items.Count(), 1u);
  ExpectDate(items.Item(0).Modified, 2002, 1, 15, 19, 20, 0, 0);
}

TEST_F(ListingTest, TwoDigitYearRule) {
  EXPECT_EQ(ExpandTwoDigitYear(2), 2002);
  EXPECT_EQ(ExpandTwoDigitYear(50), 2050);
  EXPECT_EQ(ExpandTwoDigitYear(51), 1951);
  EXPECT_EQ(ExpandTwoDigitYear(99), 1999);
  EXPECT_EQ(ExpandTwoDigitYear(100), 100);
  EXPECT_EQ(ExpandTwoDigitYear(1999), 1999);
  SetTwoDigitYearWindow(0);
  EXPECT_EQ(ExpandTwoDigitYear(99), 2099);
  SetListingClock([] { return ListingNow{2150, 1, 1, 0, 0}; });
  EXPECT_EQ(ExpandTwoDigitYear(7), 2107);
}

TEST_F(ListingTest, ShortDosLinesDoNotReadPastTheirEnd) {
  auto items = Parse(fmtDos, {"01", "01-15-02", "01-15-02  03:45PM", "01-15-02  03:45PM  <DIR>"});
  ASSERT_EQ(items.Count(), 4u);
  EXPECT_EQ(items.Item(1).EntryName, "");
  EXPECT_EQ(items.Item(3).Kind, ikDirectory);
  EXPECT_EQ(items.Item(3).EntryName, "");
}

// Lines as the two real servers of the tests send them for LIST.
TEST_F(ListingTest, RealServerLines) {
  const std::vector<std::vector<std::string>> listings = {
      {// pyftpdlib
       "-rw-r--r--   1 root     root            3 Dec 08 01:09 a file.txt",
       "-rw-r--r--   1 root     root       123456 Dec 08 01:09 big.bin",
       "lrwxrwxrwx   1 root     root            7 Dec 08 01:09 ln -> big.bin",
       "-rw-r--r--   1 root     root            0 Mar 01  2001 old.txt",
       "drwxr-xr-x   2 root     root         4096 Dec 08 01:09 sub dir"},
      {// vsftpd
       "-rw-r--r--    1 0        0               3 Dec 08 01:09 a file.txt",
       "-rw-r--r--    1 0        0          123456 Dec 08 01:09 big.bin",
       "lrwxrwxrwx    1 0        0               7 Dec 08 01:09 ln -> big.bin",
       "-rw-r--r--    1 0        0               0 Mar 01  2001 old.txt",
       "drwxr-xr-x    2 0        0            4096 Dec 08 01:09 sub dir"}};
  for (const auto& lines : listings) {
    TNetFTPListItems items;
    items.ListFormat = TNetFTPListItems::DetectListFormat(lines[0], true);
    ASSERT_EQ(items.ListFormat, fmtUnix);
    items.ParseListing(lines);
    ASSERT_EQ(items.Count(), 5u) << lines[0];
    EXPECT_EQ(items.Item(0).EntryName, "a file.txt");
    EXPECT_EQ(items.Item(1).EntrySize, 123456);
    EXPECT_EQ(items.Item(2).Kind, ikLink);
    EXPECT_EQ(items.Item(2).LinkTarget, "big.bin");
    ExpectDate(items.Item(3).Modified, 2001, 3, 1, 0, 0, 0, 999);
    EXPECT_EQ(items.Item(4).Kind, ikDirectory);
    EXPECT_EQ(items.Item(4).EntryName, "sub dir");
    // December lies after June: last year.
    ExpectDate(items.Item(0).Modified, 2025, 12, 8, 1, 9, 0, 999);
  }
}

}  // namespace

// The session's directory listing: built once from the listing lines, through its events.
namespace {

class CountingItems : public TNetFTPListItems {};

TEST_F(ListingTest, SessionListingUsesItsEventsAndIsBuiltOnce) {
  TNetFTP ftp;
  TNetFTPListItems* supplied = nullptr;
  std::string checkedLine;
  ftp.OnCreateFTPList = [&](TNetFTP* sender, std::unique_ptr<TNetFTPListItems>& list) {
    EXPECT_EQ(sender, &ftp);
    list = std::make_unique<CountingItems>();
    supplied = list.get();
  };
  ftp.OnCheckListFormat = [&](TNetFTP*, const std::string& line, TNetFTPListFormat& format) {
    checkedLine = line;
    EXPECT_EQ(format, fmtUnix);
    format = fmtCustom;
  };
  ftp.SetOnParseCustomListFormat([](TNetFTPListItem& item) { item.EntryName = "custom:" + item.Line; });
  ASSERT_NE(supplied, nullptr) << "setting the custom parser creates the collection";
  ftp.ListResult = {"-rw-r--r-- 1 u g 1 Jan 1 2001 a", "-rw-r--r-- 1 u g 1 Jan 1 2001 b"};
  TNetFTPListItems& items = ftp.DirectoryListing();
  EXPECT_EQ(&items, supplied);
  EXPECT_EQ(checkedLine, ftp.ListResult[0]);
  EXPECT_EQ(items.ListFormat, fmtCustom);
  ASSERT_EQ(items.Count(), 2u);
  EXPECT_EQ(items.Item(1).EntryName, "custom:-rw-r--r-- 1 u g 1 Jan 1 2001 b");
  // Later accesses give the same collection unchanged.
  ftp.ListResult.clear();
  EXPECT_EQ(ftp.DirectoryListing().Count(), 2u);
}

TEST_F(ListingTest, SessionWithoutListingLinesHasAnEmptyListing) {
  TNetFTP ftp;
  bool checked = false;
  ftp.OnCheckListFormat = [&](TNetFTP*, const std::string&, TNetFTPListFormat&) { checked = true; };
  EXPECT_EQ(ftp.DirectoryListing().Count(), 0u);
  EXPECT_FALSE(checked);
}

}  // namespace
