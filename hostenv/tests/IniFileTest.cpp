// Settings files as the host writes them on Windows, read and changed by our
// INI code: every byte that a write does not concern must survive.
#include <gtest/gtest.h>

#include <chrono>

#include "hostenv/IniFile.h"
#include "hostenv/ZeIniFile.h"
#include "hostenv/tests/TestSupport.h"
#include "platform/UserDialog.h"

namespace hostenv {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// As an old installation leaves it: comments, odd blanks around "=", a
// section twice, a key twice, umlauts in Windows-1252 and no final CR LF.
const std::string kHostFile =
    "; ZEMPA Einstellungen\r\n"
    "[Konstanten]\r\n"
    "Mandant  =  M\xfcller & S\xf6hne \r\n"
    "  ; alter Wert: SKR=SKR04\r\n"
    "SKR=SKR03\r\n"
    "skr=SKR04\r\n"
    "Titel=\"  mit Blanks  \"\r\n"
    "\r\n"
    "[basisverzeichnisse]\r\n"
    "Beweg=d:\\daten\r\n"
    "\r\n"
    "[Konstanten]\r\n"
    "Zweit=wird nie gelesen\r\n"
    "[Ende]\r\n"
    "Letzte=1";

TEST(IniFile, ReadsAWindowsFileAsTheHostDoes) {
  TempDir dir;
  WriteBytes(dir / "ZEMPA.INI", kHostFile);
  TIniFile ini(dir / "ZEMPA.INI");
  EXPECT_EQ(ini.ReadString("KONSTANTEN", "mandant", "x"), "Müller & Söhne");
  EXPECT_EQ(ini.ReadString("Konstanten", "SKR", ""), "SKR03");  // first of two keys
  EXPECT_EQ(ini.ReadString("Konstanten", "Titel", ""), "  mit Blanks  ");
  EXPECT_EQ(ini.ReadString("Konstanten", "Zweit", "def"), "def");  // second section never read
  EXPECT_EQ(ini.ReadString("BasisVerzeichnisse", "BEWEG", ""), "d:\\daten");
  EXPECT_EQ(ini.ReadString("Ende", "Letzte", ""), "1");
  EXPECT_EQ(ini.ReadString("Konstanten", "; alter Wert: SKR", "none"), "none");
  EXPECT_EQ(ini.ReadString("Fehlt", "Mandant", "def"), "def");
  EXPECT_EQ(TIniFile(dir / "missing.ini").ReadString("a", "b", "def"), "def");
  EXPECT_EQ(ini.ReadStringCut("Konstanten", "Mandant", "", 4), "Müll");

  // Erasing a section that the file holds twice removes both copies.
  ini.EraseSection("konstanten");
  EXPECT_FALSE(ini.SectionExists("Konstanten"));
  EXPECT_EQ(ini.ReadString("Konstanten", "Zweit", "weg"), "weg");
  EXPECT_EQ(ini.ReadString("Ende", "Letzte", ""), "1");
}

TEST(IniFile, AWriteChangesOnlyItsOwnLine) {
  TempDir dir;
  WriteBytes(dir / "ZEMPA.INI", kHostFile);
  TIniFile ini(dir / "ZEMPA.INI");

  ini.WriteString("konstanten", "MANDANT", "Bäcker");
  std::string expected = kHostFile;
  expected.replace(expected.find("M\xfcller & S\xf6hne "), 15, "B\xe4" "cker");
  EXPECT_EQ(ReadBytes(dir / "ZEMPA.INI"), expected);

  // A new key goes behind the section's last line, before the blank line.
  ini.WriteString("BasisVerzeichnisse", "Stamm", "e:\\stamm");
  expected.insert(expected.find("\r\n\r\n[Konstanten]\r\nZweit") + 2, "Stamm=e:\\stamm\r\n");
  EXPECT_EQ(ReadBytes(dir / "ZEMPA.INI"), expected);

  // A new section is appended; the unterminated last line gets its CR LF.
  ini.WriteString("Neu", "Wert", "1");
  expected += "\r\n[Neu]\r\nWert=1\r\n";
  EXPECT_EQ(ReadBytes(dir / "ZEMPA.INI"), expected);

  ini.DeleteKey("Konstanten", "skr");  // the first "SKR" line goes
  ini.EraseSection("BASISVERZEICHNISSE");
  const std::string now = ReadBytes(dir / "ZEMPA.INI");
  EXPECT_EQ(now.find("SKR=SKR03"), std::string::npos);
  EXPECT_NE(now.find("skr=SKR04\r\n"), std::string::npos);
  EXPECT_NE(now.find("  ; alter Wert: SKR=SKR04\r\n"), std::string::npos);
  EXPECT_EQ(now.find("Beweg"), std::string::npos);
  EXPECT_EQ(ini.ReadString("Konstanten", "SKR", ""), "SKR04");
}

TEST(IniFile, NewFilesGetCrLfAndLfFilesStayLf) {
  TempDir dir;
  TIniFile fresh(dir / "neu.ini");
  fresh.WriteString("Konstanten", "SKR", "SKR03");
  fresh.WriteString("Konstanten", "Name", "Öl");
  EXPECT_EQ(ReadBytes(dir / "neu.ini"), "[Konstanten]\r\nSKR=SKR03\r\nName=\xd6l\r\n");
  // A line break in a value must not add lines of its own.
  fresh.WriteString("Konstanten", "Name", "A\r\n[Neu]\nx=1");
  EXPECT_EQ(fresh.ReadString("Konstanten", "Name", ""), "A  [Neu] x=1");
  EXPECT_FALSE(fresh.SectionExists("Neu"));

  WriteBytes(dir / "lf.ini", "[A]\nx=1\n");
  TIniFile lf(dir / "lf.ini");
  lf.WriteString("A", "y", "2");
  lf.WriteString("B", "z", "3");
  EXPECT_EQ(ReadBytes(dir / "lf.ini"), "[A]\nx=1\ny=2\n[B]\nz=3\n");
}

TEST(IniFile, LenientBooleansAndNumbers) {
  TempDir dir;
  WriteBytes(dir / "w.ini",
             "[W]\r\na=ja\r\nb=Yes\r\nc=1\r\nd=T\r\ne=nein\r\nf=0\r\ng=x\r\nh=\r\n"
             "n1=1.234,5\r\nn2= 12,50 \r\nn3=-3.75\r\nn4=3-\r\nn5=abc\r\nn6=\"   \"\r\nn7=-\r\nn8=,\r\n");
  TZeIniFile ini(dir / "w.ini");
  for (const char* k : {"a", "b", "c", "d"}) EXPECT_TRUE(ini.ReadBool("W", k, false)) << k;
  for (const char* k : {"e", "f", "g", "h"}) EXPECT_FALSE(ini.ReadBool("W", k, true)) << k;
  EXPECT_TRUE(ini.ReadBool("W", "fehlt", true));
  EXPECT_FALSE(ini.ReadBool("W", "fehlt", false));

  EXPECT_EQ(ini.ReadDouble("W", "n1", 9), 9);
  EXPECT_EQ(ini.ReadDouble("W", "n2", 9), 12.5);
  EXPECT_EQ(ini.ReadDouble("W", "n3", 9), -3.75);
  EXPECT_EQ(ini.ReadDouble("W", "n4", 9), 9);
  EXPECT_EQ(ini.ReadDouble("W", "n5", 9), 9);
  EXPECT_EQ(ini.ReadDouble("W", "h", 9), 9);
  for (const char* k : {"n6", "n7", "n8"})
    EXPECT_THROW(ini.ReadDouble("W", k, 9), std::invalid_argument) << k;

  TZeMemIniFile mem(dir / "w.ini");  // same rules in memory
  EXPECT_TRUE(mem.ReadBool("W", "a", false));
  EXPECT_EQ(mem.ReadDouble("W", "n2", 9), 12.5);

  ini.WriteDouble("W", "z", 16.5);
  EXPECT_EQ(ini.ReadString("W", "z", ""), "16,5");
  EXPECT_EQ(ini.ReadDouble("W", "z", 0), 16.5);
}

TEST(IniFile, SectionOperations) {
  TempDir dir;
  WriteBytes(dir / "s.ini", "[A]\r\n; Kommentar\r\nk1=v1\r\nk2 = v2\r\n\r\n[B]\r\nx=1\r\n");
  TZeIniFile ini(dir / "s.ini");
  EXPECT_EQ(ini.ReadSectionValues("a"), (std::vector<std::string>{"k1=v1", "k2 = v2"}));

  ini.WriteSectionValues("A", {"n1=1", "n2=2"});
  EXPECT_EQ(ReadBytes(dir / "s.ini"), "[A]\r\nn1=1\r\nn2=2\r\n\r\n[B]\r\nx=1\r\n");
  ini.WriteSection("B", {"eins", "zwei"});
  EXPECT_EQ(ReadBytes(dir / "s.ini"), "[A]\r\nn1=1\r\nn2=2\r\n\r\n[B]\r\neins=\r\nzwei=\r\n");
  ini.WriteSectionValues("", {"x=1"});
  ini.WriteSection("", {"x"});
  EXPECT_EQ(ReadBytes(dir / "s.ini"), "[A]\r\nn1=1\r\nn2=2\r\n\r\n[B]\r\neins=\r\nzwei=\r\n");

  // The host reads a section into 65,536 characters: the block is cut.
  std::vector<std::string> lines;
  for (int i = 0; i < 1000; ++i) lines.push_back("Schluessel" + std::to_string(i) + "=" + std::string(80, 'x'));
  ini.WriteSectionValues("Gross", lines);
  const auto back = ini.ReadSectionValues("Gross");
  std::size_t total = 0;
  for (const auto& l : back) total += l.size() + 1;
  EXPECT_LT(back.size(), lines.size());
  EXPECT_LE(total, 65535u);
  EXPECT_GT(total, 65400u);
  EXPECT_EQ(back.front(), lines.front());
  EXPECT_TRUE(lines[back.size() - 1].rfind(back.back(), 0) == 0);  // a cut line is a prefix
}

// A settings file below a regular file cannot be written, whoever runs the test.
TEST(IniFile, FailedWritesRetryThenReport) {
  TempDir dir;
  WriteBytes(dir / "datei", "kein Ordner");
  const std::string path = dir / "datei/ZEMPA.INI";
  platform::RecordingUserDialog dialog;
  platform::ScopedUserDialog scoped(dialog);
  TZeIniFile ini(path);

  ini.WriteString("", "a", "1");
  ini.WriteString("A", "", "1");
  EXPECT_TRUE(dialog.messages.empty());

  const auto start = std::chrono::steady_clock::now();
  ini.WriteString("A", "b", "1");  // the caller goes on
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(4 * 200));
  ASSERT_EQ(dialog.messages.size(), 1u);
  EXPECT_EQ(dialog.messages[0].kind, platform::MessageKind::Error);
  EXPECT_EQ(dialog.messages[0].text, CannotWriteTextWithCode(path, ENOTDIR));
  EXPECT_NE(dialog.messages[0].text.find("In " + path + " kann nicht geschrieben werden\r\n\r\n"
                                         "Windows meldet folgenden Fehler:\r\n"),
            std::string::npos);
  EXPECT_NE(dialog.messages[0].text.find("\r\n(Fehlercode 20)"), std::string::npos);

  try {
    ini.WriteSectionValues("A", {"x=1"});
    FAIL() << "WriteSectionValues must raise";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), CannotWriteTextWithCode(path, ENOTDIR));
  }
}

}  // namespace
}  // namespace hostenv
