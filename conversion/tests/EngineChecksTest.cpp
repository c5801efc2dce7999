// The Mandant list, the selection grid, the activation and the checks that
// run before a conversion, on real installations.
#include "EngineFixture.h"
#include "TestGrid.h"
#include "hostenv/Options.h"
#include "platform/Files.h"

namespace conversion::testing {
namespace {

using A = TQORUSt2020ObjTestAccess;

TMandantSpec Plain(const std::string& name, const std::string& skr = "SKR03") {
  TMandantSpec m;
  m.Name = name;
  m.Skr = skr;
  m.Keys = {Key(3, "Umsatzsteuer 7%"), Key(50, "Umsatzsteuer 19%")};
  m.Konten = {Konto(8400, "Erlöse 19 % USt", {"50"})};
  return m;
}

class Checks : public TEngineTest {};

TEST_F(Checks, NamesCountersAndActivation) {
  std::vector<TMandantSpec> ms;
  for (int i = 0; i < 8; ++i) ms.push_back(Plain(i == 3 ? "  Nord  " : ""));
  Install(ms);
  EXPECT_EQ(FEngine->MandantName(0), "<Standard>");
  EXPECT_EQ(FEngine->MandantName(3), "Nord");
  EXPECT_EQ(FEngine->MandantName(7), "Mandant 07");
  EXPECT_EQ(FEngine->GetLastError(), "Unbekannter Fehler");

  EXPECT_EQ(FEngine->DoneCount(), 0);
  EXPECT_FALSE(FEngine->AllDone());
  EXPECT_TRUE(FEngine->AllShown());
  EXPECT_FALSE(FEngine->AllConverted());
  for (int i = 0; i < 8; ++i) FEngine->SetExcluded(i, i != 2);
  FEngine->MandantAt(2).IsDone = true;
  EXPECT_TRUE(FEngine->AllDone());
  EXPECT_EQ(FEngine->DoneCount(), 1);
  EXPECT_FALSE(FEngine->AllShown());
  FEngine->MandantAt(2).ProtokollOpened = true;
  EXPECT_TRUE(FEngine->AllShown());

  // Every Mandant excluded: the checks pass without touching any Mandant.
  for (int i = 0; i < 8; ++i) FEngine->SetExcluded(i, true);
  EXPECT_TRUE(FEngine->CheckAllSSL());
  EXPECT_TRUE(FEngine->CheckAllKonten());
  EXPECT_TRUE(FEngine->CheckMandanten(true));
  EXPECT_EQ(hostenv::ZeOptions().MandantNr(), "");

  for (int i = 0; i < 8; ++i) FEngine->SetExcluded(i, false);
  EXPECT_TRUE(FEngine->CheckMandanten(true)) << FEngine->LastError();
  EXPECT_EQ(hostenv::ZeOptions().MandantNr(), "07");  // the last one touched stays active
}

TEST_F(Checks, ChartCheckTrimsAndUpperCases) {
  Install({Plain("A", " skr04 "), Plain("B", "SKR05"), Plain("C")});
  EXPECT_EQ(A::ActiveSKR(*FEngine), "SKR04");  // Mandant 0 is active
  FEngine->SetExcluded(1, true);
  EXPECT_TRUE(FEngine->CheckMandanten(true)) << FEngine->LastError();
  FEngine->SetExcluded(1, false);
  EXPECT_FALSE(FEngine->CheckMandanten(true));
  EXPECT_EQ(FEngine->LastError(), "Mandant <B>: unbekannter Kontenrahmen: SKR05");
  EXPECT_FALSE(A::IsSKR04(*FEngine));  // B stays active after the failure
  EXPECT_TRUE(FEngine->CheckMandanten(false));
  ASSERT_TRUE(FEngine->ActivateMandant(0));
  EXPECT_EQ(A::ActiveSKR(*FEngine), "SKR04");
  EXPECT_TRUE(A::IsSKR04(*FEngine));
}

TEST_F(Checks, ForeignKeyStopsTheCheckAtThatMandant) {
  std::vector<TMandantSpec> ms = {Plain("Erster"), Plain("Zweiter"), Plain("Dritter")};
  ms[1].Keys.push_back(Key(67, "Umsatzsteuer 5,5%", "0010000000"));
  // The third carries a marked key elsewhere: converted before.
  ms[2].Keys.push_back(Key(12, "ohne Steuer", "0030000010"));
  Install(ms);
  EXPECT_FALSE(FEngine->CheckAllSSL());
  EXPECT_EQ(FEngine->LastError(), "Mandant <Zweiter>: Steuerschlüssel 67 existiert bereits");
  EXPECT_FALSE(FEngine->WasMandantConverted(2));  // not examined after the failure

  FEngine->SetExcluded(1, true);
  EXPECT_TRUE(FEngine->CheckAllSSL()) << FEngine->LastError();
  EXPECT_FALSE(FEngine->WasMandantConverted(0));
  EXPECT_TRUE(FEngine->WasMandantConverted(2));
  EXPECT_TRUE(FEngine->CheckAllKonten()) << FEngine->LastError();
}

TEST_F(Checks, MarkedCatalogueKeysPassAndMarkTheMandantConverted) {
  std::vector<TMandantSpec> ms = {Plain("Erster")};
  ms[0].Keys.push_back(Key(65, "Umsatzsteuer 5%", "0010000010"));
  ms[0].Keys.push_back(Key(66, "Vorsteuer 5%", " 002000001"));
  Install(ms);
  EXPECT_TRUE(FEngine->CheckAllSSL()) << FEngine->LastError();
  EXPECT_TRUE(FEngine->WasMandantConverted(0));
  EXPECT_TRUE(FEngine->AllConverted());
}

TEST_F(Checks, MissingTablesAndForeignLayout) {
  std::vector<TMandantSpec> ms = {Plain("Ohne"), Plain("Alt"), Plain("Gut")};
  ms[0].WithKontoTable = false;
  ms[1].KontoFields = "KNT_NR:N:8:0;BEZ:C:60;STR_ID:C:3;STR_ID3:C:3;FLAGS:C:20;CHANGED:N:16:8";
  Install(ms);
  EXPECT_TRUE(FEngine->CheckAllSSL()) << FEngine->LastError();
  EXPECT_FALSE(FEngine->CheckAllKonten());
  EXPECT_EQ(FEngine->LastError(), "Ungültiger Pfad/Mandant <Ohne>: Datenbank " + Fibu(0) + "konto.dbf nicht gefunden");
  FEngine->SetExcluded(0, true);
  EXPECT_FALSE(FEngine->CheckAllKonten());
  EXPECT_EQ(FEngine->LastError(), "Mandant <Alt>: Struktur von Konto.dbf passt nicht (Feld STR_ID2 nicht gefunden)");

  std::filesystem::remove(Fibu(2) + "steuersatz.dbf");
  EXPECT_FALSE(A::CheckSSL(*FEngine, 2));
  EXPECT_EQ(FEngine->LastError(),
            "Ungültiger Pfad/Mandant <Gut>: Datenbank " + Fibu(2) + "steuersatz.dbf nicht gefunden");
}

TEST_F(Checks, TableErrorFailsTheRuleAndLeavesTheTableClosed) {
  std::vector<TMandantSpec> ms = {Plain("Kaputt")};
  // No CHANGED field: the first account the update touches fails it.
  ms[0].KontoFields = "KNT_NR:N:8:0;BEZ:C:60;STR_ID:C:3;STR_ID2:C:3;STR_ID2_AB:D:8;STR_ID3:C:3;"
                      "STR_ID3_AB:D:8;STR_ID4:C:3;STR_ID4_AB:D:8;STR_ID5:C:3;STR_ID5_AB:D:8;FLAGS:C:20";
  Install(ms, "R;;;;;;;\r\nM;1568;;;Abziehbare Vorsteuer 5 %;;999\r\n", "R;;;;;;;\r\n");
  EXPECT_FALSE(A::UpdateKonten(*FEngine, 0));
  EXPECT_NE(FEngine->LastError().find("CHANGED"), std::string::npos) << FEngine->LastError();
  // Closed again: a second table object can have it exclusively.
  EXPECT_TRUE(A::CheckKonten(*FEngine, 0)) << FEngine->LastError();
}

TEST_F(Checks, GridFillKeepsUncheckedRowsAndMarksConverted) {
  std::vector<TMandantSpec> ms = {Plain(""), Plain("Nord", "SKR04"), Plain("Süd"), Plain("West")};
  ms[3].Keys.push_back(Key(65, "Umsatzsteuer 5%", "0010000010"));
  Install(ms);
  TTestGrid grid;
  ASSERT_TRUE(FEngine->FillMandantGrid(grid)) << FEngine->LastError();
  ASSERT_EQ(grid.RowCount(), 5);
  ASSERT_EQ(grid.ColCount(), 5);
  EXPECT_EQ(grid.FixedRows(), 1);
  EXPECT_EQ(grid.FixedCols(), 0);
  EXPECT_EQ(grid.ColWidth(4), 160);
  EXPECT_EQ(grid.Cell(0, 0), "???");
  EXPECT_EQ(grid.Cell(4, 0), "bereits umgestellt?");
  EXPECT_EQ(grid.Cell(1, 1), "");
  EXPECT_EQ(grid.Cell(2, 1), "<Standard>");
  EXPECT_EQ(grid.Cell(1, 2), "01");
  EXPECT_EQ(grid.Cell(3, 2), "SKR04");
  for (int r = 1; r <= 4; ++r) {
    EXPECT_TRUE(grid.HasCheckBox(0, r));
    EXPECT_TRUE(grid.IsChecked(0, r));
    EXPECT_TRUE(grid.IsReadOnly(2, r));
    EXPECT_FALSE(grid.IsReadOnly(0, r));
  }
  grid.SetChecked(0, 1, false);
  grid.SetChecked(0, 3, false);

  ASSERT_TRUE(FEngine->CheckAllSSL()) << FEngine->LastError();
  ASSERT_TRUE(FEngine->FillMandantGrid(grid));
  EXPECT_FALSE(grid.IsChecked(0, 1));
  EXPECT_TRUE(grid.IsChecked(0, 2));
  EXPECT_FALSE(grid.IsChecked(0, 3));
  EXPECT_FALSE(grid.HasCheckBox(0, 4));
  EXPECT_FALSE(grid.IsChecked(0, 4));
  EXPECT_TRUE(grid.IsReadOnly(0, 4));
  EXPECT_EQ(grid.Cell(0, 4), "X");
  EXPECT_EQ(grid.Alignment(0, 4), TGridAlign::Center);
  EXPECT_EQ(grid.Hint(0, 4), "Wurde bereits umgestellt.");
  EXPECT_EQ(grid.Cell(4, 4), "Wurde bereits umgestellt!");
  EXPECT_EQ(grid.Tag(), 1);
}

}  // namespace
}  // namespace conversion::testing

