// The table component on copies of the fixtures: opening and its errors,
// aliases, sharing with a second process, editing, appending, posting and
// cancelling with every index kept correct, and the field accessors.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "TableTestUtil.h"
#include "platform/ChildProcess.h"
#include "platform/Encoding.h"
#include "xbase/XbDSet.h"
#include "xbase/XbeAccess.h"

using namespace xbtest;

namespace {

#define REQUIRE_ENGINE()                                                                       \
  do {                                                                                         \
    if (!HaveFixtures()) GTEST_SKIP() << "fixture folder " << FixturesDir() << " is absent";   \
    if (!EngineUsable()) GTEST_SKIP() << "the engine library cannot open tables yet";         \
  } while (0)

template <class F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "<no error>";
}

// The stored bytes of record `recNo` (deletion mark first).
std::string StoredRecord(const std::string& dbf, std::int32_t recNo) {
  const std::string b = FileBytes(dbf);
  const auto u16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
  };
  const std::size_t header = u16(8), length = u16(10);
  return b.substr(header + static_cast<std::size_t>(recNo - 1) * length, length);
}

std::int32_t StoredRecordCount(const std::string& dbf) {
  const std::string b = FileBytes(dbf);
  std::int32_t n = 0;
  for (int i = 3; i >= 0; --i) n = n << 8 | static_cast<unsigned char>(b[4 + static_cast<std::size_t>(i)]);
  return n;
}

// The engine's own check of every order of the open table.
void ExpectIndexesSound(TXbTable& t) {
  const TXBEEntries& x = Xbe();
  x.xb_Select(t.WorkArea());
  EXPECT_EQ(x.xb_CheckIndexes(), 1) << platform::Win1252ToUtf8(x.xb_LastError());
}

class XbTable : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFixtures()) GTEST_SKIP() << "fixture folder " << FixturesDir() << " is absent";
    if (!EngineUsable()) GTEST_SKIP() << "the engine library cannot open tables yet";
  }
  void Open(TXbTable& t, const std::string& base, bool exclusive = true) {
    t.SetDatabaseName(dir.Path());
    t.SetTableName(base + ".dbf");
    t.SetExclusive(exclusive);
    t.Open();
  }
  TempDir dir;
};

}  // namespace

TEST_F(XbTable, OpenFailuresLeaveTheObjectClosed) {
  TXbTable t;
  t.SetName("Tabelle1");
  EXPECT_EQ(ErrorOf([&] { t.Open(); }), "Tabelle1 : Missing TableName property");

  t.SetDatabaseName(dir.Path());
  t.SetTableName("konto.dbf");
  const std::string missing = ErrorOf([&] { t.Open(); });
  EXPECT_EQ(missing, "Systemfehler.  Code: " + std::to_string(ENOENT) + ".\r\nNo such file or directory");
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(t.WorkArea(), 0);
  EXPECT_EQ(t.DataPath(), "");

  // A memo table without its memo file.
  CopyFixture("konto", dir.Path());
  std::remove((dir.Path() + "konto.fpt").c_str());
  EXPECT_EQ(ErrorOf([&] { t.Open(); }),
            "Associated MEMO file does not exist.\rFile: " + platform::AsciiUpper(dir.Path() + "konto.FPT"));
  EXPECT_FALSE(t.Active());
}

