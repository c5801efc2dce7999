// The table class's full-text upkeep on a copy of the account fixture: the
// index file beside the table follows edited and appended labels, is opened
// once per table object, and the engine's position survives the upkeep.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "QORUSt2020Table.h"
#include "fulltext/Fts.h"
#include "platform/ChildProcess.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "xbase/XbeAccess.h"
#include "xbase/engine/binding/XBE50.h"

namespace fs = std::filesystem;

namespace {

const std::string kFixtures = std::string(UST_FIXTURES_DIR) + "/xbase";
const std::string kFtsTool = std::string(UST_BIN_DIR) + "/ftstool";

class QORUSt2020TableTest : public ::testing::Test {
 protected:
  // The account table as copied from a Windows installation, in a directory
  // whose case must survive, with its full-text index built over BEZ.
  void SetUp() override {
    if (!fs::exists(kFixtures + "/konto.dbf")) GTEST_SKIP() << "fixture folder " << kFixtures << " is absent";
    if (!fs::exists(kFtsTool)) GTEST_SKIP() << "ftstool is not built in " << UST_BIN_DIR;
    std::string tmpl = (fs::temp_directory_path() / "ust-table-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    FRoot = tmpl;
    FDir = FRoot + "/Daten/Fibu/";
    fs::create_directories(FDir);
    FEngine = std::make_unique<TXBEEngine>();
    if (!FEngine->m_bIsLoaded) GTEST_SKIP() << "libxbe50.so is not in " << UST_BIN_DIR;
    for (const char* ext : {"dbf", "cdx", "fpt"}) {
      fs::copy_file(kFixtures + "/konto." + ext, FDir + "KONTO." + platform::AsciiUpper(ext));
      fs::permissions(FDir + "KONTO." + platform::AsciiUpper(ext), fs::perms::owner_write, fs::perm_options::add);
    }
    const auto r = platform::RunProcess({kFtsTool, "build", FDir + "KONTO.DBF", "BEZ", FDir + "Konto.ts1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  void TearDown() override {
    FEngine.reset();
    std::error_code ec;
    if (!FRoot.empty()) fs::remove_all(FRoot, ec);
  }

  std::unique_ptr<TQORUSt2020Table> AccountTable() {
    auto t = std::make_unique<TQORUSt2020Table>();
    t->SetDatabaseName(FRoot + "/Daten/Fibu");
    t->SetTableName("konto.dbf");
    t->AddFTS("BEZ");
    t->SetExclusive(true);
    t->Open();
    return t;
  }

  // Record number -> index text, as "ftstool dump" shows them.
  std::map<std::int32_t, std::string> Dump() {
    const auto r = platform::RunProcess({kFtsTool, "dump", FDir + "Konto.ts1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::map<std::int32_t, std::string> entries;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
      entries[std::stoi(line.substr(0, line.find('\t')))] = line.substr(line.find('\t') + 3);
    return entries;
  }

  std::string FRoot, FDir;
  std::unique_ptr<TXBEEngine> FEngine;
};

}  // namespace

TEST_F(QORUSt2020TableTest, EditedAndAppendedLabelsReachTheIndex) {
  ASSERT_EQ(Dump().size(), 3000u);
  auto t = AccountTable();
  EXPECT_EQ(t->GetTableFileName(), FDir + "KONTO.DBF");
  EXPECT_EQ(t->GetFTSFileName(0), FDir + "Konto.ts1");
  EXPECT_EQ(t->GetFTSFileName(1), FDir + "konto.TS2") << "a new file gets the name as formed";

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
  ASSERT_EQ(t->RecNo(), 3001);
  t->UpdateFTS(false, 3001);
  EXPECT_EQ(t->FTSArray[0].FTS->Handle(), handle) << "one open per table object";

  // The upkeep puts the engine back where it was and leaves the current record.
  t->SetOrder(2);
  t->GoTop();
  t->Skip(5);
  const std::int32_t current = t->RecNo();
  const TXBEEntries& x = Xbe();
  x.xb_Select(t->WorkArea());
  const std::int32_t enginePos = x.xb_RecNo();
  t->UpdateFTS(true, 42);
  x.xb_Select(t->WorkArea());
  EXPECT_EQ(x.xb_RecNo(), enginePos);
  t->Skip();
  t->Skip(-1);
  EXPECT_EQ(t->RecNo(), current);

  t->Close();
  EXPECT_EQ(t->FTSArray[0].FTS->Handle(), fulltext::TFts::kClosed) << "closing the table closes its index";
  const auto entries = Dump();
  EXPECT_EQ(entries.size(), 3001u);
  EXPECT_EQ(entries.at(edited), "UMSATZSTEUER n16n%");
  EXPECT_EQ(entries.at(3001), " ERLOESE n16n % UST");
  EXPECT_EQ(entries.at(1), "GEBUEHREN GEBUEHREN") << "other entries stay";

  // A later table object opens the index again.
  auto again = AccountTable();
  again->Edit();
  again->FieldByName("BEZ").SetAsString("Gebühren 5 %");
  again->Post();
  again->UpdateFTS(true, again->RecNo());
  again.reset();
  EXPECT_EQ(Dump().at(1), "GEBUEHREN n5n %");
}

TEST_F(QORUSt2020TableTest, NothingHappensForRecordZeroOrTheTaxKeyTable) {
  std::string before, after;
  ASSERT_TRUE(platform::ReadWholeFile(FDir + "Konto.ts1", before));
  auto t = AccountTable();
  t->UpdateFTS(true, 0);
  t->UpdateFTS(false, -3);
  EXPECT_EQ(t->FTSArray[0].FTS->Handle(), fulltext::TFts::kClosed) << "record 0 does not even open the index";
  t.reset();

  for (const char* ext : {"dbf", "cdx"}) {
    fs::copy_file(kFixtures + "/steuersatz." + ext, FDir + "steuersatz." + ext);
    fs::permissions(FDir + "steuersatz." + ext, fs::perms::owner_write, fs::perm_options::add);
  }
  TQORUSt2020Table keys;
  keys.SetDatabaseName(FDir);
  keys.SetTableName("steuersatz.dbf");
  keys.Open();
  keys.UpdateFTS(true, 1);
  keys.UpdateFTS(false, 1);
  EXPECT_TRUE(keys.FTSArray.empty());
  ASSERT_TRUE(platform::ReadWholeFile(FDir + "Konto.ts1", after));
  EXPECT_EQ(after, before);
}
