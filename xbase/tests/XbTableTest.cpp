// The table component on copies of the fixtures: opening and its errors,
// aliases, sharing with a second process, editing, appending, posting and
// cancelling with every index kept correct, and the field accessors.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "TableTestUtil.h"
#include "platform/ChildProcess.h"
#include "platform/Encoding.h"
#include "xbase/XbDSet.h"
#include "xbase/XbeAccess.h"

using namespace xbtest;

namespace {

template <class F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "<no error>";
}

// The engine's own check of every order of the open table.
void ExpectIndexesSound(TXbTable& t) {
  const TXBEEntries& x = Xbe();
  x.xb_Select(t.WorkArea());
  EXPECT_EQ(x.xb_CheckIndexes(), 1) << platform::Win1252ToUtf8(x.xb_LastError());
}

// A second process holding the table (see TableHolder.cpp).
struct Holder {
  Holder(const std::string& dir, const char* table, const char* mode) {
    EXPECT_TRUE(p.Start({std::string(UST_BIN_DIR) + "/xbtable_holder", dir, table, mode}));
    EXPECT_EQ(Say(""), "ready");
  }
  ~Holder() {
    p.CloseInput();
    EXPECT_EQ(p.Wait(), 0);
  }
  std::string Say(const std::string& line) {
    if (!line.empty()) p.WriteLine(line);
    std::string answer;
    p.ReadLine(answer);
    return answer;
  }
  platform::ChildProcess p;
};

class XbTable : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_ENGINE(); }
  void Open(TXbTable& t, const std::string& base, bool exclusive = true) {
    t.SetDatabaseName(dir.Path());
    t.SetTableName(base + ".dbf");
    t.SetExclusive(exclusive);
    t.Open();
  }
  std::string File(const std::string& name) const { return dir.Path() + name; }
  TempDir dir;
};

}  // namespace

TEST_F(XbTable, OpenFailuresLeaveTheObjectClosed) {
  TXbTable t;
  t.SetName("Tabelle1");
  EXPECT_EQ(ErrorOf([&] { t.Open(); }), "Tabelle1 : Missing TableName property");
  t.SetDatabaseName(dir.Path());
  t.SetTableName("konto.dbf");
  EXPECT_EQ(ErrorOf([&] { t.Open(); }), "Systemfehler.  Code: 2.\r\nNo such file or directory");
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(t.DataPath(), "");

  CopyFixture("konto", dir.Path());
  std::remove(File("konto.fpt").c_str());
  EXPECT_EQ(ErrorOf([&] { t.Open(); }),
            "Associated MEMO file does not exist.\rFile: " + platform::AsciiUpper(File("konto.FPT")));
  EXPECT_FALSE(t.Active());
}

TEST_F(XbTable, NamesAreFoundWithoutRegardToCaseAndIndexExtFollowsTheFile) {
  CopyFixture("konto", dir.Path(), "KONTO");
  CopyFixture("kontontx", dir.Path(), "Kontontx");
  TXbTable t;
  EXPECT_EQ(t.IndexExt(), ".CDX");
  Open(t, "konto");
  EXPECT_EQ(t.DataPath(), dir.Path());
  EXPECT_NE(t.SetOrder(1), 0);
  EXPECT_EQ(t.IndexName(), "KNT_NR");
  EXPECT_NE(t.Seek("8933"), 0);
  EXPECT_EQ(t.RecNo(), 1);
  const std::string refused = "Cannot perform this operation on an open table\r\n\r\n" + File("konto.dbf");
  EXPECT_EQ(ErrorOf([&] { t.SetTableName("steuersatz.dbf"); }), refused);
  EXPECT_EQ(ErrorOf([&] { t.SetExclusive(false); }), refused);
  EXPECT_EQ(ErrorOf([&] { t.FieldByName("NIX"); }), "Das Feld 'NIX' wurde nicht gefunden");
  EXPECT_EQ(t.FindField("nix"), nullptr);
  EXPECT_EQ(&t.FieldByName("bez"), t.FindField("BEZ"));
  t.Close();
  EXPECT_EQ(t.RecNo(), 0);
  EXPECT_EQ(t.GetTrimString("BEZ"), "");

  Open(t, "kontontx");
  EXPECT_EQ(t.IndexExt(), ".NTX");
  t.Close();
  EXPECT_EQ(t.IndexExt(), ".NTX") << "the kind survives a close";
}