TEST_F(XbTable, NamesAreFoundWithoutRegardToCaseAndIndexExtFollowsTheFile) {
  CopyFixture("konto", dir.Path(), "KONTO");
  CopyFixture("kontontx", dir.Path(), "Kontontx");
  TXbTable t;
  EXPECT_EQ(t.IndexExt(), ".CDX");
  Open(t, "konto");
  EXPECT_EQ(t.DataPath(), dir.Path());
  EXPECT_EQ(t.TableType(), ttXBFOX);
  EXPECT_NE(t.SetOrder(1), 0);
  EXPECT_EQ(t.IndexName(), "KNT_NR");
  EXPECT_NE(t.Seek("8933"), 0);
  EXPECT_EQ(t.RecNo(), 1);
  // Changing what names the open table is refused.
  const std::string file = dir.Path() + "konto.dbf";
  EXPECT_EQ(ErrorOf([&] { t.SetTableName("steuersatz.dbf"); }),
            "Cannot perform this operation on an open table\r\n\r\n" + file);
  EXPECT_EQ(ErrorOf([&] { t.SetExclusive(false); }),
            "Cannot perform this operation on an open table\r\n\r\n" + file);
  EXPECT_EQ(ErrorOf([&] { t.FieldByName("NIX"); }), "Das Feld 'NIX' wurde nicht gefunden");
  EXPECT_EQ(t.FindField("nix"), nullptr);
  EXPECT_EQ(&t.FieldByName("bez"), t.FindField("BEZ"));
  t.Close();
  EXPECT_EQ(t.DataPath(), "");
  EXPECT_EQ(t.RecNo(), 0);
  EXPECT_EQ(t.GetTrimString("BEZ"), "");

  TXbTable ntx;
  Open(ntx, "kontontx");
  EXPECT_EQ(ntx.TableType(), ttXBNTX);
  EXPECT_EQ(ntx.IndexExt(), ".NTX");
  ntx.Close();
  EXPECT_EQ(ntx.IndexExt(), ".NTX") << "the kind survives a close";
}

TEST_F(XbTable, SameBaseNamesGetDistinctAliases) {
  CopyFixture("konto", dir.Path());
  TXbTable a, b, c;
  Open(a, "konto", false);
  Open(b, "konto", false);
  Open(c, "konto", false);
  EXPECT_EQ(a.AliasName(), "KONTO");
  EXPECT_EQ(b.AliasName(), "KONTO1");
  EXPECT_EQ(c.AliasName(), "KONTO12");
  // Each keeps its own position in the one engine.
  a.SetOrder(1);
  b.SetOrder(4);
  a.GoTop();
  b.GoTop();
  const std::int32_t first = a.RecNo();
  b.Skip();
  a.Skip();
  EXPECT_NE(a.RecNo(), b.RecNo());
  a.Skip(-1);
  EXPECT_EQ(a.RecNo(), first);
  c.Close();
  b.Close();
  TXbTable d;
  Open(d, "konto", false);
  EXPECT_EQ(d.AliasName(), "KONTO1");

  // Characters outside A..Z become "_", at most eight are kept.
  CopyFixture("leer", dir.Path(), "steuer-satz2020");
  TXbTable e;
  Open(e, "steuer-satz2020");
  EXPECT_EQ(e.AliasName(), "STEUER_S");
}

TEST_F(XbTable, ExclusiveUseConflictsWithASecondProcess) {
  CopyFixture("steuersatz", dir.Path());
  const std::string holder = std::string(UST_BIN_DIR) + "/xbtable_holder";
  const std::string busy = "Systemfehler.  Code: " + std::to_string(EBUSY) + ".\r\n" + "Device or resource busy";
  for (const char* otherMode : {"exclusive", "shared"}) {
    platform::ChildProcess other;
    ASSERT_TRUE(other.Start({holder, dir.Path(), "steuersatz.dbf", otherMode}));
    std::string line;
    ASSERT_TRUE(other.ReadLine(line));
    ASSERT_EQ(line, "ready");
    TXbTable t;
    t.SetDatabaseName(dir.Path());
    t.SetTableName("steuersatz.dbf");
    t.SetExclusive(true);
    EXPECT_EQ(ErrorOf([&] { t.Open(); }), busy) << "other process: " << otherMode;
    EXPECT_FALSE(t.Active());
    if (std::string(otherMode) == "shared") {
      t.SetExclusive(false);
      EXPECT_NO_THROW(t.Open()) << "shared use next to shared use";
      t.Close();
    }
    other.CloseInput();
    EXPECT_EQ(other.Wait(), 0);
  }
  TXbTable t;
  Open(t, "steuersatz");
  EXPECT_TRUE(t.Active());
}

