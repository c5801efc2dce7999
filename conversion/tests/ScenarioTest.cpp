// An SKR03 and three SKR04 Mandanten through the tax-key creation and the
// chart-of-accounts update. Every expected record and log line below was
// worked out by hand from the rules, account by account.
#include <algorithm>
#include <filesystem>
#include <random>

#include "EngineFixture.h"

namespace conversion::testing {
namespace {

using A = TQORUSt2020ObjTestAccess;
using Lines = std::vector<std::string>;

const char* const kCsv03 =
    "R;Konto;;;Bezeichnung;Neu;SSL1;SSL2\r\n"
    "AM;8300;;;Erlöse 7 % USt;;3;65\r\n"
    "A;1000;;;Kasse;;999\r\n"
    "A;1773;;;Umsatzsteuer 5 %;;999\r\n"
    "V;3300;;;Wareneingang 7 % Vorsteuer;;66\r\n"
    "M;3400;;;Wareneingang 19 % Vorsteuer;;53\r\n"
    "M;3100;;;Fremdleistungen;;53\r\n"
    "A;2650;;;Sonstige Zinsen und ähnliche Erträge;;3;65\r\n"
    "A;1200;;;Bank neu;;999\r\n"
    "AM;8736;;;Gewährte Skonti 19 % USt;;50;2\r\n"
    "V;3736;;;Erhaltene Skonti 19 % Vorsteuer;;6\r\n"
    "V;3731;;;Erhaltene Skonti 7 % Vorsteuer;;66\r\n"
    "M;1568;;;Abziehbare Vorsteuer 5 %;;999\r\n"
    "M;8340;;;Erlöse 16 % USt;N;50;2\r\n"
    "V;3737;;;Erhaltene Skonti 16 % Vorsteuer;;6\r\n"
    "AV;8338;;;Erlöse 5 % USt;;3;65\r\n";

const char* const kCsv04 =
    "R;Konto;;;Bezeichnung;Neu;SSL1;SSL2\r\n"
    "A;3803;;;Umsatzsteuer 5 %;;999\r\n"
    "AM;4300;;;Erlöse 7 % USt;;3;65\r\n";

std::vector<demo::TDemoSSL> HostKeys() {
  return {Key(2, "Umsatzsteuer 16%"), Key(3, "Umsatzsteuer 7%"), Key(8, "Vorsteuer 7%", "0020000000"),
          Key(50, "Umsatzsteuer 19%"), Key(53, "Vorsteuer 19%", "0020000000")};
}

TMandantSpec Skr03() {
  TMandantSpec m;
  m.Name = "Zentrale";
  m.Keys = HostKeys();
  m.Konten = {
      Konto(8499, "Erlöse sonstige 19 % USt", {"55"}),
      Konto(8300, "Erlöse 7% USt", {"3"}),
      Konto(1000, "Kasse", {}),
      Konto(1773, "Umsatzsteuer aus innergemeinschaftlichem Erwerb 16 %", {}),
      Konto(3300, "Wareneingang 7 % Vorsteuer", {"8"}),
      Konto(3400, "Wareneingang 19 % Vorsteuer", {"53"}),
      Konto(3100, "Fremdleistungen", {"53"}),
      Konto(2650, "Sonstige Zinsen und ähnliche Erträge", {}),
      Konto(1200, "Bank", {}, "000000001"),
      Konto(8736, "Gewährte Skonti 19 % USt", {"9", "50", "12", "50"}),
      Konto(3736, "Erhaltene Skonti 19 % Vorsteuer", {"9", "53", "12", "53", "53"}),
      Konto(3731, "Erhaltene Skonti 7 % Vorsteuer", {"8", "8", "8", "8"}),
      Konto(8735, "Gewährte Skonti 16 % USt", {}, "0000"),
      Konto(4199, "Sonstige Personalkosten", {"53"}),
      Konto(4200, "Raumkosten", {"53"}),
      Konto(4210, "Miete (unbewegliche Wirtschaftsgüter)", {"9", "50"}),
      Konto(4250, "Reinigung", {"9", "53", "12", "53"}),
      Konto(4360, "Versicherungen", {}),
      Konto(4999, "Sonstige Aufwendungen 7 % Vorsteuer", {"8"}),
      Konto(5000, "Sonstiges 19 %", {"53"}),
      Konto(3401, "Wareneingang Filiale 19 % Vorsteuer", {"53"}),
      Konto(3419, "Wareneingang Zubehör", {"12"}),
      Konto(3420, "Innergemeinschaftlicher Erwerb 7 %", {"16"}),
      Konto(8400, "Erlöse 19 % USt", {"50"}),
      Konto(8401, "Erlöse Filiale Nord 19 % USt", {"50"}),
      Konto(8409, "Erlöse Gastronomie 7 % USt", {"3"}),
      Konto(8410, "Erlöse Online-Shop 19 % USt", {"50"}),
      Konto(8411, "Erlöse Reparaturen 5 % USt", {"3", "65"}),
      Konto(8500, "Provisionserlöse 19 % USt", {"50"}),
  };
  return m;
}

TMandantSpec Skr04Main() {
  TMandantSpec m;
  m.Name = " Filiale ";
  m.Skr = " skr04 ";
  m.Keys = HostKeys();
  m.Konten = {
      Konto(4735, "Gewährte Skonti 16 % USt", {"2"}),
      Konto(4948, "Verrechnete sonstige Sachbezüge 16 % USt", {"2", "53"}),
      Konto(4300, "Erlöse 7 % USt", {"3"}),
      Konto(4400, "Erlöse 19 % USt", {"50"}),
      Konto(4401, "Erlöse Filiale 19 % USt", {"50"}),
      Konto(4409, "Erlöse Gastronomie 7 % USt", {"3"}),
      Konto(4410, "Erlöse Online-Shop 19 % USt", {"50"}),
      Konto(4411, "Erlöse EU 7 %", {"23"}),
      Konto(4499, "Erlöse EU-Erwerb 19 %", {"54"}),
      Konto(5400, "Wareneingang 19 % Vorsteuer", {"53"}),
      Konto(5401, "Wareneingang Filiale 7 %", {"8"}),
      Konto(5419, "Wareneingang EU 7 %", {"16"}),
      Konto(5420, "Innergemeinschaftlicher Erwerb", {"53"}),
      Konto(6299, "Sonstige Personalkosten", {"53"}),
      Konto(6300, "Sonstige betriebliche Aufwendungen", {"53"}),
      Konto(6899, "Sonstige Aufwendungen EU 19 %", {"55"}),
      Konto(6900, "Verluste aus Anlagenabgang", {"53"}),
  };
  return m;
}

TMandantSpec Skr04Small(const std::vector<demo::TDemoKonto>& konten) {
  TMandantSpec m;
  m.Skr = "SKR04";
  m.Keys = HostKeys();
  m.Konten = konten;
  return m;
}

class Scenario : public TEngineTest {
 protected:
  void InstallAll() {
    Install({Skr03(), Skr04Main(), Skr04Small({Konto(4400, "Erlöse 19 % USt", {"50"})}),
             Skr04Small({Konto(3803, "Umsatzsteuer 5%", {})})},
            kCsv03, kCsv04);
  }
  bool Run(int nr) {
    FEngine->MandantAt(nr).ClearProtokolle();
    return A::CreateSSL(*FEngine, nr) && A::UpdateKonten(*FEngine, nr);
  }
  const Lines& Section(int nr, int s) { return FEngine->MandantAt(nr).Protokolle[static_cast<std::size_t>(s)]; }
  // Slot texts and their dates as stored ("" for none).
  static Lines Slots(const TRecord& r) {
    Lines out = {r.at("STR_ID")};
    for (int n = 2; n <= 5; ++n) {
      const std::string f = "STR_ID" + std::to_string(n);
      out.push_back(r.at(f) + (r.at(f + "_AB").empty() ? "" : "@" + r.at(f + "_AB")));
    }
    return out;
  }
};

TEST_F(Scenario, Skr03MandantThroughBothRules) {
  InstallAll();
  const std::vector<TRecord> before = ReadTable(0, "konto.dbf");
  ASSERT_TRUE(Run(0)) << FEngine->LastError();

  EXPECT_EQ(Section(0, psSSLAngelegt),
            (Lines{"65 Umsatzsteuer 5%", "66 Vorsteuer 5%", "67 EU-Lieferungen 5% Umsatzsteuer",
                   "68 EU-Erwerb 5% Vorsteuer", "69 Vorsteuer/Umsatzsteuer 5%", "70 keine Vorsteuer/Umsatzsteuer 5%"}));
  EXPECT_TRUE(Section(0, psSSLVorhanden).empty());
  TRecord k65 = FindKey(0, 65), k69 = FindKey(0, 69), k70 = FindKey(0, 70), k67 = FindKey(0, 67);
  EXPECT_EQ(k65["MATCH"], "USt 5%");
  EXPECT_EQ(k65["KNT_NR"], "1773");
  EXPECT_EQ(k65["KONTO_D"], "8300");
  EXPECT_EQ(k65["FLAGS"], "0010000010");
  EXPECT_EQ(k65["PROZENT"], "5.00");
  EXPECT_EQ(k65["V"], "1");
  EXPECT_EQ(k65["DATEV"], "2");
  EXPECT_EQ(k67["KNT_NR"], "");
  EXPECT_EQ(k67["KONTO_D"], "");
  EXPECT_EQ(k69["VST_PRZ"], "5.00");
  EXPECT_EQ(k69["UST_PRZ"], "5.00");
  EXPECT_EQ(k70["PROZENT"], "0.00");
  EXPECT_EQ(k70["VST_PRZ"], "0.00");
  EXPECT_EQ(k70["UST_PRZ"], "5.00");
  EXPECT_EQ(FindKey(0, 66)["KNT_NR"], "1568");

  EXPECT_EQ(Section(0, psWarnung),
            (Lines{"8736 Gewährte Skonti 19 % USt", "3736 Erhaltene Skonti 19 % Vorsteuer", "4250 Reinigung"}));
  EXPECT_EQ(Section(0, psBeschriftung), (Lines{"8735 Gewährte Skonti 16% USt (bisher: Gewährte Skonti 16 % USt)"}));
  EXPECT_EQ(Section(0, psDatevAngelegt),
            (Lines{"1568 Abziehbare Vorsteuer 5%",
                   "8340 Erlöse 16% USt, SSL 2 ab dem 01.07.2020, SSL 50 ab dem 01.01.2021",
                   "3737 Erhaltene Skonti 16% Vorsteuer",
                   "8338 Erlöse 5% USt, SSL 65 ab dem 01.07.2020, SSL 3 ab dem 01.01.2021"}));
  EXPECT_EQ(Section(0, psDatevGeaendert),
            (Lines{"8300 Erlöse 7% USt, SSL 65 ab dem 01.07.2020, SSL 3 ab dem 01.01.2021",
                   "1773 Umsatzsteuer 5% (bisher: Umsatzsteuer aus innergemeinschaftlichem Erwerb 16 %)",
                   "3300 Wareneingang 7% Vorsteuer (bisher: Wareneingang 7 % Vorsteuer), SSL 66 ab dem 01.07.2020",
                   "3400 Wareneingang 19% Vorsteuer (bisher: Wareneingang 19 % Vorsteuer)",
                   "2650 Sonstige Zinsen und ähnliche Erträge, SSL 65 ab dem 01.07.2020, SSL 3 ab dem 01.01.2021",
                   "3731 Erhaltene Skonti 7% Vorsteuer (bisher: Erhaltene Skonti 7 % Vorsteuer), SSL 66 ab dem "
                   "01.07.2020"}));
  EXPECT_EQ(Section(0, psAufwand),
            (Lines{"4200 Raumkosten, SSL 6 ab dem 01.07.2020, SSL 53 ab dem 01.01.2021",
                   "4210 Miete (unbewegliche Wirtschaftsgüter), SSL 2 ab dem 01.07.2020, SSL 50 ab dem 01.01.2021",
                   "4999 Sonstige Aufwendungen 7 % Vorsteuer, SSL 66 ab dem 01.07.2020, SSL 8 ab dem 01.01.2021"}));
  EXPECT_TRUE(Section(0, psZusatzAufwand).empty());
  EXPECT_EQ(Section(0, psIndividuell),
            (Lines{"3401 Wareneingang Filiale 19 % Vorsteuer, SSL 6 ab dem 01.07.2020, SSL 53 ab dem 01.01.2021",
                   "8401 Erlöse Filiale Nord 19 % USt, SSL 2 ab dem 01.07.2020, SSL 50 ab dem 01.01.2021",
                   "8409 Erlöse Gastronomie 7 % USt, SSL 65 ab dem 01.07.2020, SSL 3 ab dem 01.01.2021",
                   "8499 Erlöse sonstige 19 % USt, SSL 24 ab dem 01.07.2020, SSL 55 ab dem 01.01.2021"}));

  struct Expect {
    std::int32_t nr;
    const char* bez;
    Lines slots;
    const char* flags;
  };
  const std::string o7 = "@20070101", j1 = "@20200701", j2 = "@20210101";
  const Expect changed[] = {
      {8300, "Erlöse 7% USt", {"3", "65" + j1, "3" + j2, "", ""}, "1000100010"},
      {1773, "Umsatzsteuer 5%", {"", "", "", "", ""}, "0000100010"},
      {3300, "Wareneingang 7% Vorsteuer", {"8", "66" + j1, "", "", ""}, "2000000010"},
      {3400, "Wareneingang 19% Vorsteuer", {"53", "", "", "", ""}, "1000000010"},
      // No key before: slot 1 stays empty, the dated keys start in slot 2.
      {2650, "Sonstige Zinsen und ähnliche Erträge", {"", "65" + j1, "3" + j2, "", ""}, "0000100010"},
      {3731, "Erhaltene Skonti 7% Vorsteuer", {"8", "8" + o7, "8" + o7, "8" + o7, "66" + j1}, "2000000010"},
      {1568, "Abziehbare Vorsteuer 5%", {"12", "", "", "", ""}, "1200000010"},
      {8340, "Erlöse 16% USt", {"2", "50" + j2, "", "", ""}, "1200000010"},
      {3737, "Erhaltene Skonti 16% Vorsteuer", {"6", "", "", "", ""}, "2200000010"},
      {8338, "Erlöse 5% USt", {"3", "65" + j1, "3" + j2, "", ""}, "2200100010"},
      // The fixed correction of an account without any key puts it in slot 1.
      {8735, "Gewährte Skonti 16% USt", {"2", "", "", "", ""}, "0000000010"},
      {4200, "Raumkosten", {"53", "6" + j1, "53" + j2, "", ""}, "0000000010"},
      {4210, "Miete (unbewegliche Wirtschaftsgüter)", {"9", "50" + o7, "2" + j1, "50" + j2, ""}, "0000000010"},
      {4999, "Sonstige Aufwendungen 7 % Vorsteuer", {"8", "66" + j1, "8" + j2, "", ""}, "0000000010"},
      {3401, "Wareneingang Filiale 19 % Vorsteuer", {"53", "6" + j1, "53" + j2, "", ""}, "0000000010"},
      {8401, "Erlöse Filiale Nord 19 % USt", {"50", "2" + j1, "50" + j2, "", ""}, "0000000010"},
      {8409, "Erlöse Gastronomie 7 % USt", {"3", "65" + j1, "3" + j2, "", ""}, "0000000010"},
      {8499, "Erlöse sonstige 19 % USt", {"55", "24" + j1, "55" + j2, "", ""}, "0000000010"},
  };
  for (const Expect& e : changed) {
    TRecord r = FindKonto(0, e.nr);
    ASSERT_FALSE(r.empty()) << e.nr;
    EXPECT_EQ(r["BEZ"], e.bez) << e.nr;
    EXPECT_EQ(Slots(r), e.slots) << e.nr;
    EXPECT_EQ(r["FLAGS"], e.flags) << e.nr;
    EXPECT_GT(std::atof(r["CHANGED"].c_str()), 44000.0) << e.nr;  // stamped now, not left at 2020-01-01
  }
  // Everything else is byte for byte as it was: range bounds, unmapped and
  // already reduced keys, accounts without a free slot, marked accounts.
  for (const TRecord& old : before) {
    const std::int32_t nr = std::atoi(old.at("KNT_NR").c_str());
    if (std::any_of(std::begin(changed), std::end(changed), [&](const Expect& e) { return e.nr == nr; })) continue;
    EXPECT_EQ(FindKonto(0, nr), old) << nr;
  }
  const std::vector<TRecord> after = ReadTable(0, "konto.dbf");
  EXPECT_EQ(after.size(), before.size() + 4);  // 1568, 8340, 3737, 8338 appended
  EXPECT_EQ(CheckIndexes(0, "konto.dbf"), "");
  EXPECT_EQ(CheckIndexes(0, "steuersatz.dbf"), "");

  // The full-text file follows relabelled and appended accounts.
  auto recNoOf = [&](std::int32_t nr) {
    for (std::size_t i = 0; i < after.size(); ++i)
      if (std::atoi(after[i].at("KNT_NR").c_str()) == nr) return static_cast<int>(i + 1);
    return 0;
  };
  EXPECT_EQ(FtsCount(0), static_cast<int>(after.size()));
  EXPECT_EQ(FtsSearch(0, "UMSATZSTEUER n5n%"), (std::vector<int>{recNoOf(1773)}));
  EXPECT_EQ(FtsSearch(0, "INNERGEMEINSCHAFTLICHEM"), std::vector<int>{});
  EXPECT_EQ(FtsSearch(0, "ABZIEHBARE"), (std::vector<int>{recNoOf(1568)}));
  EXPECT_EQ(FtsSearch(0, "ERLOESE n16n%"), (std::vector<int>{recNoOf(8340)}));
}

TEST_F(Scenario, Skr04MandantenAndKeep999AcrossMandanten) {
  InstallAll();
  for (int nr = 1; nr <= 3; ++nr) ASSERT_TRUE(Run(nr)) << nr << ": " << FEngine->LastError();

  TRecord k65 = FindKey(1, 65);
  EXPECT_EQ(k65["KNT_NR"], "3803");
  EXPECT_EQ(k65["KONTO_D"], "4300");
  EXPECT_EQ(FindKey(1, 66)["KNT_NR"], "1403");

  EXPECT_EQ(Section(1, psBeschriftung),
            (Lines{"4735 Gewährte Skonti 16% USt (bisher: Gewährte Skonti 16 % USt)",
                   "4948 Verrechnete sonstige Sachbezüge 19%/16% USt (bisher: Verrechnete sonstige Sachbezüge 16 % "
                   "USt)"}));
  // The latest key is overwritten in place; its date stays.
  EXPECT_EQ(Slots(FindKonto(1, 4948)), (Lines{"2", "50@20070101", "", "", ""}));
  EXPECT_EQ(Slots(FindKonto(1, 4735)), (Lines{"2", "", "", "", ""}));
  EXPECT_EQ(Section(1, psDatevAngelegt), (Lines{"3803 Umsatzsteuer 5%"}));
  EXPECT_EQ(Section(1, psDatevGeaendert),
            (Lines{"4300 Erlöse 7% USt (bisher: Erlöse 7 % USt), SSL 65 ab dem 01.07.2020, SSL 3 ab dem 01.01.2021"}));
  EXPECT_EQ(Section(1, psIndividuell),
            (Lines{"4401 Erlöse Filiale 19 % USt, SSL 2 ab dem 01.07.2020, SSL 50 ab dem 01.01.2021",
                   "4409 Erlöse Gastronomie 7 % USt, SSL 65 ab dem 01.07.2020, SSL 3 ab dem 01.01.2021",
                   "4411 Erlöse EU 7 %, SSL 67 ab dem 01.07.2020, SSL 23 ab dem 01.01.2021",
                   "4499 Erlöse EU-Erwerb 19 %, SSL 17 ab dem 01.07.2020, SSL 54 ab dem 01.01.2021",
                   "5401 Wareneingang Filiale 7 %, SSL 66 ab dem 01.07.2020, SSL 8 ab dem 01.01.2021",
                   "5419 Wareneingang EU 7 %, SSL 68 ab dem 01.07.2020, SSL 16 ab dem 01.01.2021"}));
  EXPECT_EQ(Section(1, psAufwand),
            (Lines{"6300 Sonstige betriebliche Aufwendungen, SSL 6 ab dem 01.07.2020, SSL 53 ab dem 01.01.2021",
                   "6899 Sonstige Aufwendungen EU 19 %, SSL 24 ab dem 01.07.2020, SSL 55 ab dem 01.01.2021"}));
  EXPECT_TRUE(Section(1, psWarnung).empty());
  for (std::int32_t untouched : {4400, 4410, 5400, 5420, 6299, 6900})
    EXPECT_EQ(FindKonto(1, untouched)["FLAGS"], "0000000000") << untouched;

  // 999 stays 999 for every Mandant: both that lack the account start it
  // with key 12, the one that has it with the same label is left alone.
  for (int nr : {1, 2}) {
    TRecord r = FindKonto(nr, 3803);
    EXPECT_EQ(Slots(r), (Lines{"12", "", "", "", ""})) << nr;
    EXPECT_EQ(r["FLAGS"], "0200100010") << nr;
  }
  EXPECT_EQ(FindKonto(3, 3803)["FLAGS"], "0000000000");
  EXPECT_TRUE(Section(3, psDatevGeaendert).empty());
  for (const auto& k : FEngine->Konten(true))
    if (k->Nr == 3803) {
      EXPECT_EQ(k->SSL1, 999);
    }
  // A missing two-key account without N starts with its old key.
  EXPECT_EQ(Slots(FindKonto(2, 4300)), (Lines{"3", "65@20200701", "3@20210101", "", ""}));
  EXPECT_EQ(FindKonto(2, 4300)["FLAGS"], "1200100010");
  for (int nr = 1; nr <= 3; ++nr) EXPECT_EQ(CheckIndexes(nr, "konto.dbf"), "") << nr;
}

TEST_F(Scenario, SecondRunChangesNothingAndWarnsAgain) {
  InstallAll();
  ASSERT_TRUE(Run(0)) << FEngine->LastError();
  const Lines warnings = Section(0, psWarnung);
  const std::vector<TRecord> konten = ReadTable(0, "konto.dbf");
  const std::vector<TRecord> keys = ReadTable(0, "steuersatz.dbf");
  const int ftsCount = FtsCount(0);

  ASSERT_TRUE(Run(0)) << FEngine->LastError();
  EXPECT_EQ(ReadTable(0, "konto.dbf"), konten);
  EXPECT_EQ(ReadTable(0, "steuersatz.dbf"), keys);
  EXPECT_EQ(FtsCount(0), ftsCount);
  EXPECT_EQ(Section(0, psWarnung), warnings);
  EXPECT_EQ(Section(0, psSSLVorhanden).size(), 6u);
  EXPECT_EQ(Section(0, psSSLVorhanden).front(), "65 Umsatzsteuer 5%");
  for (int s : {1, 3, 4, 5, 6, 7, 8}) EXPECT_TRUE(Section(0, s).empty()) << s;

  // The marked keys now make the Mandant count as converted, not refused.
  EXPECT_TRUE(A::CheckSSL(*FEngine, 0)) << FEngine->LastError();
  EXPECT_TRUE(FEngine->WasMandantConverted(0));
}

// With order 1 on the account number, pass 3 seeks the numbers of its
// ranges instead of walking every record. A table whose order 1 is another
// expression of the same order is walked record by record. Both must give
// the same records and log lines, with duplicate numbers, deleted and
// marked records and full slots among accounts outside the ranges.
TEST_F(Scenario, SeekingTheRangesGivesWhatTheWholeWalkGives) {
  std::mt19937 rng(20200701);
  const char* const keys[] = {"53", "50", "3", "8", "9", "12", "2"};
  std::vector<demo::TDemoKonto> konten;
  for (int i = 0; i < 2500; ++i) {
    std::int32_t nr;
    switch (rng() % 4) {
      case 0: nr = 3395 + static_cast<std::int32_t>(rng() % 30); break;
      case 1: nr = 4190 + static_cast<std::int32_t>(rng() % 820); break;
      case 2: nr = 8395 + static_cast<std::int32_t>(rng() % 110); break;
      default: nr = 10000 + static_cast<std::int32_t>(rng() % 90000); break;  // debtors, creditors
    }
    std::vector<std::string> slots;
    for (unsigned n = rng() % 6; n > 0; --n) slots.emplace_back(keys[rng() % 7]);
    konten.push_back(Konto(nr, "Konto " + std::to_string(i), slots, i % 17 == 0 ? "000000001" : "0000000000"));
  }
  TMandantSpec a = Skr03(), b = Skr03();
  a.Name = "Gesucht";
  a.Konten = konten;
  b.Name = "Durchlaufen";
  b.Konten = konten;
  Install({a, b}, kCsv03, kCsv04);
  for (int nr : {0, 1}) {
    const std::string dbf = Fibu(nr) + "konto.dbf";
    if (nr == 1) std::filesystem::remove(Fibu(nr) + "konto.cdx");
    ASSERT_GT(xb_Use(dbf.c_str(), "", XB_MODE_EXCLUSIVE, XB_DRIVER_FOX), 0) << xb_LastError();
    if (nr == 1) {
      ASSERT_EQ(xb_CreateTag("KNT_NR", "KNT_NR+0", "", 0), 1) << xb_LastError();
    }
    for (std::int32_t rec = 7; rec <= xb_RecCount(); rec += 11) {
      ASSERT_EQ(xb_Go(rec), 1);
      ASSERT_EQ(xb_Delete(), 1) << xb_LastError();
    }
    xb_Close();
  }
  ASSERT_TRUE(Run(0)) << FEngine->LastError();
  ASSERT_TRUE(Run(1)) << FEngine->LastError();
  EXPECT_GT(Section(0, psAufwand).size(), 100u);
  EXPECT_GT(Section(0, psIndividuell).size(), 50u);
  EXPECT_GT(Section(0, psWarnung).size(), 50u);
  for (int s = 0; s < 9; ++s) EXPECT_EQ(Section(0, s), Section(1, s)) << "section " << s;
  auto withoutTime = [](std::vector<TRecord> records) {
    for (TRecord& r : records) r.erase("CHANGED");
    return records;
  };
  EXPECT_EQ(withoutTime(ReadTable(0, "konto.dbf")), withoutTime(ReadTable(1, "konto.dbf")));
  EXPECT_EQ(CheckIndexes(0, "konto.dbf"), "");
}

}  // namespace
}  // namespace conversion::testing
