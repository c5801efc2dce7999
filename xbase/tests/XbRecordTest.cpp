// Raw DBF field bytes <-> typed values, and the German system formats.
#include "xbase/XbRecord.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace xbrec;

namespace {

TFieldInfo Field(char letter, int width, int decimals = 0) {
  TFieldInfo f;
  f.Name = "F";
  f.Letter = letter;
  f.Kind = *KindFromType(letter, width, decimals);
  f.XBEOffset = 1;
  f.Width = width;
  f.Decimals = decimals;
  return f;
}

// A raw record holding `cell` as the only field (after the deletion mark).
std::string Raw(std::string_view cell) { return " " + std::string(cell); }

std::string Written(const TFieldInfo& f, const TFieldValue& v) {
  std::string raw(static_cast<std::size_t>(f.Width) + 1, '#');
  std::string overflow;
  EXPECT_TRUE(WriteField(f, v, raw, &overflow)) << overflow;
  EXPECT_EQ(raw[0], '#') << "the deletion mark is not a field's byte";
  return raw.substr(1);
}

TFieldValue Num(double d) {
  TFieldValue v;
  v.HasValue = true;
  v.Float = d;
  if (std::fabs(d) < 1e9) v.Int = static_cast<std::int32_t>(d);
  return v;
}

}  // namespace

TEST(XbRecord, KindsFollowLetterWidthAndDecimals) {
  EXPECT_EQ(KindFromType('N', 4, 0), fkSmallint);
  EXPECT_EQ(KindFromType('N', 5, 0), fkFloat);  // N(8,0) account numbers are floats
  EXPECT_EQ(KindFromType('N', 3, 1), fkFloat);
  EXPECT_EQ(KindFromType('I', 10, 0), fkInteger);
  EXPECT_EQ(KindFromType('G', 10, 0), fkBlob);
  EXPECT_FALSE(KindFromType('F', 10, 2).has_value());
  EXPECT_FALSE(KindFromType('T', 8, 0).has_value());
}

TEST(XbRecord, TextIsCutPaddedAndTrimmedOnlyAtTheEnd) {
  const TFieldInfo f = Field('C', 6);
  TFieldValue v;
  v.HasValue = true;
  v.Text = "Umsatzsteuer";
  EXPECT_EQ(Written(f, v), "Umsatz");
  v.Text = "  ab";
  EXPECT_EQ(Written(f, v), "  ab  ");
  EXPECT_EQ(ReadField(f, Raw("  ab  ")).Text, "  ab");
  EXPECT_EQ(ReadField(f, Raw("ab\0cd ")).Text, "ab");
  EXPECT_EQ(Written(f, TFieldValue{}), "      ");
  const TFieldValue blank = ReadField(f, Raw("      "));
  EXPECT_TRUE(blank.HasValue);
  EXPECT_EQ(blank.Text, "");
}

TEST(XbRecord, IntegersAreRightAlignedAndOverflowIsReported) {
  const TFieldInfo f = Field('N', 2);
  TFieldValue v;
  v.HasValue = true;
  v.Int = 7;
  EXPECT_EQ(Written(f, v), " 7");
  v.Int = 123;
  std::string raw = "#xy";
  std::string overflow;
  EXPECT_FALSE(WriteField(f, v, raw, &overflow));
  EXPECT_EQ(overflow, "123");
  v.Int = -5;
  EXPECT_EQ(Written(f, v), "-5");
  EXPECT_EQ(Written(f, TFieldValue{}), "  ");

  EXPECT_FALSE(ReadField(f, Raw("  ")).HasValue);
  const TFieldValue junk = ReadField(f, Raw("x1"));
  EXPECT_TRUE(junk.HasValue);
  EXPECT_EQ(junk.Int, 0);
  EXPECT_EQ(ReadField(Field('N', 3), Raw(" 65")).Int, 65);
  EXPECT_EQ(ReadField(Field('I', 11), Raw("-2147483648")).Int, -2147483647 - 1);
}

TEST(XbRecord, FloatsUseAPointOnDiskAndRoundAsTheyRead) {
  const TFieldInfo f82 = Field('N', 8, 2);
  EXPECT_EQ(Written(f82, Num(5)), "    5.00");
  EXPECT_EQ(ReadField(f82, Raw("    5.00")).Float, 5.0);
  EXPECT_EQ(Written(f82, Num(1.005)), "    1.01");
  EXPECT_EQ(Written(f82, Num(-1.005)), "   -1.01");
  EXPECT_EQ(Written(f82, Num(-0.004)), "    0.00");
  EXPECT_EQ(Written(f82, Num(99.995)), "  100.00");
  EXPECT_EQ(Written(f82, Num(-9683.01)), "-9683.01");

  const TFieldInfo f80 = Field('N', 8, 0);
  const TFieldValue konto = ReadField(f80, Raw("    8735"));
  EXPECT_EQ(konto.Float, 8735.0);
  EXPECT_EQ(FormatFloat(konto.Float), "8735");
  EXPECT_EQ(Written(f80, Num(8735)), "    8735");
  EXPECT_EQ(Written(f80, Num(2.5)), "       3");  // half away from zero, as the number reads

  const TFieldInfo f16 = Field('N', 16, 8);
  EXPECT_DOUBLE_EQ(ReadField(f16, Raw("  43420.19800000")).Float, 43420.198);

  // A value wider than its field is refused like an integer, not cut.
  std::string raw(9, ' ');
  std::string overflow;
  EXPECT_FALSE(WriteField(f82, Num(123456.7), raw, &overflow));
  EXPECT_EQ(overflow, "123456.70");
  EXPECT_FALSE(WriteField(f82, Num(INFINITY), raw, &overflow));
  EXPECT_EQ(raw, std::string(9, ' ')) << "a refused value leaves the bytes alone";

  // A "," in a stored number is no separator: the text is not a number.
  EXPECT_EQ(ReadField(f82, Raw("1,234.50")).Float, 0.0);
  EXPECT_TRUE(ReadField(f82, Raw("  abc   ")).HasValue);
  EXPECT_FALSE(ReadField(f82, Raw("        ")).HasValue);
}