TEST_F(XbTable, EmptyTableAppendAndSeek) {
  CopyFixture("leer", dir.Path());
  TXbTable t;
  Open(t, "leer");
  EXPECT_EQ(t.Eof(), -1);
  t.GoTop();
  EXPECT_EQ(t.Eof(), -1);
  EXPECT_TRUE(t.FieldByName("BEZ").IsNull() || t.FieldByName("BEZ").AsString().empty());
  EXPECT_EQ(t.Seek("1"), 0) << "no order chosen: no seek";
  EXPECT_EQ(t.SetOrder(1), 1);
  EXPECT_EQ(t.Seek("1"), 0);

  t.Append();
  EXPECT_EQ(t.State(), dsInsert);
  EXPECT_EQ(t.RecNo(), 1);
  t.FieldByName("KNT_NR").SetAsInteger(4711);
  t.FieldByName("BEZ").SetAsString("Kasse");
  t.Post();
  EXPECT_EQ(t.State(), dsBrowse);
  EXPECT_EQ(t.RecNo(), 1);
  EXPECT_EQ(t.LastPostedRecNo(), 1);
  EXPECT_EQ(t.Eof(), 0);
  EXPECT_NE(t.Seek("4711"), 0);
  EXPECT_EQ(t.GetTrimString("BEZ"), "Kasse");
  ExpectIndexesSound(t);
  t.Close();
  EXPECT_EQ(StoredRecord(dir.Path() + "leer.dbf", 1), "     4711Kasse" + std::string(25, ' '));
}

TEST_F(XbTable, EditAndAppendKeepEveryTagCorrect) {
  CopyFixture("konto", dir.Path());
  const Manifest m = ReadManifest("konto");
  TXbTable t;
  Open(t, "konto");
  ASSERT_EQ(t.SetOrder(1), 1);

  // Edit an account found by number: label, date slot, change stamp, flag.
  ASSERT_NE(t.Seek("8933"), 0);
  const std::int32_t edited = t.RecNo();
  t.Edit();
  EXPECT_EQ(t.State(), dsEdit);
  t.FieldByName("BEZ").SetAsString("Erlöse 16 % USt  ");
  t.FieldByName("STR_ID2").SetAsString("65");
  t.FieldByName("STR_ID2_AB").SetAsString("01.07.2020");
  t.FieldByName("CHANGED").SetAsFloat(44013.5);
  t.FieldByName("AKTIV").SetAsBoolean(false);
  t.FieldByName("KNT_NR").SetAsInteger(8935);
  t.Post();
  EXPECT_EQ(t.RecNo(), edited) << "the edited record stays current";
  EXPECT_EQ(t.LastPostedRecNo(), edited);
  EXPECT_EQ(t.GetTrimString("BEZ"), "Erlöse 16 % USt");
  EXPECT_EQ(t.Seek("8933"), 0);
  EXPECT_NE(t.Seek("8935"), 0);
  EXPECT_EQ(t.RecNo(), edited);
  ExpectIndexesSound(t);

  // A key that does not exist, then an appended account.
  EXPECT_EQ(t.Seek("99999"), 0);
  t.Append();
  EXPECT_EQ(t.RecNo(), m.records + 1);
  t.FieldByName("KNT_NR").SetAsString("99999");
  t.FieldByName("BEZ").SetAsString("Neues Konto");
  t.FieldByName("TYP").SetAsString("E");
  t.FieldByName("AKTIV").SetAsBoolean(true);
  t.Post();
  EXPECT_EQ(t.RecNo(), m.records + 1);
  EXPECT_EQ(t.LastPostedRecNo(), m.records + 1);
  EXPECT_NE(t.Seek("99999"), 0);
  EXPECT_EQ(t.RecNo(), m.records + 1);
  ExpectIndexesSound(t);

  // The new record takes its place in a descending order too.
  t.SetOrder(4);
  t.GoTop();
  EXPECT_EQ(t.RecNo(), m.records + 1);
  t.Close();

  const std::string dbf = dir.Path() + "konto.dbf";
  EXPECT_EQ(StoredRecordCount(dbf), m.records + 1);
  const std::string rec = StoredRecord(dbf, edited);
  EXPECT_EQ(rec.substr(1, 8), "    8935");
  EXPECT_EQ(rec.substr(9, 60), platform::Utf8ToWin1252("Erlöse 16 % USt").value() + std::string(45, ' '));
  const std::string added = StoredRecord(dbf, m.records + 1);
  EXPECT_EQ(added[0], ' ');
  EXPECT_EQ(added.substr(1, 8), "   99999");

  // Reopened, the values are as written.
  TXbTable again;
  Open(again, "konto");
  again.SetOrder(1);
  ASSERT_NE(again.Seek("8935"), 0);
  EXPECT_EQ(again.FieldByName("STR_ID2_AB").AsString(), "01.07.2020");
  EXPECT_DOUBLE_EQ(again.FieldByName("CHANGED").AsDateTime(), 44013.5);
  EXPECT_FALSE(again.FieldByName("AKTIV").AsBoolean());
  EXPECT_EQ(again.FieldByName("STR_ID2").AsInteger(), 65);
  ExpectIndexesSound(again);
}

