// The account definition files: line parsing, encodings, line ends and
// every way a file can be refused.
#include <gtest/gtest.h>

#include "TestDir.h"
#include "Ust2020Konto.h"
#include "Ust2020Text.h"
#include "platform/Encoding.h"

namespace conversion {
namespace {

using testing::TTestDir;

TEST(KontoLine, FieldsTrimmedConvertedAndLabelsClosedUp) {
  TQORUSt2020Konto a("AM; 8300 ;x;y; Erlöse 7 % USt ;;3");
  EXPECT_EQ(a.FLastError, "");
  EXPECT_EQ(a.KZ, "AM");
  EXPECT_EQ(a.Nr, 8300);
  EXPECT_EQ(a.Bez, "Erlöse 7% USt");
  EXPECT_FALSE(a.New);
  EXPECT_EQ(a.SSL1, 3);
  EXPECT_EQ(a.SSL2, 0);

  TQORUSt2020Konto b("v;4400;;;Erlöse 19 %/16 %;n;50;2;ignored;more");
  EXPECT_EQ(b.KZ, "V");
  EXPECT_EQ(b.Bez, "Erlöse 19%/16%");
  EXPECT_TRUE(b.New);
  EXPECT_EQ(b.SSL1, 50);
  EXPECT_EQ(b.SSL2, 2);

  EXPECT_EQ(TQORUSt2020Konto("A;1;;;Vorsteuer 10 %;;5").Bez, "Vorsteuer 10 %");
  EXPECT_EQ(TQORUSt2020Konto("A;1;;;Vorsteuer 19 %;;5").Bez, "Vorsteuer 19%");
  EXPECT_FALSE(TQORUSt2020Konto("A;1;;;x;NN;5").New);
  EXPECT_EQ(TQORUSt2020Konto("A;1;;;x;;5;abc").SSL2, 0);
}

TEST(KontoLine, InvalidNumberOrMissingKeyGivesFirstReasonOnly) {
  EXPECT_EQ(TQORUSt2020Konto("A;abc;;;Text;;3").FLastError, "Kontonummer ungültig: A;abc;;;Text;;3;");
  EXPECT_EQ(TQORUSt2020Konto("A;4711;;;Text;;").FLastError, "Steuerschlüssel fehlt: A;4711;;;Text;;;");
  EXPECT_EQ(TQORUSt2020Konto("A;0;;;Text;;").FLastError, "Kontonummer ungültig: A;0;;;Text;;;");
  EXPECT_EQ(TQORUSt2020Konto("A;99999999999;;;Text;;3").Nr, 0);  // beyond 32 bits
  EXPECT_EQ(TQORUSt2020Konto("A;-5;;;Text;;3").Nr, -5);
}

TEST(TextFile, ByteOrderMarksAndLineEnds) {
  // "ö" in each encoding; CR, LF and CR LF mixed.
  EXPECT_EQ(SplitLines(DecodeTextFile("a\xF6\r\nb\rc\nd")),
            (std::vector<std::string>{"aö", "b", "c", "d"}));
  EXPECT_EQ(SplitLines(DecodeTextFile("\xEF\xBB\xBF" "a\xC3\xB6\n")), (std::vector<std::string>{"aö"}));
  EXPECT_EQ(DecodeTextFile(std::string("\xFF\xFE" "a\0\xF6\0", 6)), "aö");
  EXPECT_EQ(DecodeTextFile(std::string("\xFE\xFF\0a\0\xF6", 6)), "aö");
  // A character outside the BMP as a surrogate pair, a lone surrogate.
  EXPECT_EQ(DecodeTextFile(std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6)), "\xF0\x9F\x98\x80");
  EXPECT_EQ(DecodeTextFile(std::string("\xFF\xFE\x3D\xD8x", 5)), "\xEF\xBF\xBD");
  // A stray byte behind a UTF-8 mark is read as Windows-1252, not dropped.
  EXPECT_EQ(DecodeTextFile("\xEF\xBB\xBF\xE4"), "ä");
  EXPECT_TRUE(SplitLines("").empty());
  EXPECT_EQ(SplitLines("a\r\n\r\n"), (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(SplitLines("\n"), (std::vector<std::string>{""}));
}

class KontenFileTest : public ::testing::Test {
 protected:
  bool Load(bool skr04 = false) { return LoadKontenFile(FDir.Dir(), skr04, FList, FError); }
  TTestDir FDir;
  TKontoList FList;
  std::string FError;
};

TEST_F(KontenFileTest, LoadsDefinitionsSkippingHeaderLinesInEveryEncoding) {
  const std::string body =
      "R;Kto;;;Bezeichnung;;;\r\n"
      "AM;8300;;;Erlöse 7 % USt;;3;65\r\n"
      "r;1;;;x;;5\r\n";
  FDir.Write("USt2020_SKR03.csv", *platform::Utf8ToWin1252(body));
  ASSERT_TRUE(Load()) << FError;
  ASSERT_EQ(FList.size(), 2u);
  EXPECT_EQ(FList[0]->Bez, "Erlöse 7% USt");
  EXPECT_EQ(FList[0]->SSL2, 65);
  EXPECT_EQ(FList[1]->KZ, "R");

  // UTF-16 LE with LF only, in the other chart's file.
  std::string utf16 = "\xFF\xFE";
  for (char32_t c : std::u32string(U"V;4400;;;Erlöse 19 %;;50;2\nM;4300;;;Erlöse 7 %;N;3;65\n")) {
    utf16 += static_cast<char>(c & 0xFF);
    utf16 += static_cast<char>(c >> 8);
  }
  FDir.Write("USt2020_SKR04.csv", utf16);
  ASSERT_TRUE(Load(true)) << FError;
  ASSERT_EQ(FList.size(), 2u);
  EXPECT_EQ(FList[0]->Bez, "Erlöse 19%");
  EXPECT_TRUE(FList[1]->New);

  // UTF-8 with mark and CR only; a file name in another case is found.
  FDir.Write("ust2020_skr04.CSV", "\xEF\xBB\xBFV;4400;;;Erl\xC3\xB6se;;50\r");
  std::filesystem::remove(FDir.File("USt2020_SKR04.csv"));
  ASSERT_TRUE(Load(true)) << FError;
  ASSERT_EQ(FList.size(), 1u);
  EXPECT_EQ(FList[0]->Bez, "Erlöse");
}

TEST_F(KontenFileTest, MissingFile) {
  EXPECT_FALSE(Load(true));
  EXPECT_EQ(FError, "Datei USt2020_SKR04.csv nicht gefunden.");
}

TEST_F(KontenFileTest, WrongSeparatorCountRefusesWholeFileAndKeepsEarlierList) {
  FDir.Write("USt2020_SKR03.csv", "A;1;;;x;;5\n");
  ASSERT_TRUE(Load());
  ASSERT_EQ(FList.size(), 1u);

  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"A;1;;;x;;5\nA;2;;;y;;5;;\n", "USt2020_SKR03.csv: Anzahl Trennzeichen falsch: A;2;;;y;;5;;"},
      {"A;1;;;x;;5\r\n\r\n", "USt2020_SKR03.csv: Anzahl Trennzeichen falsch: "},
      {"A;1;;;x;;5\n\nA;2;;;y;;5\n", "USt2020_SKR03.csv: Anzahl Trennzeichen falsch: "},
      {"R;Kopf;;;;\nA;1;;;x;;5\n", "USt2020_SKR03.csv: Anzahl Trennzeichen falsch: R;Kopf;;;;"},
      // The first bad line is named even when an invalid definition precedes it.
      {"A;abc;;;x;;5\nA;1;x\n", "USt2020_SKR03.csv: Anzahl Trennzeichen falsch: A;1;x"},
  };
  for (const Case& c : cases) {
    FDir.Write("USt2020_SKR03.csv", c.text);
    FError.clear();
    EXPECT_FALSE(Load()) << c.text;
    EXPECT_EQ(FError, c.message) << c.text;
    EXPECT_EQ(FList.size(), 1u) << c.text;
  }
}

TEST_F(KontenFileTest, EveryInvalidDefinitionIsReportedOnItsOwnLine) {
  FDir.Write("USt2020_SKR03.csv", "A;abc;;;Text;;3\nA;1;;;ok;;5\nA;4711;;;Text;;\n");
  EXPECT_FALSE(Load());
  EXPECT_EQ(FError,
            "USt2020_SKR03.csv: Kontonummer ungültig: A;abc;;;Text;;3;\r"
            "USt2020_SKR03.csv: Steuerschlüssel fehlt: A;4711;;;Text;;;");
  EXPECT_EQ(FList.size(), 3u);
}

TEST_F(KontenFileTest, UnreadableFile) {
  std::filesystem::create_directory(FDir.File("USt2020_SKR03.csv"));  // a folder of that name
  EXPECT_FALSE(Load());
  EXPECT_EQ(FError, "Datei USt2020_SKR03.csv nicht gefunden.");
}

}  // namespace
}  // namespace conversion