namespace conversion::testing {
namespace {

TEST_F(Checks, ActivationFailureNamesTheMandant) {
  Install({Plain("Erster"), Plain("Fremd")});
  // Mandant 1's accounting directory belongs to another product generation.
  ASSERT_TRUE(platform::WriteFileAtomic(Fibu(1) + "dir.ini", "[Konstanten]\r\nVersion=1999\r\n"));
  EXPECT_FALSE(FEngine->CheckAllSSL());
  EXPECT_EQ(FEngine->LastError(), "Mandant <Fremd>: Fehler bei der Aktivierung");
  EXPECT_FALSE(FDialog.messages.empty());
  TTestGrid grid;
  EXPECT_FALSE(FEngine->FillMandantGrid(grid));
  EXPECT_EQ(grid.Tag(), 1);
  EXPECT_EQ(grid.Cell(2, 1), "Erster");  // filled up to the failing row
  EXPECT_EQ(grid.Cell(2, 2), "");
}

}  // namespace
}  // namespace conversion::testing

namespace conversion::testing {
namespace {

TEST_F(Checks, StartUpFileCheckStopsAtTheFirstMissingOrInvalidFile) {
  Install({Plain("Erster")});
  EXPECT_FALSE(FEngine->CheckFiles(FProg));
  EXPECT_EQ(FEngine->LastError(), "Datei USt2020_SKR03.csv nicht gefunden.");

  // An invalid SKR03 file is reported alone: the SKR04 file is not read.
  ASSERT_TRUE(platform::WriteFileAtomic(FProg + "USt2020_SKR03.csv", "A;abc;;;x;;3\r\nA;1;;;y;;\r\n"));
  EXPECT_FALSE(FEngine->CheckFiles(FProg));
  const std::string expected =
      "USt2020_SKR03.csv: Kontonummer ungültig: A;abc;;;x;;3;\r"
      "USt2020_SKR03.csv: Steuerschlüssel fehlt: A;1;;;y;;;";
  EXPECT_EQ(FEngine->LastError(), expected);
  // The same again: the text of the earlier failure is not carried along.
  EXPECT_FALSE(FEngine->CheckFiles(FProg));
  EXPECT_EQ(FEngine->LastError(), expected);

  ASSERT_TRUE(platform::WriteFileAtomic(FProg + "USt2020_SKR03.csv", "A;1;;;y;;5\r\n"));
  EXPECT_FALSE(FEngine->CheckFiles(FProg));
  EXPECT_EQ(FEngine->LastError(), "Datei USt2020_SKR04.csv nicht gefunden.");
  ASSERT_TRUE(platform::WriteFileAtomic(FProg + "USt2020_SKR04.csv", "A;2;;;z;;5\r\n"));
  EXPECT_TRUE(FEngine->CheckFiles(FProg)) << FEngine->LastError();
  EXPECT_EQ(FEngine->Konten(false).size(), 1u);
  EXPECT_EQ(FEngine->Konten(true).size(), 1u);

  std::filesystem::remove(FProg + "USt2020_Info.rtf");
  EXPECT_FALSE(FEngine->CheckFiles(FProg));
  EXPECT_EQ(FEngine->LastError(), "Datei USt2020_Info.rtf nicht gefunden.");
}

}  // namespace
}  // namespace conversion::testing

namespace conversion::testing {
namespace {

TEST_F(Checks, ActivationThatReportsAnotherNumberStillCounts) {
  std::vector<TMandantSpec> ms = {Plain("Erster"), Plain("Fünfter")};
  ms[1].IniName = "zempa05.ini";  // list position 1, Mandant number 05
  Install(ms);
  EXPECT_TRUE(FEngine->ActivateMandant(1));
  EXPECT_EQ(FEngine->LastError(), "Mandant <Fünfter>: Fehler bei der Aktivierung");
  EXPECT_EQ(hostenv::ZeOptions().MandantNr(), "05");
}

}  // namespace
}  // namespace conversion::testing