TEST_F(XbTable, DeletedRecordsAreVisitedAndKeepTheirMarkWhenEdited) {
  CopyFixture("konto", dir.Path());
  const Manifest m = ReadManifest("konto");
  std::int32_t deleted = 0;
  for (const auto& r : m.recs)
    if (r.deleted) {
      deleted = r.recNo;
      break;
    }
  ASSERT_NE(deleted, 0);
  TXbTable t;
  Open(t, "konto");
  while (!t.Eof() && t.RecNo() != deleted) t.Skip();
  ASSERT_EQ(t.RecNo(), deleted);
  EXPECT_TRUE(t.Deleted());
  t.Edit();
  t.FieldByName("FLAGS").SetAsString("000000001");
  t.Post();
  EXPECT_TRUE(t.Deleted());
  ExpectIndexesSound(t);
  t.Close();
  const std::string rec = StoredRecord(dir.Path() + "konto.dbf", deleted);
  EXPECT_EQ(rec[0], '*');
}

TEST_F(XbTable, CancelDropsThePendingRecord) {
  CopyFixture("steuersatz", dir.Path());
  TXbTable t;
  Open(t, "steuersatz");
  t.SetOrder(1);
  ASSERT_NE(t.Seek("5"), 0);
  const std::int32_t five = t.RecNo();
  t.Edit();
  t.FieldByName("BEZ").SetAsString("geändert");
  t.Cancel();
  EXPECT_EQ(t.State(), dsBrowse);
  EXPECT_EQ(t.RecNo(), five);
  EXPECT_EQ(t.GetTrimString("BEZ"), "Steuerschlüssel 5");

  t.Append();
  t.FieldByName("ID").SetAsInteger(65);
  t.Cancel();
  EXPECT_EQ(t.RecNo(), five) << "the record current before the append";
  EXPECT_EQ(t.Seek("65"), 0);
  t.Close();
  EXPECT_EQ(StoredRecordCount(dir.Path() + "steuersatz.dbf"), 60);
}

TEST_F(XbTable, ValueTooWideForItsFieldFailsThePostAndStoresNothing) {
  CopyFixture("steuersatz", dir.Path());
  CopyFixture("konto", dir.Path());
  TXbTable t;
  Open(t, "steuersatz");
  t.SetOrder(1);
  ASSERT_NE(t.Seek("3"), 0);
  const std::int32_t three = t.RecNo();
  t.Append();
  t.FieldByName("ID").SetAsInteger(1234);  // N(3,0)
  const std::string file = dir.Path() + "steuersatz.dbf";
  EXPECT_EQ(ErrorOf([&] { t.Post(); }),
            "Translate error. Value out of bounds\r\nField: ID\r\nValue: 1234\r\n\r\n" + file);
  EXPECT_EQ(t.State(), dsInsert) << "the pending record stays for Cancel";
  t.FieldByName("ID").SetAsInteger(66);
  t.Cancel();
  EXPECT_EQ(t.RecNo(), three);
  ExpectIndexesSound(t);
  t.Close();
  EXPECT_EQ(StoredRecordCount(file), 60) << "no blank record was left behind";

  // Numbers with decimals are refused the same way instead of being cut.
  TXbTable k;
  Open(k, "konto");
  k.GoTop();
  k.Edit();
  k.FieldByName("SALDO").SetAsFloat(1e12);  // N(14,2): 1000000000000.00 is 16 wide
  EXPECT_EQ(ErrorOf([&] { k.Post(); }), "Translate error. Value out of bounds\r\nField: SALDO\r\nValue: "
                                        "1000000000000.00\r\n\r\n" +
                                            dir.Path() + "konto.dbf");
  EXPECT_EQ(k.State(), dsEdit);
  k.Cancel();
  EXPECT_DOUBLE_EQ(k.FieldByName("SALDO").AsFloat(), -9683.01);
}

