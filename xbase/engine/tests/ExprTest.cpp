#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "Dbf.h"
#include "ExprTestRecord.h"
#include "Expression.h"
#include "ValueText.h"
#include "cdx/CdxKeyMaker.h"
#include "expr/Format.h"

namespace xbe {
namespace {

using test::TestRecord;

TestRecord KontoRecord() {
  TestRecord r({{"KNT_NR", 'N', 8, 0},
                {"BEZ", 'C', 20, 0},
                {"BETRAG", 'N', 10, 2},
                {"AB", 'D', 8, 0},
                {"AKTIV", 'L', 1, 0},
                {"TYP", 'C', 2, 0},
                {"NOTIZ", 'M', 10, 0},
                {"ZAHL", 'I', 4, 0}});
  r.Set("KNT_NR", "8400");
  r.Set("BEZ", "Erl\xF6se 19% ");
  r.Set("BETRAG", "-3.25");
  r.Set("AB", "20200701");
  r.Set("AKTIV", "T");
  r.Set("TYP", "E");
  r.SetRaw("ZAHL", std::string("\xF9\xFF\xFF\xFF", 4));
  return r;
}

// Compiles and evaluates; the text form of the result, or "ERR: ..."
std::string Eval(const RecordAccess& r, const std::string& text) {
  std::string error;
  auto e = Expression::Compile(text, r, &error);
  if (!e) return "ERR: " + error;
  Value v;
  if (!e->Evaluate(r, v, &error)) return "EVALERR: " + error;
  EXPECT_EQ(v.type, e->Type()) << text;
  return ValueToText(v);
}

TEST(ExprTest, KeyExpressionsOfHostIndexes) {
  const TestRecord r = KontoRecord();
  EXPECT_EQ(Eval(r, "KNT_NR"), "    8400");
  EXPECT_EQ(Eval(r, "Upper( BEZ )"), "ERL\xF6SE 19%          ");  // only a-z change
  EXPECT_EQ(Eval(r, "TYP + Str( KNT_NR, 8 )"), "E     8400");
  EXPECT_EQ(Eval(r, "DToS( AB ) + Str( KNT_NR, 8 )"), "20200701    8400");
  EXPECT_EQ(Eval(r, "Upper( Left( BEZ, 10 ) )"), "ERL\xF6SE 19%");
  EXPECT_EQ(Eval(r, "konto->knt_nr"), "    8400");
  EXPECT_EQ(Eval(r, "FIELD->BEZ"), "Erl\xF6se 19%          ");
  EXPECT_EQ(Eval(r, "AKTIV"), "T");
  EXPECT_EQ(Eval(r, "BETRAG"), "     -3.25");
  EXPECT_EQ(Eval(r, "ZAHL"), "        -7");
  EXPECT_EQ(Eval(r, "NOTIZ"), "          ");
  EXPECT_EQ(Eval(r, "SUBS(BEZ, 1, 3) + ALLT(TYP)"), "ErlE");
}

TEST(ExprTest, StrWidthDecimalsRoundingOverflow) {
  const TestRecord r = KontoRecord();
  EXPECT_EQ(Eval(r, "STR(KNT_NR)"), "    8400");
  EXPECT_EQ(Eval(r, "STR(BETRAG)"), "     -3.25");
  EXPECT_EQ(Eval(r, "STR(KNT_NR+1)"), "      8401");
  EXPECT_EQ(Eval(r, "STR(KNT_NR*1.5)"), "     12600.0");
  EXPECT_EQ(Eval(r, "STR(12.5,4,0)"), "  13");
  EXPECT_EQ(Eval(r, "STR(-0.5,4,0)"), "  -1");
  EXPECT_EQ(Eval(r, "STR(1.005,4,2)"), "1.01");
  EXPECT_EQ(Eval(r, "STR(-0.004,5,2)"), " 0.00");
  EXPECT_EQ(Eval(r, "STR(99.995,5,2)"), "*****");
  EXPECT_EQ(Eval(r, "STR(12345678901,8)"), "********");
  EXPECT_EQ(Eval(r, "STR(-4,8)"), "      -4");
  EXPECT_EQ(Eval(r, "STR(3.7)"), "         3.7");
  EXPECT_EQ(Eval(r, "STR(1000000.01,10,2)"), "1000000.01");
  EXPECT_EQ(Eval(r, "STRZERO(-5,4)"), "-005");
  EXPECT_EQ(Eval(r, "STRZERO(KNT_NR,6)"), "008400");
  EXPECT_EQ(expr::FormatStr(1e300, 10, 2), "**********");
  EXPECT_EQ(expr::FormatStr(0.0 / 1.0, 3, 0), "  0");
}

// Whole numbers and plain decimal text take short cuts; both must give
// exactly what the general digit formatting gives.
TEST(ExprTest, NumberShortCutsMatchTheGeneralFormatting) {
  std::mt19937 rng(7);
  const double wholes[] = {0, 1, -1, 9, 10, -10, 99999999, -9999999, 123456789012345.0,
                           -123456789012345.0, 1e15, 4294967296.0};
  for (int round = 0; round < 2000; ++round) {
    const double v = round < 12 ? wholes[round]
                                : static_cast<double>(static_cast<std::int64_t>(rng() % 2000000000) -
                                                      1000000000) / (round % 2 ? 1 : 1000);
    if (v != static_cast<double>(static_cast<std::int64_t>(v))) continue;
    for (int width : {1, 3, 8, 10, 20}) {
      for (int dec : {0, 1, 2}) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%*.*f", width, dec, v);
        std::string want = buf;
        if (static_cast<int>(want.size()) > width) want.assign(static_cast<std::size_t>(width), '*');
        EXPECT_EQ(expr::FormatStr(v, width, dec), want) << v << " " << width << "," << dec;
      }
    }
  }

