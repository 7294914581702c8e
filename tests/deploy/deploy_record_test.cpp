#include "deploy/deploy_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/exception.h"
#include "test_support.h"

namespace skelder::deploy {
namespace {

using Lines = std::vector<std::string>;

TEST(DeployRecordTest, ReadsAnyLineEndAndWritesCrLf) {
  auto record = TDeployRecord::FromText("1=10\r2=20\n3=30\r\n4=40\n\r5=50");
  EXPECT_EQ(record.Lines(), (Lines{"1=10", "2=20", "3=30", "4=40", "", "5=50"}));
  EXPECT_EQ(record.Age(5), 50);
  EXPECT_EQ(record.ToText(), "1=10\r\n2=20\r\n3=30\r\n4=40\r\n\r\n5=50\r\n");
}

TEST(DeployRecordTest, GarbageLinesStayInTheirPlaces) {
  auto record = TDeployRecord::FromText("# header\r\n7=100\njunk without equals\r\n=5\r\n 7=1\r\n8=x\r\n");
  EXPECT_EQ(record.Age(7), 100);
  // " 7" is not "7": no trimming.
  record.SetAge(7, 200);
  record.SetAge(9, 300);
  EXPECT_EQ(record.Lines(), (Lines{"# header", "7=200", "junk without equals", "=5", " 7=1", "8=x", "9=300"}));
}

TEST(DeployRecordTest, FirstMatchWinsForLookupAndUpdate) {
  auto record = TDeployRecord::FromText("3=1\r\n3=2\r\n");
  EXPECT_EQ(record.Age(3), 1);
  record.SetAge(3, 9);
  EXPECT_EQ(record.Lines(), (Lines{"3=9", "3=2"}));
  // An appended entry is found by later lookups, and it does not hide an earlier one.
  record.SetAge(4, 1);
  record.SetAge(4, 2);
  EXPECT_EQ(record.Lines(), (Lines{"3=9", "3=2", "4=2"}));
}

TEST(DeployRecordTest, ValuesThatAreNotNumbersReadAsZero) {
  auto record = TDeployRecord::FromText("1=\r\n2=12a\r\n3= 5\r\n4=99999999999\r\n5=-2147483648\r\n6=+7\r\n7=-\r\n");
  EXPECT_EQ(record.Age(1), 0);
  EXPECT_EQ(record.Age(2), 0);
  EXPECT_EQ(record.Age(3), 0);
  EXPECT_EQ(record.Age(4), 0);
  EXPECT_EQ(record.Age(5), -2147483648);
  EXPECT_EQ(record.Age(6), 7);
  EXPECT_EQ(record.Age(7), 0);
  EXPECT_EQ(record.Age(8), 0);
  EXPECT_EQ(record.Value(2), "12a");
  EXPECT_FALSE(record.Value(8).has_value());
}

TEST(DeployRecordTest, OnlyTheIdsExactDecimalTextMatches) {
  auto record = TDeployRecord::FromText("-4=11\r\n07=1\r\n+7=2\r\n-0=3\r\n7 =4\r\n0=5\r\n");
  EXPECT_EQ(record.Age(-4), 11);
  EXPECT_EQ(record.Age(4), 0);
  EXPECT_EQ(record.Age(7), 0);
  EXPECT_EQ(record.Age(0), 5);
  record.SetAge(7, 9);
  EXPECT_EQ(record.Lines().back(), "7=9");
  EXPECT_EQ(record.Count(), 7u);
}

TEST(SendOrSkipTest, DecidesByRecordedAndCurrentAge) {
  auto record = TDeployRecord::FromText("1=100\r\n2=100\r\n3=100\r\n4=0\r\n5=-1\r\n6=abc\r\n");
  TCurrentAges ages;
  ages.Add(1, 100);  // same: skip
  ages.Add(2, 50);   // recorded newer than the file: skip, and the entry is lowered
  ages.Add(3, 101);  // changed: send
  ages.Add(4, 5);    // "0" never skips
  ages.Add(5, -1);   // missing after check-out, recorded as missing: skip
  ages.Add(6, 7);    // unreadable entry: send
  ages.Add(7, -1);   // no entry: send
  EXPECT_FALSE(ShouldSend(record, ages, 1));
  EXPECT_FALSE(ShouldSend(record, ages, 2));
  EXPECT_TRUE(ShouldSend(record, ages, 3));
  EXPECT_TRUE(ShouldSend(record, ages, 4));
  EXPECT_FALSE(ShouldSend(record, ages, 5));
  EXPECT_TRUE(ShouldSend(record, ages, 6));
  EXPECT_TRUE(ShouldSend(record, ages, 7));
  EXPECT_EQ(record.Age(2), 50);
  // A file that is sent keeps its old entry until the target records the success.
  EXPECT_EQ(record.Age(3), 100);
  EXPECT_EQ(record.Value(6), "abc");
}

TEST(SendOrSkipTest, FileWithoutCurrentAgeCountsAsZero) {
  auto record = TDeployRecord::FromText("1=-5\r\n2=3\r\n");
  TCurrentAges ages;
  // Recorded -5 >= current 0 is false: sent. Recorded 3 >= 0: skipped and set to 0.
  EXPECT_TRUE(ShouldSend(record, ages, 1));
  EXPECT_FALSE(ShouldSend(record, ages, 2));
  EXPECT_EQ(record.Lines(), (Lines{"1=-5", "2=0"}));
}

TEST(SendOrSkipTest, UnreadableEntryIsUpdatedInItsPlaceAfterSending) {
  auto record = TDeployRecord::FromText("12=garbage\r\n13=1\r\n");
  ASSERT_TRUE(ShouldSend(record, 12, 500));
  record.SetAge(12, 500);
  EXPECT_EQ(record.Lines(), (Lines{"12=500", "13=1"}));
}

TEST(CurrentAgesTest, FirstEntryOfAFileWins) {
  TCurrentAges ages;
  ages.Add(1, 10);
  ages.Add(1, 20);
  EXPECT_EQ(ages.Age(1), 10);
  EXPECT_EQ(ages.Lines(), (Lines{"1=10", "1=20"}));
}

class DeployRecordFileTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(DeployRecordFileTest, MissingOrDirectoryReadsEmpty) {
  EXPECT_EQ(TDeployRecord::ReadFile(dir_ / "XRDeploy.dat").Count(), 0u);
  test::MakeDirs(dir_ / "XRDeploy.dat");
  EXPECT_EQ(TDeployRecord::ReadFile(dir_ / "XRDeploy.dat").Count(), 0u);
}

TEST_F(DeployRecordFileTest, WriteIntoADirectoryFailsClearly) {
  test::MakeDirs(dir_ / "XRDeploy.dat");
  auto record = TDeployRecord::FromText("1=2\r\n");
  try {
    record.WriteFile(dir_ / "XRDeploy.dat");
    FAIL() << "writing over a directory must fail";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("XRDeploy.dat"), std::string::npos) << e.what();
  }
  EXPECT_THROW(record.WriteFile(dir_ / "missing/XRDeploy.dat"), Exception);
}

TEST_F(DeployRecordFileTest, RoundTripKeepsMixedLinesAndWritesCrLf) {
  const std::string path = dir_ / "XRDeploy.dat";
  test::WriteFile(path, "1=5\nnoise\r2=6\r\n\n3=x");
  auto record = TDeployRecord::ReadFile(path);
  record.SetAge(3, 7);
  record.SetAge(4, 8);
  record.WriteFile(path);
  EXPECT_EQ(test::ReadFile(path), "1=5\r\nnoise\r\n2=6\r\n\r\n3=7\r\n4=8\r\n");
  // Writing an empty record leaves an empty file, not a stale one.
  TDeployRecord().WriteFile(path);
  EXPECT_EQ(test::ReadFile(path), "");
}

}  // namespace
}  // namespace skelder::deploy
