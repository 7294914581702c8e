// Numeric replies: code rules, copying, parsing reply lines, accepted-code checks.
#include <gtest/gtest.h>

#include "ftp/net_rfc_reply.h"

using namespace skelder::ftp;

TEST(RFCReply, TextCodeAndNumericCodeFollowEachOther) {
  TNetRFCReply r;
  r.SetTextCode("226");
  EXPECT_EQ(r.NumericCode(), 226);
  r.SetTextCode("abc");
  EXPECT_EQ(r.NumericCode(), 0);
  EXPECT_EQ(r.TextCode(), "abc");
  r.SetNumericCode(331);
  EXPECT_EQ(r.TextCode(), "331");
  // Zero or less leaves the text alone; an empty text leaves the number alone.
  r.SetNumericCode(0);
  EXPECT_EQ(r.TextCode(), "331");
  r.SetNumericCode(150);
  r.SetTextCode("");
  EXPECT_EQ(r.NumericCode(), 150);
}

TEST(RFCReply, AssignReplacesEverythingAndClearEmpties) {
  TNetRFCReply a, b;
  a.SetTextCode("250");
  a.Text = {"one", "two"};
  b.SetTextCode("500");
  b.Text = {"old", "older", "oldest"};
  b = a;
  EXPECT_EQ(b.NumericCode(), 250);
  EXPECT_EQ(b.TextCode(), "250");
  EXPECT_EQ(b.Text, (std::vector<std::string>{"one", "two"}));
  b.Assign(b);  // self-assignment keeps the content
  EXPECT_EQ(b.Text.size(), 2u);
  EXPECT_EQ(b.JoinedText(), "one\r\ntwo\r\n");
  b.Clear();
  EXPECT_EQ(b.NumericCode(), 0);
  EXPECT_TRUE(b.Text.empty());
  EXPECT_TRUE(b.TextCode().empty());
}

TEST(RFCReply, ParsingTakesTheCodeOfTheFirstLineAndTextFromTheFifthCharacter) {
  TNetRFCReply r;
  ParseReplyLines({"220-Welcome", "220-more", "220 ready"}, r);
  EXPECT_EQ(r.NumericCode(), 220);
  EXPECT_EQ(r.Text, (std::vector<std::string>{"Welcome", "more", "ready"}));

  ParseReplyLines({"200"}, r);
  EXPECT_EQ(r.NumericCode(), 200);
  EXPECT_EQ(r.TextCode(), "200");
  EXPECT_EQ(r.Text, (std::vector<std::string>{""}));

  ParseReplyLines({"abc def"}, r);
  EXPECT_EQ(r.NumericCode(), 0);
  EXPECT_EQ(r.TextCode(), "abc");
  EXPECT_EQ(r.Text, (std::vector<std::string>{"def"}));

  // Short lines contribute empty text and never read past their end.
  ParseReplyLines({"1", "", "12345"}, r);
  EXPECT_EQ(r.NumericCode(), 1);
  EXPECT_EQ(r.Text, (std::vector<std::string>{"", "", "5"}));
}

TEST(ReplyCodes, EmptyAcceptsAllAndCodesCompareAs16Bit) {
  TNetReplyCodes all;
  EXPECT_TRUE(all.Empty());
  TNetReplyCodes minusOne(-1);
  EXPECT_TRUE(minusOne.Empty());
  TNetReplyCodes braces = {};
  EXPECT_TRUE(braces.Empty());
  TNetReplyCodes single = 200;
  EXPECT_TRUE(single.Contains(200));
  EXPECT_FALSE(single.Contains(201));
  EXPECT_TRUE(single.Contains(200 + 65536));  // wraps onto 200 as a 16-bit value
  TNetReplyCodes list = {230, 331};
  EXPECT_TRUE(list.Contains(331));
  EXPECT_FALSE(list.Contains(0));
}
