#include "fulltext/MakeIdxStr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using fulltext::MakeIdxStr;

namespace {

// Labels as the tables store them: Windows-1252.
TEST(MakeIdxStr, LabelsOfTheHost) {
  EXPECT_EQ(MakeIdxStr("Erl\xF6se 19 % USt", false), "ERLOESE n19n % UST");
  EXPECT_EQ(MakeIdxStr("Bank 1.200,50", false), "BANK n1npn200npn50n");
  EXPECT_EQ(MakeIdxStr("Umsatzsteuer 16%", false), "UMSATZSTEUER n16n%");
  EXPECT_EQ(MakeIdxStr("Vorsteuer 7%   ", false), "VORSTEUER n7n%") << "field padding";
  EXPECT_EQ(MakeIdxStr("Kasse  Bank   Post", false), "KASSE BANK POST");
  EXPECT_EQ(MakeIdxStr("  Kasse", false), " KASSE") << "a leading run shrinks to one blank";
  EXPECT_EQ(MakeIdxStr("   ", false), "");
  EXPECT_EQ(MakeIdxStr("", false), "");
}

TEST(MakeIdxStr, CharacterRules) {
  EXPECT_EQ(MakeIdxStr("\xC4\xE4\xD6\xF6\xDC\xFC\xDF", false), "AEAEOEOEUEUESS");
  EXPECT_EQ(MakeIdxStr("01.07.2020", false), "n01npn07npn2020n");
  EXPECT_EQ(MakeIdxStr("12:30", false), "n12npn30n");
  EXPECT_EQ(MakeIdxStr("a-b/c\\d", false), "AsBsCsD");
  EXPECT_EQ(MakeIdxStr("SKR03", false), "SKRn03n");
  EXPECT_EQ(MakeIdxStr("caf\xE9 &(x)", false), "CAF\xE9 &(X)") << "other bytes stay";
}

TEST(MakeIdxStr, Wildcards) {
  EXPECT_EQ(MakeIdxStr("Erl*", true), "ERL ");
  EXPECT_EQ(MakeIdxStr("Erl*", false), "ERL*");
  // A "*" next to a digit keeps the run open, so "19*" finds "190".
  EXPECT_EQ(MakeIdxStr("19*", true), "n19 ");
  EXPECT_EQ(MakeIdxStr("*19", true), " 19n");
  EXPECT_EQ(MakeIdxStr("19*", false), "n19n*");
  EXPECT_EQ(MakeIdxStr("*19", false), "*n19n");
}

TEST(MakeIdxStr, BoundedToTheBuffer) {
  const std::size_t max = fulltext::kIdxStrBufferSize - 1;
  EXPECT_EQ(MakeIdxStr(std::string(2000, 'a'), false), std::string(max, 'A'));
  // A rendering that does not fit is left out whole, never split.
  EXPECT_EQ(MakeIdxStr(std::string(max - 1, 'a') + "\xE4", false), std::string(max - 1, 'A'));
  EXPECT_EQ(MakeIdxStr(std::string(max - 2, 'a') + "5", false), std::string(max - 2, 'A'));
  // A cut leaves no trailing blank.
  EXPECT_EQ(MakeIdxStr(std::string(max - 1, 'a') + " b", false), std::string(max - 1, 'A'));

  char dest[fulltext::kIdxStrBufferSize];
  std::memset(dest, '#', sizeof dest);
  MakeIdxStr(dest, std::string(5000, '\xDF').c_str(), false);
  EXPECT_EQ(std::strlen(dest), max - 1) << "511 whole \"SS\"";
}

TEST(MakeIdxStr, TextEndsAtTheFirstNul) {
  EXPECT_EQ(MakeIdxStr(std::string("ab\0cd", 5), false), "AB");
}

}  // namespace
