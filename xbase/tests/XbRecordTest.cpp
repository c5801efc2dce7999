// Raw DBF field bytes <-> typed values, and the German system formats.
#include "xbase/XbRecord.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace xbrec;

namespace {

TFieldInfo Field(char letter, int width, int decimals = 0) {
  return TFieldInfo{"F", letter, *KindFromType(letter, width, decimals), 1, width, decimals};
}

// Reads `cell` as the only field of a record (after the deletion mark).
TFieldValue Read(const TFieldInfo& f, std::string_view cell) { return ReadField(f, " " + std::string(cell)); }

// The field's bytes after writing `v`; "!" + the overflow text when refused.
std::string Write(const TFieldInfo& f, const TFieldValue& v) {
  std::string raw(static_cast<std::size_t>(f.Width) + 1, '#');
  std::string overflow;
  if (!WriteField(f, v, raw, &overflow)) return "!" + overflow;
  EXPECT_EQ(raw[0], '#') << "the deletion mark is not a field's byte";
  return raw.substr(1);
}

TFieldValue Of(double d) { return TFieldValue{true, "", std::fabs(d) < 1e9 ? static_cast<std::int32_t>(d) : 0, d, 0, false}; }
TFieldValue Text(const std::string& s) { return TFieldValue{true, s, 0, 0, 0, false}; }
TFieldValue Day(std::int32_t d) { return TFieldValue{true, "", 0, 0, d, false}; }

}  // namespace

TEST(XbRecord, TextIsCutPaddedAndTrimmedOnlyAtTheEnd) {
  const TFieldInfo f = Field('C', 6);
  EXPECT_EQ(Write(f, Text("Umsatzsteuer")), "Umsatz");
  EXPECT_EQ(Write(f, Text("  ab")), "  ab  ");
  EXPECT_EQ(Write(f, TFieldValue{}), "      ");
  EXPECT_EQ(Read(f, "  ab  ").Text, "  ab");
  EXPECT_EQ(Read(f, std::string_view("ab\0cd ", 6)).Text, "ab");
}

TEST(XbRecord, NumbersAreRightAlignedAndMustFit) {
  EXPECT_EQ(Write(Field('N', 2), Of(7)), " 7");
  EXPECT_EQ(Write(Field('N', 2), Of(123)), "!123");
  EXPECT_FALSE(Read(Field('N', 2), "  ").HasValue);
  EXPECT_EQ(Read(Field('N', 2), "x1").Int, 0) << "not a number reads as 0";
  EXPECT_EQ(Read(Field('I', 11), "-2147483648").Int, -2147483647 - 1);

  const TFieldInfo f82 = Field('N', 8, 2);
  EXPECT_EQ(Write(f82, Of(5)), "    5.00");
  EXPECT_EQ(Read(f82, "    5.00").Float, 5.0);
  EXPECT_EQ(Write(f82, Of(1.005)), "    1.01") << "rounded as the number reads";
  EXPECT_EQ(Write(f82, Of(-0.004)), "    0.00");
  EXPECT_EQ(Write(f82, Of(99.995)), "  100.00");
  // A float wider than its field is refused like an integer, not cut.
  EXPECT_EQ(Write(f82, Of(123456.7)), "!123456.70");
  EXPECT_EQ(Write(f82, Of(INFINITY))[0], '!');
  // A "," in a stored number is no separator: the text is not a number.
  EXPECT_EQ(Read(f82, "1,234.50").Float, 0.0);
  EXPECT_EQ(Read(Field('N', 8), "    8735").Float, 8735.0);
  EXPECT_DOUBLE_EQ(Read(Field('N', 16, 8), "  43420.19800000").Float, 43420.198);
}

TEST(XbRecord, DatesUseTheEpochAndRejectImpossibleDays) {
  const TFieldInfo f = Field('D', 8);
  const std::int32_t julyFirst = *DayFromDate(2020, 7, 1);
  EXPECT_EQ(julyFirst, 44013);
  EXPECT_EQ(Write(f, Day(julyFirst)), "20200701");
  EXPECT_EQ(Read(f, "20200701").Day, julyFirst);
  EXPECT_EQ(Write(f, TFieldValue{}), "        ");
  for (const char* impossible : {"        ", "20200231", "00000000", "2020ab01"})
    EXPECT_FALSE(Read(f, impossible).HasValue) << impossible;
  // Years below 100 move into the hundred years from 1980.
  EXPECT_EQ(Write(f, Day(*DayFromDate(20, 7, 1))), "20200701");
  EXPECT_EQ(Write(f, Day(*DayFromDate(85, 1, 2))), "19850102");
  EXPECT_EQ(ParseDate(" 1.7.20 "), julyFirst);
  EXPECT_EQ(ParseDate("1.7.80"), *DayFromDate(1980, 7, 1));
  EXPECT_FALSE(ParseDate("2020-07-01"));
  EXPECT_FALSE(ParseDate("31.02.2020"));
  EXPECT_EQ(FormatDateTime(julyFirst + 0.5), "01.07.2020 12:00:00");
}

TEST(XbRecord, BooleansTakeOnlyUpperCaseTrue) {
  const TFieldInfo f = Field('L', 1);
  EXPECT_TRUE(Read(f, "Y").Bool);
  EXPECT_TRUE(Read(f, "t").HasValue);
  EXPECT_FALSE(Read(f, "t").Bool);
  EXPECT_FALSE(Read(f, " ").HasValue);
  EXPECT_EQ(Write(f, TFieldValue{}), " ");
}

TEST(XbRecord, GermanNumberTextsWhateverTheLocale) {
  EXPECT_EQ(FormatFloat(-1.5), "-1,5");
  EXPECT_EQ(FormatFloat(43420.198), "43420,198");
  EXPECT_EQ(FormatFloat(0.00001), "0,00001");
  EXPECT_EQ(FormatFloat(1.5e-7), "1,5E-7");
  EXPECT_EQ(FormatFloat(123456789012345678.0), "1,23456789012346E17");
  EXPECT_EQ(ParseFloat(" -1,5E3 "), -1500.0);
  for (const char* bad : {"1.5", "1 000", "inf", "", "1,5,"}) EXPECT_FALSE(ParseFloat(bad)) << bad;
  EXPECT_EQ(ParseInteger(" +12 "), 12);
  EXPECT_FALSE(ParseInteger("99999999999"));
  EXPECT_EQ(RoundToInt(2.5), 2);
  EXPECT_EQ(RoundToInt(3.5), 4);
  EXPECT_FALSE(RoundToInt(3e9));
}