TEST_F(XbTable, EngineRefusingTheWriteLeavesTheTableConsistent) {
  CopyFixture("steuersatz", dir.Path());
  TXbTable t;
  Open(t, "steuersatz");
  t.SetOrder(1);
  t.GoTop();
  const std::int32_t first = t.RecNo();
  const std::string file = dir.Path() + "steuersatz.dbf";
  t.Append();
  t.FieldByName("ID").SetAsInteger(70);
  t.FieldByName("BEZ").SetAsString("Umsatzsteuer 16 %");

  // No file may grow: the engine cannot add the record.
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(FileBytes(file).size());
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  const std::string error = ErrorOf([&] { t.Post(); });
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);

  EXPECT_NE(error, "<no error>");
  EXPECT_NE(error.find("\r\n\r\n" + file), std::string::npos) << error;
  EXPECT_EQ(t.State(), dsInsert);
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 70) << "the pending values are kept";
  t.Cancel();
  EXPECT_EQ(t.RecNo(), first);
  EXPECT_EQ(t.Seek("70"), 0);
  ExpectIndexesSound(t);
  // Nothing but (at most) a record marked deleted may remain.
  for (t.SetOrder(0), t.GoTop(); !t.Eof(); t.Skip()) {
    if (t.RecNo() > 60) {
      EXPECT_TRUE(t.Deleted()) << "record " << t.RecNo();
    }
  }

  // With room again the same kind of append succeeds.
  t.Append();
  t.FieldByName("ID").SetAsInteger(70);
  t.Post();
  t.SetOrder(1);
  EXPECT_NE(t.Seek("70"), 0);
  ExpectIndexesSound(t);
}

TEST_F(XbTable, AccessorsConvertAndRefuseAsTheKindsDemand) {
  CopyFixture("steuersatz", dir.Path());
  CopyFixture("konto", dir.Path());
  TXbTable s;
  Open(s, "steuersatz");
  TField& id = s.FieldByName("ID");          // N(3,0): 16-bit integer
  TField& prozent = s.FieldByName("PROZENT");  // N(6,2): float
  TField& match = s.FieldByName("MATCH");    // C(27)
  EXPECT_EQ(id.Kind(), fkSmallint);
  EXPECT_EQ(prozent.Kind(), fkFloat);
  EXPECT_EQ(ErrorOf([&] { id.SetAsInteger(5); }), "Datenmenge ist nicht im Bearbeitungs- oder Einfügemodus");

  s.Edit();
  EXPECT_EQ(ErrorOf([&] { id.SetAsString("abc"); }), "'abc' ist kein gültiger Integerwert für Feld 'ID'");
  EXPECT_EQ(id.AsInteger(), 1) << "a refused value leaves the old one";
  EXPECT_EQ(ErrorOf([&] { id.SetAsInteger(40000); }),
            "40000 ist kein gültiger Wert für Feld 'ID'. Der erlaubte Bereich ist -32768 bis 32767");
  id.SetAsString("");
  EXPECT_TRUE(id.IsNull());
  EXPECT_EQ(id.AsString(), "");
  EXPECT_EQ(id.AsInteger(), 0);
  id.SetAsFloat(2.5);
  EXPECT_EQ(id.AsInteger(), 2) << "halves to the even integer";

  EXPECT_EQ(ErrorOf([&] { prozent.SetAsString("16.5"); }),
            "'16.5' ist kein gültiger Fließkommawert für Feld 'PROZENT'");
  prozent.SetAsString("16,5");
  EXPECT_EQ(prozent.AsFloat(), 16.5);
  EXPECT_EQ(prozent.AsString(), "16,5");
  EXPECT_EQ(prozent.AsInteger(), 16);

  match.SetAsString("Gebühr € ß und noch viel mehr Text dahinter");
  EXPECT_EQ(match.AsString(), "Gebühr € ß und noch viel me") << "cut to 27 Windows-1252 bytes";
  EXPECT_NE(ErrorOf([&] { match.SetAsString("Zeichen ☃"); }).find("Windows-1252"), std::string::npos);
  EXPECT_EQ(match.AsString(), "Gebühr € ß und noch viel me");
  EXPECT_EQ(ErrorOf([&] { (void)match.AsInteger(); }), "'Gebühr € ß und noch viel me' ist kein gültiger Integerwert für Feld 'MATCH'");
  match.SetAsInteger(42);
  EXPECT_EQ(match.AsInteger(), 42);
  match.SetAsFloat(1.25);
  EXPECT_EQ(match.AsString(), "1,25");
  s.Post();
  EXPECT_EQ(s.GetTrimString("MATCH"), "1,25");
  s.Close();

  TXbTable k;
  Open(k, "konto");
  k.Edit();
  TField& ab = k.FieldByName("STR_ID2_AB");
  TField& knt = k.FieldByName("KNT_NR");
  TField& aktiv = k.FieldByName("AKTIV");
  EXPECT_EQ(knt.Kind(), fkFloat) << "N(8,0) is a float field";
  EXPECT_EQ(knt.AsInteger(), 8933);
  EXPECT_EQ(knt.AsString(), "8933");
  ab.SetAsDateTime(44013.75);
  EXPECT_EQ(ab.AsString(), "01.07.2020");
  EXPECT_EQ(ab.AsDateTime(), 44013.0);
  ab.SetAsDateTime(0.5);
  EXPECT_TRUE(ab.IsNull()) << "a date-time below 1 is no date";
  EXPECT_EQ(ErrorOf([&] { ab.SetAsString("31.02.2020"); }), "'31.02.2020' ist kein gültiges Datum für Feld 'STR_ID2_AB'");
  aktiv.Clear();
  EXPECT_TRUE(aktiv.IsNull());
  EXPECT_NE(ErrorOf([&] { aktiv.SetAsString("vielleicht"); }), "<no error>");
  k.Post();
  k.Close();
  const std::string rec = StoredRecord(dir.Path() + "konto.dbf", 1);
  EXPECT_EQ(rec.substr(1, 8), "    8933");
}