  FieldInfo f;
  f.type = 'N';
  const char* texts[] = {"0", "-0", "007", "-5", "12.5", "12.50", "-0.25", "0.001", "1234567890123",
                         "99999999999999", "1.005", "-12.345", "+3", ".5", "5.", "1e3", "12a",
                         "-", "0.0", "-0.0", "100000000000000000"};
  for (const char* text : texts) {
    for (int width : {1, 4, 8, 14, 20}) {
      for (int dec : {0, 2, 3}) {
        if (dec > 0 && dec > width - 2) continue;
        f.width = width;
        f.decimals = dec;
        std::string got, error;
        const bool ok = FieldBytesFromText(f, text, got, &error);
        // The general rule: a number strtod takes whole, printed by printf.
        char* end = nullptr;
        const double v = std::strtod(text, &end);
        if (end == text || *end != '\0') {
          EXPECT_FALSE(ok) << text;
          continue;
        }
        char buf[64];
        std::snprintf(buf, sizeof buf, "%*.*f", width, dec, v);
        if (static_cast<int>(std::string(buf).size()) > width) {
          EXPECT_FALSE(ok) << text << " in " << width << "," << dec;
          continue;
        }
        ASSERT_TRUE(ok) << text << ": " << error;
        EXPECT_EQ(got, buf) << text << " in " << width << "," << dec;
      }
    }
  }
}

TEST(ExprTest, StringOperatorsAndFunctions) {
  const TestRecord r = KontoRecord();
  EXPECT_EQ(Eval(r, "\"ALPHA     \" - \"X\""), "ALPHAX     ");
  EXPECT_EQ(Eval(r, "'a' + [b] + \"c\""), "abc");
  EXPECT_EQ(Eval(r, "SUBSTR('ABCDEFGHIJ', 9, 5)"), "IJ");
  EXPECT_EQ(Eval(r, "SUBSTR('ABCDEF', -2)"), "EF");
  EXPECT_EQ(Eval(r, "SUBSTR('ABCDEF', 0, 2)"), "AB");
  EXPECT_EQ(Eval(r, "SUBSTR('ABC', 7)"), "");
  EXPECT_EQ(Eval(r, "RIGHT('ABCDEF', 2) + LEFT('ABC', 99)"), "EFABC");
  EXPECT_EQ(Eval(r, "'[' + TRIM('  a  ') + '|' + LTRIM('  a  ') + '|' + ALLTRIM('  a  ') + ']'"), "[  a|a  |a]");
  EXPECT_EQ(Eval(r, "PADL('ab', 4) + PADR('ab', 4, '*') + PADL('abcdef', 3)"), "  abab**def");
  EXPECT_EQ(Eval(r, "PADL(KNT_NR, 6, '0')"), "008400");
  EXPECT_EQ(Eval(r, "LOWER('\xC4" "BC')"), "\xC4" "bc");
  EXPECT_EQ(Eval(r, "VAL('  12.50xyz') * 2"), "        25.00");
  EXPECT_EQ(Eval(r, "STR(VAL('-3'))"), "        -3");
  EXPECT_EQ(Eval(r, "REPLICATE('ab', 3) + SPACE(2) + '|'"), "ababab  |");
  EXPECT_EQ(Eval(r, "STR(LEN(BEZ), 3)"), " 20");
}

TEST(ExprTest, DatesAndDateArithmetic) {
  const TestRecord r = KontoRecord();
  EXPECT_EQ(Eval(r, "DTOS({^2020-07-01})"), "20200701");
  EXPECT_EQ(Eval(r, "DTOC(AB)"), "01.07.2020");
  EXPECT_EQ(Eval(r, "DTOS(CTOD('31.12.2020'))"), "20201231");
  EXPECT_EQ(Eval(r, "DTOS(CTOD('1.1.85'))"), "19850101");
  EXPECT_EQ(Eval(r, "DTOS(CTOD('1.1.20'))"), "20200101");
  EXPECT_EQ(Eval(r, "DTOS(CTOD('31.02.2020'))"), "        ");
  EXPECT_EQ(Eval(r, "DTOC(CTOD(''))"), "  .  .    ");
  EXPECT_EQ(Eval(r, "DTOS(AB + 31)"), "20200801");
  EXPECT_EQ(Eval(r, "DTOS(AB - 1)"), "20200630");
  EXPECT_EQ(Eval(r, "STR({^2021-01-01} - AB, 4)"), " 184");
  EXPECT_EQ(Eval(r, "STR(YEAR(AB),4) + STR(MONTH(AB),3) + STR(DAY(AB),3)"), "2020  7  1");
  EXPECT_EQ(Eval(r, "DTOS({^2000-02-29})"), "20000229");

  TestRecord blank = KontoRecord();
  blank.Set("AB", "");
  EXPECT_EQ(Eval(blank, "DTOS(AB)"), "        ");
  EXPECT_EQ(Eval(blank, "EMPTY(AB)"), "T");
  EXPECT_EQ(Eval(blank, "YEAR(AB)"), "         0");
  blank.Set("AB", "20201341");  // not a calendar date: empty
  EXPECT_EQ(Eval(blank, "EMPTY(AB)"), "T");

  EXPECT_EQ(JdnFromYmd(2000, 1, 1), 2451545);
  EXPECT_EQ(JdnFromYmd(1899, 12, 30), 2415019);
  for (std::int64_t j : {2415019, 2451544, 2451604, 2460325, 1721426, 5373484}) {
    int y, m, d;
    YmdFromJdn(j, y, m, d);
    EXPECT_EQ(JdnFromYmd(y, m, d), j);
  }
}

TEST(ExprTest, ComparisonsAndLogic) {
  TestRecord r = KontoRecord();
  EXPECT_EQ(Eval(r, "'ABC' = 'AB'"), "T");  // SET EXACT off: right side as prefix
  EXPECT_EQ(Eval(r, "'AB' = 'ABC'"), "F");
  EXPECT_EQ(Eval(r, "'ABC' == 'AB'"), "F");
  EXPECT_EQ(Eval(r, "'AB' == 'AB'"), "T");
  EXPECT_EQ(Eval(r, "'ABC' <> 'AB' .OR. 'ABC' # 'X' .AND. 'A' != 'A'"), "F");
  EXPECT_EQ(Eval(r, "'a' > 'B'"), "T");  // machine order
  EXPECT_EQ(Eval(r, "'\xC4' > 'z'"), "T");  // unsigned bytes
  EXPECT_EQ(Eval(r, "'19%' $ BEZ"), "T");
  EXPECT_EQ(Eval(r, "KNT_NR >= 8400 .AND. KNT_NR < 8401 .AND. BETRAG <= -3.25"), "T");
  EXPECT_EQ(Eval(r, "AB > {^2020-06-30} .and. .not. AB > {^2020-07-01}"), "T");
  EXPECT_EQ(Eval(r, "!AKTIV .OR. .F."), "F");
  EXPECT_EQ(Eval(r, ".NOT. KNT_NR = 1"), "T");
  EXPECT_EQ(Eval(r, "AKTIV = .Y. .AND. .N. = .F."), "T");
  EXPECT_EQ(Eval(r, "IIF(AKTIV, 'ja', 'no')"), "ja");
  EXPECT_EQ(Eval(r, "IIF(KNT_NR > 9000, 1, 2) + 1"), "         3");
  EXPECT_EQ(Eval(r, "2 + 3 * 4 - 10 / 4"), "        11.50");
  EXPECT_EQ(Eval(r, "-(2 - 5) * 2"), "         6");
  EXPECT_EQ(Eval(r, "STR(RECNO(), 3) + IIF(DELETED(), '*', ' ')"), "  1 ");
  r.SetRecNo(17);
  r.SetDeleted(true);
  EXPECT_EQ(Eval(r, "STR(RECNO(), 3) + IIF(DELETED(), '*', ' ')"), " 17*");
  r.Set("AKTIV", "y");
  EXPECT_EQ(Eval(r, "AKTIV"), "T");
  r.Set("AKTIV", " ");
  EXPECT_EQ(Eval(r, "AKTIV"), "F");
}

TEST(ExprTest, UpperAndLowerChangeAsciiLettersOnlyAtEveryPosition) {
  // Every byte value at every place of a word (the functions work eight
  // bytes at a time) against the byte-wise rule.
  TestRecord r({{"T", 'C', 19, 0}});
  for (int start = 1; start < 256; start += 16) {
    std::string raw;
    for (int b = start; b < start + 19; ++b) raw.push_back(static_cast<char>(b % 255 + 1));
    r.SetRaw("T", raw);
    std::string upper = raw, lower = raw;
    for (char& c : upper)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    EXPECT_EQ(Eval(r, "UPPER(T)"), upper) << start;
    EXPECT_EQ(Eval(r, "LOWER(T)"), lower) << start;
  }
}

TEST(ExprTest, StoredNumbersParseExactly) {
  TestRecord r({{"N", 'N', 20, 10}});
  // Each must give the correctly rounded double of its text.
  for (const char* text : {"0.1", "-0.3", "1000000.01", "123456789.0123456789", "  -.5",
                           "999999999999999", "1234567890123456789", "-0", "  -42", "007"}) {
    r.Set("N", text);
    auto e = Expression::Compile("N", r, nullptr);
    ASSERT_TRUE(e);
    Value v;
    ASSERT_TRUE(e->Evaluate(r, v, nullptr));
    EXPECT_EQ(v.num, std::strtod(text, nullptr)) << text;
  }
  r.Set("N", "");
  EXPECT_EQ(Eval(r, "N = 0"), "T");
  r.Set("N", "-0.0");
  EXPECT_EQ(Eval(r, "STR(N, 4, 1)"), " 0.0");
}

// Keys joined from fields with "+" are built without the expression engine;
// appending "" keeps an expression's value but sends it through the engine.
// Both must give the same bytes whatever the fields hold.
TEST(ExprTest, JoinedFieldKeysEqualTheExpressionEnginesWhateverTheFieldsHold) {
  TestRecord r({{"NAME", 'C', 12, 0},
                {"NR", 'N', 8, 0},
                {"BETRAG", 'N', 10, 2},
                {"KLEIN", 'N', 3, 0},
                {"DATUM", 'D', 8, 0},
                {"TYP", 'C', 1, 0}});
  const char* exprs[] = {"UPPER(NAME)", "TYP + STR(NR, 8)", "lower( name )+dtos(DATUM)",
                         "STR(BETRAG)", "STR(BETRAG, 12, 3)+TYP", "STR(NR,0) + NAME",
                         "STR(KLEIN, 2)", "NAME+TYP+UPPER(TYP)", "STR(BETRAG,4,1)",
                         "DTOS(DATUM) + STR(KLEIN)"};
  const char* numbers[] = {"", "0", "-0", "42", "-42", "1.5", "-12.345", "99999999",
                           "***", "12a", "+7", "1e3", "	5", "0.005", "-", "123456789012"};
  const char* rawNumbers[] = {"      42", "42      ", "00000042", "      -0", "       0",
                              "      00", "-0000042", "    - 42", "     -42", "       -",
                              "        ", "12345678", " 1234567"};
  const char* dates[] = {"20200701", "", "20201301", "2020070", "2O200701", "00000000"};
  const std::string letters = "abcXYZ äöÜß@[`{0-";
  std::mt19937 rng(11);
  for (const char* e : exprs) {
    for (int keyLen : {-1, 6}) {
      cdx::KeyMaker direct, engine;
      std::string err;
      ASSERT_TRUE(direct.Init(e, "", r, keyLen, &err)) << e << ": " << err;
      ASSERT_TRUE(engine.Init(std::string(e) + " + \"\"", "", r, keyLen, &err)) << e << ": " << err;
      ASSERT_EQ(direct.KeyLength(), engine.KeyLength()) << e;
      for (int round = 0; round < 300; ++round) {
        std::string name;
        for (int k = 0; k < 12; ++k) name += letters[rng() % letters.size()];
        r.SetRaw("NAME", name);
        r.Set("TYP", std::string(1, letters[rng() % letters.size()]));
        r.Set("NR", numbers[rng() % std::size(numbers)]);
        // Stored as other programs may have left it: STR of a field of its
        // own width is the field only when the field reads the way STR writes.
        if (rng() % 3 == 0) r.SetRaw("NR", rawNumbers[rng() % std::size(rawNumbers)]);
        r.Set("BETRAG", numbers[rng() % std::size(numbers)]);
        r.Set("KLEIN", numbers[rng() % std::size(numbers)]);
        r.Set("DATUM", dates[rng() % std::size(dates)]);
        std::string a, b;
        bool ia = false, ib = false;
        ASSERT_TRUE(direct.KeyFor(r, a, ia, &err)) << e;
        ASSERT_TRUE(engine.KeyFor(r, b, ib, &err)) << e;
        ASSERT_EQ(a, b) << e << " on NAME \"" << name << "\"";
        ASSERT_EQ(a.size(), static_cast<std::size_t>(direct.KeyLength()));
      }
    }
  }
}

TEST(ExprTest, BadInputFailsWithAMessage) {
  const TestRecord r = KontoRecord();
  const char* bad[] = {
      "",           "   ",         "KNT_NR +",     "(KNT_NR",       "KNT_NR)",   "NOSUCH",
      "FOO(1)",     "'abc",        "[abc",         "{^2020-13-01}", "{^2020",    "BEZ + 1",
      "KNT_NR + BEZ", "AB + AB",   ".NOT. BEZ",    "-BEZ",          "BEZ .AND. AKTIV",
      "IIF(AKTIV, 1, 'a')",        "IIF(1, 2, 3)", "STR('a')",      "SUBSTR(BEZ)",
      "OTHER->BEZ", "KONTO->",     "1 2",          "@",             ".X.",       "STR(1,2,3,4)",
      "UPP(BEZ)",   "'a' $ 1",     "AKTIV < 'T'",
  };
  for (const char* text : bad) {
    std::string error;
    EXPECT_FALSE(Expression::Compile(text, r, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  // Failures at run time, not at compile time.
  EXPECT_EQ(Eval(r, "1 / (KNT_NR - 8400)").substr(0, 8), "EVALERR:");
  EXPECT_EQ(Eval(r, "REPLICATE('x', 65535) + 'y'").substr(0, 8), "EVALERR:");
  EXPECT_EQ(Eval(r, "PADR('x', 70000)").substr(0, 8), "EVALERR:");
  EXPECT_EQ(Eval(r, "REPLICATE(REPLICATE('ab', 40000), 40000)").substr(0, 8), "EVALERR:");
}

TEST(ExprTest, NestingAndLengthAreBounded) {
  const TestRecord r = KontoRecord();
  std::string deep = std::string(100000, '(') + "1" + std::string(100000, ')');
  std::string error;
  EXPECT_FALSE(Expression::Compile(deep, r, &error));
  std::string chain = "1";
  for (int i = 0; i < 50000; ++i) chain += "+1";
  EXPECT_FALSE(Expression::Compile(chain, r, &error));
  std::string nots(20000, '!');
  EXPECT_FALSE(Expression::Compile(nots + ".T.", r, &error));
  std::string calls;
  for (int i = 0; i < 5000; ++i) calls += "UPPER(";
  calls += "'a'" + std::string(5000, ')');
  EXPECT_FALSE(Expression::Compile(calls, r, &error));
  // Moderate nesting still works.
  EXPECT_EQ(Eval(r, std::string(50, '(') + "KNT_NR" + std::string(50, ')')), "    8400");
}

}  // namespace
}  // namespace xbe