TEST_F(XbTable, NamingTheTableProbesOnlyTheCurrentDirectory) {
  CopyFixture("kontontx", dir.Path());
  TXbTable elsewhere;  // the data path is still empty: the table is not looked at
  elsewhere.SetDatabaseName(dir.Path());
  elsewhere.SetTableName("kontontx.dbf");
  EXPECT_EQ(elsewhere.IndexExt(), ".CDX");

  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  TXbTable here;
  here.SetTableName("KONTONTX.dbf");
  std::filesystem::current_path(before);
  EXPECT_FALSE(here.Active());
  EXPECT_EQ(here.IndexExt(), ".NTX");
}

TEST_F(XbTable, SameBaseNamesGetDistinctAliases) {
  CopyFixture("konto", dir.Path());
  CopyFixture("leer", dir.Path(), "steuer-satz2020");
  TXbTable a, b, c, d, e;
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
  a.Skip(-1);
  EXPECT_EQ(a.RecNo(), first);
  b.Close();
  Open(d, "konto", false);
  EXPECT_EQ(d.AliasName(), "KONTO1");
  Open(e, "steuer-satz2020");
  EXPECT_EQ(e.AliasName(), "STEUER_S");
}

TEST_F(XbTable, SharingWithASecondProcessFollowsExclusiveUse) {
  CopyFixture("steuersatz", dir.Path());
  const std::string busy = "Systemfehler.  Code: " + std::to_string(EBUSY) + ".\r\nDevice or resource busy";
  for (const char* otherMode : {"exclusive", "shared"}) {
    Holder other(dir.Path(), "steuersatz.dbf", otherMode);
    TXbTable t;
    t.SetDatabaseName(dir.Path());
    t.SetTableName("steuersatz.dbf");
    t.SetExclusive(true);
    EXPECT_EQ(ErrorOf([&] { t.Open(); }), busy) << "other process: " << otherMode;
    EXPECT_FALSE(t.Active());
    t.SetExclusive(false);
    EXPECT_EQ(ErrorOf([&] { t.Open(); }), std::string(otherMode) == "shared" ? "<no error>" : busy);
  }
  TXbTable t;
  EXPECT_NO_THROW(Open(t, "steuersatz"));
}

TEST_F(XbTable, EditOfARecordLockedElsewhereFails) {
  CopyFixture("steuersatz", dir.Path());
  auto other = std::make_unique<Holder>(dir.Path(), "steuersatz.dbf", "shared");
  ASSERT_EQ(other->Say("edit 5"), "editing");
  TXbTable t;
  Open(t, "steuersatz", false);
  t.SetOrder(1);
  ASSERT_NE(t.Seek("5"), 0);
  EXPECT_EQ(ErrorOf([&] { t.Edit(); }),
            "Record Lock Failure. May be locked by another user or task.\r\n\r\n" + File("steuersatz.dbf"));
  EXPECT_EQ(t.State(), dsBrowse);
  ASSERT_NE(t.Seek("6"), 0);
  EXPECT_NO_THROW(t.Edit()) << "other records stay free";
  t.Cancel();
  other.reset();
  ASSERT_NE(t.Seek("5"), 0);
  EXPECT_NO_THROW(t.Edit());
}