TEST_F(XbTable, NamingTheTableProbesOnlyTheCurrentDirectory) {
  CopyFixture("kontontx", dir.Path());
  // With the data path still empty, a table elsewhere is not looked at.
  TXbTable elsewhere;
  elsewhere.SetDatabaseName(dir.Path());
  elsewhere.SetTableName("kontontx.dbf");
  EXPECT_EQ(elsewhere.TableType(), ttXBFOX);
  EXPECT_EQ(elsewhere.IndexExt(), ".CDX");

  // A table in the current directory is opened and closed at once, which
  // tells its kind.
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  TXbTable here;
  here.SetTableName("KONTONTX.dbf");
  std::filesystem::current_path(before);
  EXPECT_FALSE(here.Active());
  EXPECT_EQ(here.WorkArea(), 0);
  EXPECT_EQ(here.TableType(), ttXBNTX);
  EXPECT_EQ(here.IndexExt(), ".NTX");
}

TEST_F(XbTable, EditOfARecordLockedElsewhereFails) {
  CopyFixture("steuersatz", dir.Path());
  platform::ChildProcess other;
  ASSERT_TRUE(other.Start({std::string(UST_BIN_DIR) + "/xbtable_holder", dir.Path(), "steuersatz.dbf", "shared"}));
  std::string line;
  ASSERT_TRUE(other.ReadLine(line));
  ASSERT_EQ(line, "ready");
  ASSERT_TRUE(other.WriteLine("edit 5"));
  ASSERT_TRUE(other.ReadLine(line));
  ASSERT_EQ(line, "editing");

  TXbTable t;
  Open(t, "steuersatz", false);
  t.SetOrder(1);
  ASSERT_NE(t.Seek("5"), 0);
  EXPECT_EQ(ErrorOf([&] { t.Edit(); }), "Record Lock Failure. May be locked by another user or task.\r\n\r\n" +
                                            dir.Path() + "steuersatz.dbf");
  EXPECT_EQ(t.State(), dsBrowse);
  ASSERT_NE(t.Seek("6"), 0);
  EXPECT_NO_THROW(t.Edit()) << "other records stay free";
  t.Cancel();
  other.CloseInput();
  EXPECT_EQ(other.Wait(), 0);
  ASSERT_NE(t.Seek("5"), 0);
  EXPECT_NO_THROW(t.Edit());
}
