// How a certificate's fingerprint is written and how a list of them is read from the notes:
// the neutral half of the TLS seam, the same on every platform.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "net/tls.h"

namespace skelder::net {
namespace {

TSha256 Counting() {
  TSha256 f{};
  for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<uint8_t>(i * 8 + 1);  // 01 09 11 ... F9
  return f;
}

constexpr char kCountingText[] =
    "01:09:11:19:21:29:31:39:41:49:51:59:61:69:71:79:81:89:91:99:A1:A9:B1:B9:C1:C9:D1:D9:E1:E9:F1:F9";

TEST(TlsFingerprint, TextIsUpperCaseBytePairsWithColons) {
  EXPECT_EQ(FingerprintText(Counting()), kCountingText);
  std::string zeros = "00";
  for (int i = 1; i < 32; ++i) zeros += ":00";
  EXPECT_EQ(FingerprintText(TSha256{}), zeros);
}

TEST(TlsFingerprint, ListsAreReadInEveryWrittenForm) {
  const std::string colons = kCountingText;
  std::string bare;
  for (char c : colons)
    if (c != ':') bare += c;
  std::string lower;
  for (char c : colons) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  TSha256 zeros{};
  struct Case {
    std::string text;
    std::vector<TSha256> expected;
  };
  const Case cases[] = {
      {"", {}},
      {" , ,", {}},
      {colons, {Counting()}},
      {bare, {Counting()}},
      {lower, {Counting()}},
      {" " + colons + " ,\t" + std::string(64, '0') + " ,", {Counting(), zeros}},
      {bare + "," + bare, {Counting(), Counting()}},
  };
  for (const Case& c : cases) {
    std::vector<TSha256> got = {zeros};  // replaced, never appended to
    std::string problem = "stale";
    EXPECT_TRUE(ParseFingerprints(c.text, got, problem)) << c.text << ": " << problem;
    EXPECT_EQ(got, c.expected) << c.text;
    EXPECT_EQ(problem, "") << c.text;
  }
}

TEST(TlsFingerprint, AnythingElseIsRefusedWithTheFirstWrongItemQuoted) {
  const std::string good = kCountingText;
  std::string bare;
  for (char c : good)
    if (c != ':') bare += c;
  const std::string sha1(40, 'A');
  const std::string cases[] = {
      bare.substr(0, 62),                        // one byte short
      bare + "00",                               // one byte long
      bare.substr(0, 63) + "G",                  // not a hexadecimal digit
      good.substr(0, 94) + ":",                  // a colon where the last digit belongs
      good.substr(0, 2) + good.substr(3) + "0",  // a colon missing, the length kept
      std::string("01-") + good.substr(3),       // another separator
      sha1,                                      // a SHA-1 fingerprint
      "SHA256:" + bare,                          // a prefix
  };
  for (const std::string& wrong : cases) {
    std::vector<TSha256> got;
    std::string problem;
    EXPECT_FALSE(ParseFingerprints(good + "," + wrong + ",also-wrong", got, problem)) << wrong;
    EXPECT_TRUE(got.empty()) << wrong;
    EXPECT_EQ(problem,
              "'" + wrong + "' is not a SHA-256 fingerprint (64 hexadecimal digits, colons between byte pairs allowed)")
        << wrong;
  }
  // A long item is quoted by its start only.
  std::vector<TSha256> got;
  std::string problem;
  EXPECT_FALSE(ParseFingerprints(std::string(5000, 'x'), got, problem));
  EXPECT_EQ(problem.substr(0, 105), "'" + std::string(100, 'x') + "...'");
}

}  // namespace
}  // namespace skelder::net