TEST_F(XbTable, EmptyTableAppendAndSeek) {
  CopyFixture("leer", dir.Path());
  TXbTable t;
  Open(t, "leer");
  EXPECT_EQ(t.Eof(), -1);
  t.GoTop();
  EXPECT_EQ(t.Eof(), -1);
  EXPECT_EQ(t.Seek("1"), 0) << "no order chosen: no seek";
  EXPECT_EQ(t.SetOrder(1), 1);
  EXPECT_EQ(t.Seek("1"), 0);
  t.Append();
  EXPECT_EQ(t.RecNo(), 1);
  t.FieldByName("KNT_NR").SetAsInteger(4711);
  t.FieldByName("BEZ").SetAsString("Kasse");
  t.Post();
  EXPECT_EQ(t.State(), dsBrowse);
  EXPECT_EQ(t.LastPostedRecNo(), 1);
  EXPECT_EQ(t.Eof(), 0);
  EXPECT_NE(t.Seek("4711"), 0);
  ExpectIndexesSound(t);
  t.Close();
  EXPECT_EQ(StoredRecord(File("leer.dbf"), 1), "     4711Kasse" + std::string(25, ' '));
}

TEST_F(XbTable, EditAndAppendKeepEveryTagCorrect) {
  CopyFixture("konto", dir.Path());
  TXbTable t;
  Open(t, "konto");
  ASSERT_EQ(t.SetOrder(1), 1);
  ASSERT_NE(t.Seek("8933"), 0);
  const std::int32_t edited = t.RecNo();
  t.Edit();
  t.FieldByName("BEZ").SetAsString("Erlöse 16 % USt  ");
  t.FieldByName("STR_ID2").SetAsString("65");
  t.FieldByName("STR_ID2_AB").SetAsString("01.07.2020");
  t.FieldByName("CHANGED").SetAsDateTime(44013.5);
  t.FieldByName("AKTIV").SetAsBoolean(false);
  t.FieldByName("KNT_NR").SetAsInteger(8935);
  t.Post();
  EXPECT_EQ(t.RecNo(), edited) << "the edited record stays current";
  EXPECT_EQ(t.GetTrimString("BEZ"), "Erlöse 16 % USt");
  EXPECT_EQ(t.Seek("8933"), 0);
  EXPECT_NE(t.Seek("8935"), 0);
  ExpectIndexesSound(t);

  EXPECT_EQ(t.Seek("99999"), 0);
  t.Append();
  EXPECT_EQ(t.RecNo(), 3001);
  t.FieldByName("KNT_NR").SetAsString("99999");
  t.FieldByName("BEZ").SetAsString("Neues Konto");
  t.Post();
  EXPECT_EQ(t.RecNo(), 3001);
  EXPECT_EQ(t.LastPostedRecNo(), 3001);
  t.SetOrder(4);  // descending account numbers
  t.GoTop();
  EXPECT_EQ(t.RecNo(), 3001);
  ExpectIndexesSound(t);
  t.Close();

  EXPECT_EQ(StoredRecordCount(File("konto.dbf")), 3001);
  const std::string rec = StoredRecord(File("konto.dbf"), edited);
  EXPECT_EQ(rec.substr(0, 9), "     8935");
  EXPECT_EQ(rec.substr(9, 60), platform::Utf8ToWin1252("Erlöse 16 % USt").value() + std::string(45, ' '));
  Open(t, "konto");
  t.SetOrder(1);
  ASSERT_NE(t.Seek("8935"), 0);
  EXPECT_EQ(t.FieldByName("STR_ID2_AB").AsString(), "01.07.2020");
  EXPECT_DOUBLE_EQ(t.FieldByName("CHANGED").AsFloat(), 44013.5);
  EXPECT_FALSE(t.FieldByName("AKTIV").AsBoolean());
}