TEST(XbRecord, DatesUseTheEpochAndRejectImpossibleDays) {
  const TFieldInfo f = Field('D', 8);
  const std::int32_t julyFirst = *DayFromDate(2020, 7, 1);
  EXPECT_EQ(julyFirst, 44013);
  EXPECT_EQ(*DayFromDate(1899, 12, 30), 0);
  TFieldValue v;
  v.HasValue = true;
  v.Day = julyFirst;
  EXPECT_EQ(Written(f, v), "20200701");
  EXPECT_EQ(ReadField(f, Raw("20200701")).Day, julyFirst);
  EXPECT_EQ(Written(f, TFieldValue{}), "        ");
  EXPECT_FALSE(ReadField(f, Raw("        ")).HasValue);
  EXPECT_FALSE(ReadField(f, Raw("20200231")).HasValue);
  EXPECT_FALSE(ReadField(f, Raw("00000000")).HasValue);
  EXPECT_FALSE(ReadField(f, Raw("2020ab01")).HasValue);

  // Years below 100 move into the hundred years from 1980.
  v.Day = *DayFromDate(20, 7, 1);
  EXPECT_EQ(Written(f, v), "20200701");
  v.Day = *DayFromDate(85, 1, 2);
  EXPECT_EQ(Written(f, v), "19850102");

  EXPECT_EQ(ParseDate("01.07.2020"), julyFirst);
  EXPECT_EQ(ParseDate(" 1.7.20 "), julyFirst);
  EXPECT_EQ(ParseDate("1.7.79"), *DayFromDate(2079, 7, 1));
  EXPECT_EQ(ParseDate("1.7.80"), *DayFromDate(1980, 7, 1));
  EXPECT_FALSE(ParseDate("2020-07-01"));
  EXPECT_FALSE(ParseDate("31.02.2020"));
  EXPECT_FALSE(ParseDate("1.7."));
  EXPECT_EQ(FormatDate(julyFirst), "01.07.2020");
  EXPECT_EQ(FormatDateTime(julyFirst + 0.5), "01.07.2020 12:00:00");
  EXPECT_EQ(FormatDateTime(julyFirst), "01.07.2020");
}

TEST(XbRecord, BooleansTakeOnlyUpperCaseTrue) {
  const TFieldInfo f = Field('L', 1);
  EXPECT_TRUE(ReadField(f, Raw("T")).Bool);
  EXPECT_TRUE(ReadField(f, Raw("Y")).Bool);
  const TFieldValue lower = ReadField(f, Raw("t"));
  EXPECT_TRUE(lower.HasValue);
  EXPECT_FALSE(lower.Bool);
  EXPECT_FALSE(ReadField(f, Raw(" ")).HasValue);
  TFieldValue v;
  v.HasValue = true;
  v.Bool = true;
  EXPECT_EQ(Written(f, v), "T");
  v.Bool = false;
  EXPECT_EQ(Written(f, v), "F");
  EXPECT_EQ(Written(f, TFieldValue{}), " ");
}

TEST(XbRecord, MemoReferencesAreKeptAsStored) {
  const TFieldInfo f = Field('M', 10);
  const TFieldValue v = ReadField(f, Raw("        16"));
  EXPECT_TRUE(v.HasValue);
  EXPECT_EQ(Written(f, v), "        16");
  EXPECT_FALSE(ReadField(f, Raw("          ")).HasValue);
}

TEST(XbRecord, GermanNumberTextsWhateverTheLocale) {
  EXPECT_EQ(FormatFloat(5), "5");
  EXPECT_EQ(FormatFloat(0.1), "0,1");
  EXPECT_EQ(FormatFloat(-1.5), "-1,5");
  EXPECT_EQ(FormatFloat(43420.198), "43420,198");
  EXPECT_EQ(FormatFloat(0.00001), "0,00001");
  EXPECT_EQ(FormatFloat(1e20), "1E20");
  EXPECT_EQ(FormatFloat(1.5e-7), "1,5E-7");
  EXPECT_EQ(FormatFloat(123456789012345678.0), "1,23456789012346E17");

  EXPECT_EQ(ParseFloat("1,5"), 1.5);
  EXPECT_EQ(ParseFloat(" -2 "), -2.0);
  EXPECT_EQ(ParseFloat("1,5E3"), 1500.0);
  EXPECT_FALSE(ParseFloat("1.5"));
  EXPECT_FALSE(ParseFloat("1 000"));
  EXPECT_FALSE(ParseFloat("inf"));
  EXPECT_FALSE(ParseFloat(""));
  EXPECT_FALSE(ParseFloat("1,5,"));

  EXPECT_EQ(ParseInteger(" +12 "), 12);
  EXPECT_FALSE(ParseInteger("1,0"));
  EXPECT_FALSE(ParseInteger("++1"));
  EXPECT_FALSE(ParseInteger("99999999999"));

  EXPECT_EQ(RoundToInt(2.5), 2);
  EXPECT_EQ(RoundToInt(3.5), 4);
  EXPECT_EQ(RoundToInt(-2.5), -2);
  EXPECT_FALSE(RoundToInt(3e9));
  EXPECT_FALSE(RoundToInt(NAN));
}
