// The table class's full-text upkeep on a copy of the account fixture: the
// index file beside the table follows edited and appended labels, is opened
// once per table object, and the engine's position survives the upkeep.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "QORUSt2020Table.h"
#include "fulltext/Fts.h"
#include "fulltext/MakeIdxStr.h"
#include "platform/ChildProcess.h"
#include "platform/Encoding.h"
#include "xbase/XbeAccess.h"
#include "xbase/engine/binding/XBE50.h"

namespace fs = std::filesystem;

namespace {

const std::string kFixtures = std::string(UST_FIXTURES_DIR) + "/xbase";
const std::string kFtsTool = std::string(UST_BIN_DIR) + "/ftstool";

class QORUSt2020TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kFixtures + "/konto.dbf")) GTEST_SKIP() << "fixture folder " << kFixtures << " is absent";
    std::string tmpl = (fs::temp_directory_path() / "ust-table-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    FRoot = tmpl;
    // The directory's case must survive: nothing upper-cases it on Linux.
    FDir = FRoot + "/Daten/Fibu/";
    fs::create_directories(FDir);
    FEngine = std::make_unique<TXBEEngine>();
    if (!FEngine->m_bIsLoaded) GTEST_SKIP() << "libxbe50.so is not in " << UST_BIN_DIR;
  }
  void TearDown() override {
    FEngine.reset();
    std::error_code ec;
    if (!FRoot.empty()) fs::remove_all(FRoot, ec);
  }

  void Copy(const std::string& from, const std::string& to) {
    fs::copy_file(kFixtures + "/" + from, FDir + to, fs::copy_options::overwrite_existing);
    fs::permissions(FDir + to, fs::perms::owner_write, fs::perm_options::add);
  }

  // The account table as copied from a Windows installation, with its
  // full-text index built over BEZ.
  void MakeAccountTable() {
    Copy("konto.dbf", "KONTO.DBF");
    Copy("konto.cdx", "KONTO.CDX");
    Copy("konto.fpt", "KONTO.FPT");
    if (!fs::exists(kFtsTool)) GTEST_SKIP() << "ftstool is not built in " << UST_BIN_DIR;
    const auto r = platform::RunProcess({kFtsTool, "build", FDir + "KONTO.DBF", "BEZ", FDir + "Konto.ts1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }

  std::unique_ptr<TQORUSt2020Table> AccountTable() {
    auto t = std::make_unique<TQORUSt2020Table>();
    t->SetDatabaseName(FRoot + "/Daten/Fibu");
    t->SetTableName("konto.dbf");
    t->AddFTS("BEZ");
    t->SetExclusive(true);
    return t;
  }

  // recno -> index text, from "ftstool dump".
  std::map<std::int32_t, std::string> Dump() {
    const auto r = platform::RunProcess({kFtsTool, "dump", FDir + "Konto.ts1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::map<std::int32_t, std::string> entries;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
      const auto tab = line.find('\t');
      entries[std::stoi(line.substr(0, tab))] = line.substr(tab + 3);
    }
    return entries;
  }

  static std::string IdxOf(const std::string& label) {
    return platform::Win1252ToUtf8(fulltext::MakeIdxStr(platform::Utf8ToWin1252(label).value(), false));
  }

  std::string FRoot, FDir;
  std::unique_ptr<TXBEEngine> FEngine;
};

}  // namespace

TEST_F(QORUSt2020TableTest, FileNamesKeepTheDirectoryAndMatchTheDisk) {
  MakeAccountTable();
  auto t = AccountTable();
  EXPECT_EQ(t->GetTableFileName(), FDir + "KONTO.DBF");
  EXPECT_EQ(t->GetFTSFileName(0), FDir + "Konto.ts1");
  EXPECT_EQ(t->GetFTSFileName(1), FDir + "konto.TS2") << "a new file gets the name as formed";
  t->SetDatabaseName("  " + FRoot + "/Daten/Fibu/  ");
  EXPECT_EQ(t->GetTableFileName(), FDir + "KONTO.DBF");
}

TEST_F(QORUSt2020TableTest, EditedAndAppendedLabelsReachTheIndex) {
  MakeAccountTable();
  const std::size_t before = Dump().size();
  ASSERT_EQ(before, 3000u);
  auto t = AccountTable();
  t->Open();
  ASSERT_EQ(t->SetOrder(1), 1);

  ASSERT_NE(t->Seek("2165"), 0);
  const std::int32_t edited = t->RecNo();
  t->Edit();
  t->FieldByName("BEZ").SetAsString("Umsatzsteuer 16%");
  t->Post();
  t->UpdateFTS(true, t->RecNo());
  const std::int32_t handle = t->FTSArray[0].FTS->Handle();
  EXPECT_GE(handle, 0);

  t->Append();
  t->FieldByName("KNT_NR").SetAsInteger(8736);
  t->FieldByName("BEZ").SetAsString("  Erlöse  16 %   USt  ");
  t->Post();
  const std::int32_t appended = t->RecNo();
  EXPECT_EQ(appended, 3001);
  t->UpdateFTS(false, appended);
  EXPECT_EQ(t->FTSArray[0].FTS->Handle(), handle) << "one open per table object";

  t->Close();
  EXPECT_EQ(t->FTSArray[0].FTS->Handle(), fulltext::TFts::kClosed) << "closing the table closes its index";

  const auto entries = Dump();
  EXPECT_EQ(entries.size(), before + 1);
  EXPECT_EQ(entries.at(edited), "UMSATZSTEUER n16n%");
  EXPECT_EQ(entries.at(appended), IdxOf("  Erlöse  16 %   USt  "));
  EXPECT_EQ(entries.at(appended), " ERLOESE n16n % UST");
  EXPECT_EQ(entries.at(1), IdxOf("Gebühren Gebühren")) << "other entries stay";

  // A later table object opens the index again.
  auto again = AccountTable();
  again->Open();
  again->GoTop();
  again->Edit();
  again->FieldByName("BEZ").SetAsString("Gebühren 5 %");
  again->Post();
  again->UpdateFTS(true, again->RecNo());
  EXPECT_GE(again->FTSArray[0].FTS->Handle(), 0);
  again.reset();
  EXPECT_EQ(Dump().at(1), "GEBUEHREN n5n %");
}

TEST_F(QORUSt2020TableTest, UpkeepLeavesTheEnginePositionAndTheCurrentRecord) {
  MakeAccountTable();
  auto t = AccountTable();
  t->Open();
  t->SetOrder(2);  // by label
  t->GoTop();
  t->Skip(5);
  const std::int32_t current = t->RecNo();
  const TXBEEntries& x = Xbe();
  x.xb_Select(t->WorkArea());
  const std::int32_t enginePos = x.xb_RecNo();
  t->UpdateFTS(true, 42);
  x.xb_Select(t->WorkArea());
  EXPECT_EQ(x.xb_RecNo(), enginePos);
  EXPECT_EQ(t->RecNo(), current);
  t->Skip();
  t->Skip(-1);
  EXPECT_EQ(t->RecNo(), current) << "navigation goes on in the label order";
}

TEST_F(QORUSt2020TableTest, NothingHappensForRecordZeroOrTheTaxKeyTable) {
  MakeAccountTable();
  const std::string indexBytes = [&] {
    std::ifstream in(FDir + "Konto.ts1", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }();
  auto t = AccountTable();
  t->Open();
  t->UpdateFTS(true, 0);
  t->UpdateFTS(false, -3);
  EXPECT_EQ(t->FTSArray[0].FTS->Handle(), fulltext::TFts::kClosed) << "record 0 does not even open the index";
  t->Close();

  Copy("steuersatz.dbf", "steuersatz.dbf");
  Copy("steuersatz.cdx", "steuersatz.cdx");
  TQORUSt2020Table keys;
  keys.SetDatabaseName(FDir);
  keys.SetTableName("steuersatz.dbf");
  keys.Open();
  keys.GoTop();
  keys.UpdateFTS(true, keys.RecNo());
  keys.UpdateFTS(false, 1);
  EXPECT_TRUE(keys.FTSArray.empty());
  keys.Close();

  std::ifstream in(FDir + "Konto.ts1", std::ios::binary);
  std::ostringstream after;
  after << in.rdbuf();
  EXPECT_EQ(after.str(), indexBytes);
}