TEST_F(XbTable, AnEditRewritesOnlyTheFieldsItSets) {
  CopyFixture("konto", dir.Path());
  // Record 1 with SALDO (N 14.2, at byte 153) stored left-aligned, as some
  // programs write numbers; the value reads the same either way.
  {
    std::string dbf = FileBytes(File("konto.dbf"));
    const std::size_t header = static_cast<unsigned char>(dbf[8]) | static_cast<unsigned char>(dbf[9]) << 8;
    ASSERT_EQ(dbf.substr(header + 153, 14), "      -9683.01");
    dbf.replace(header + 153, 14, "-9683.01      ");
    std::FILE* f = std::fopen(File("konto.dbf").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(dbf.data(), 1, dbf.size(), f);
    std::fclose(f);
  }
  const std::string before = StoredRecord(File("konto.dbf"), 1);
  TXbTable t;
  Open(t, "konto");
  EXPECT_DOUBLE_EQ(t.FieldByName("SALDO").AsFloat(), -9683.01);
  t.Edit();
  EXPECT_DOUBLE_EQ(t.FieldByName("SALDO").AsFloat(), -9683.01);
  t.FieldByName("FLAGS").SetAsString("000000001");
  t.Post();
  EXPECT_EQ(t.GetTrimString("FLAGS"), "000000001");
  EXPECT_DOUBLE_EQ(t.FieldByName("SALDO").AsFloat(), -9683.01);
  t.Close();
  std::string expected = before;
  expected.replace(117, 20, "000000001           ");
  EXPECT_EQ(StoredRecord(File("konto.dbf"), 1), expected);
}

TEST_F(XbTable, DeletedRecordsAreVisitedAndKeepTheirMarkWhenEdited) {
  CopyFixture("konto", dir.Path());
  TXbTable t;
  Open(t, "konto");
  while (!t.Eof() && !t.Deleted()) t.Skip();
  ASSERT_EQ(t.RecNo(), 18) << "the first deleted record of the fixture";
  t.Edit();
  t.FieldByName("FLAGS").SetAsString("000000001");
  t.Post();
  EXPECT_TRUE(t.Deleted());
  t.Close();
  EXPECT_EQ(StoredRecord(File("konto.dbf"), 18)[0], '*');
}

TEST_F(XbTable, RefusedPostsStoreNothingAndCanBeCancelled) {
  CopyFixture("steuersatz", dir.Path());
  TXbTable t;
  Open(t, "steuersatz");
  t.SetOrder(1);
  ASSERT_NE(t.Seek("5"), 0);
  t.Edit();
  t.FieldByName("BEZ").SetAsString("geändert");
  t.Cancel();
  EXPECT_EQ(t.GetTrimString("BEZ"), "Steuerschlüssel 5");

  // A number too wide for its field.
  t.Append();
  t.FieldByName("ID").SetAsInteger(1234);  // N(3,0)
  EXPECT_EQ(ErrorOf([&] { t.Post(); }),
            "Translate error. Value out of bounds\r\nField: ID\r\nValue: 1234\r\n\r\n" + File("steuersatz.dbf"));
  EXPECT_EQ(t.State(), dsInsert) << "the pending record stays for Cancel";
  t.Cancel();
  EXPECT_EQ(t.RecNo(), 5) << "the record current before the append";
  t.Edit();
  t.FieldByName("PROZENT").SetAsFloat(10000);  // N(6,2): floats are refused too, not cut
  EXPECT_NE(ErrorOf([&] { t.Post(); }).find("Field: PROZENT\r\nValue: 10000.00"), std::string::npos);
  t.Cancel();

  // The engine refusing the write: no file may grow.
  t.Append();
  t.FieldByName("ID").SetAsInteger(70);
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(FileBytes(File("steuersatz.dbf")).size());
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  const std::string error = ErrorOf([&] { t.Post(); });
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_NE(error.find("\r\n\r\n" + File("steuersatz.dbf")), std::string::npos) << error;
  EXPECT_EQ(t.State(), dsInsert);
  EXPECT_EQ(t.FieldByName("ID").AsInteger(), 70) << "the pending values are kept";
  t.Cancel();
  EXPECT_EQ(t.RecNo(), 5);
  EXPECT_EQ(t.Seek("70"), 0);
  ExpectIndexesSound(t);
  for (t.SetOrder(0), t.GoTop(); !t.Eof(); t.Skip()) {
    EXPECT_TRUE(t.RecNo() <= 60 || t.Deleted()) << "a stray blank record " << t.RecNo();
  }
  t.Append();  // with room again the same append succeeds
  t.FieldByName("ID").SetAsInteger(70);
  t.Post();
  t.SetOrder(1);
  EXPECT_NE(t.Seek("70"), 0);
  ExpectIndexesSound(t);
}

TEST_F(XbTable, AccessorsConvertAndRefuseAsTheKindsDemand) {
  CopyFixture("steuersatz", dir.Path());
  TXbTable s;
  Open(s, "steuersatz");
  TField& id = s.FieldByName("ID");            // N(3,0): 16-bit integer
  TField& prozent = s.FieldByName("PROZENT");  // N(6,2): float
  TField& match = s.FieldByName("MATCH");      // C(27)
  EXPECT_EQ(ErrorOf([&] { id.SetAsInteger(5); }), "Datenmenge ist nicht im Bearbeitungs- oder Einfügemodus");
  s.Edit();
  EXPECT_EQ(ErrorOf([&] { id.SetAsString("abc"); }), "'abc' ist kein gültiger Integerwert für Feld 'ID'");
  EXPECT_EQ(id.AsInteger(), 1) << "a refused value leaves the old one";
  EXPECT_EQ(ErrorOf([&] { id.SetAsInteger(40000); }),
            "40000 ist kein gültiger Wert für Feld 'ID'. Der erlaubte Bereich ist -32768 bis 32767");
  id.SetAsString("");
  EXPECT_TRUE(id.IsNull());
  EXPECT_EQ(id.AsString(), "");
  id.SetAsFloat(2.5);
  EXPECT_EQ(id.AsInteger(), 2) << "halves to the even integer";

  EXPECT_EQ(ErrorOf([&] { prozent.SetAsString("16.5"); }),
            "'16.5' ist kein gültiger Fließkommawert für Feld 'PROZENT'");
  prozent.SetAsString("16,5");
  EXPECT_EQ(prozent.AsString(), "16,5");
  EXPECT_EQ(prozent.AsInteger(), 16);

  match.SetAsString("Gebühr € ß und noch viel mehr Text dahinter");
  EXPECT_EQ(match.AsString(), "Gebühr € ß und noch viel me") << "cut to 27 Windows-1252 bytes";
  EXPECT_NE(ErrorOf([&] { match.SetAsString("Zeichen ☃"); }).find("Windows-1252"), std::string::npos);
  EXPECT_EQ(ErrorOf([&] { (void)match.AsInteger(); }),
            "'Gebühr € ß und noch viel me' ist kein gültiger Integerwert für Feld 'MATCH'");
  match.SetAsFloat(1.25);
  s.Post();
  EXPECT_EQ(s.GetTrimString("MATCH"), "1,25");
  s.Close();

  CopyFixture("konto", dir.Path());
  Open(s, "konto");
  s.Edit();
  TField& ab = s.FieldByName("STR_ID2_AB");
  EXPECT_EQ(s.FieldByName("KNT_NR").Kind(), fkFloat) << "N(8,0) is a float field";
  EXPECT_EQ(s.FieldByName("KNT_NR").AsInteger(), 8933);
  ab.SetAsDateTime(44013.75);
  EXPECT_EQ(ab.AsString(), "01.07.2020");
  ab.SetAsDateTime(0.5);
  EXPECT_TRUE(ab.IsNull()) << "a date-time below 1 is no date";
  EXPECT_EQ(ErrorOf([&] { ab.SetAsString("31.02.2020"); }),
            "'31.02.2020' ist kein gültiges Datum für Feld 'STR_ID2_AB'");
  EXPECT_NE(ErrorOf([&] { s.FieldByName("AKTIV").SetAsString("vielleicht"); }), "<no error>");
}
