// The conversion run with its backup, restore and log on small
// installations: what the lists show, what lands on disk, and that a failing
// Mandant ends with its tables exactly as they were.
#include <algorithm>
#include <filesystem>

#include "EngineFixture.h"
#include "QORUSt2020Table.h"
#include "TestGrid.h"
#include "platform/Encoding.h"
#include "platform/FileOperation.h"
#include "platform/Files.h"

namespace conversion::testing {
namespace {

namespace fs = std::filesystem;

TMandantSpec Plain(const std::string& name) {
  TMandantSpec m;
  m.Name = name;
  m.Keys = {Key(3, "Umsatzsteuer 7%"), Key(50, "Umsatzsteuer 19%")};
  m.Konten = {Konto(8400, "Erlöse 19 % USt", {"50"}), Konto(8300, "Erlöse 7 % USt", {"3"})};
  return m;
}

// An account table without CHANGED: the chart update fails at its first
// write, after the tax keys were created and both backups taken.
TMandantSpec Broken(const std::string& name) {
  TMandantSpec m = Plain(name);
  m.KontoFields = "KNT_NR:N:8:0;BEZ:C:60;STR_ID:C:3;STR_ID2:C:3;STR_ID2_AB:D:8;STR_ID3:C:3;"
                  "STR_ID3_AB:D:8;STR_ID4:C:3;STR_ID4_AB:D:8;STR_ID5:C:3;STR_ID5_AB:D:8;FLAGS:C:20";
  return m;
}

class Lines : public TListBox {
 public:
  void Clear() override { lines.clear(); }
  void Add(const std::string& l) override { lines.push_back(l); }
  int Count() const override { return static_cast<int>(lines.size()); }
  std::string Line(int i) const override { return lines.at(static_cast<std::size_t>(i)); }
  void SetLine(int i, const std::string& l) override { lines.at(static_cast<std::size_t>(i)) = l; }
  void BeginUpdate() override { ++depth; }
  void EndUpdate() override { --depth; }
  void Repaint() override { ++repaints; }
  std::vector<std::string> lines;
  int depth = 0, repaints = 0;
};

class FakeViewer : public TFileViewer {
 public:
  bool Open(const std::string& path, std::string& error) override {
    opened.push_back(path);
    if (!ok) error = "kein Betrachter";
    return ok;
  }
  std::vector<std::string> opened;
  bool ok = true;
};

std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::string data;
    platform::ReadWholeFile(e.path().string(), data);
    files[e.path().filename().string()] = data;
  }
  return files;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  for (std::size_t p; (p = text.find("\r\n", pos)) != std::string::npos; pos = p + 2)
    lines.push_back(text.substr(pos, p - pos));
  EXPECT_EQ(pos, text.size()) << "every line ends with CR LF";
  return lines;
}

const char* kCsv03 = "R;;;;;;;\r\nM;1568;;;Abziehbare Vorsteuer 5 %;;999\r\n";

class Run : public TEngineTest {};

TEST_F(Run, SecondMandantFailsRestoredByteForByteThirdUntouched) {
  Install({Plain("Eins"), Broken("Zwei"), Plain("Drei")}, kCsv03, kCsv03);
  ASSERT_TRUE(FEngine->CheckAllSSL()) << FEngine->LastError();
  const auto before1 = Snapshot(Fibu(1));
  const auto before2 = Snapshot(Fibu(2));

  Lines progress, result;
  EXPECT_FALSE(FEngine->UpdateAll(&progress, &result));
  const std::string error = FEngine->MandantAt(1).UpdateError;
  EXPECT_NE(error.find("CHANGED"), std::string::npos) << error;

  const std::vector<std::string> expectProgress = {
      "Umstellung wird durchgeführt ...",
      "",
      "Mandant <Eins>:",
      "    Sicherung Steuersatz.dbf ...    OK",
      "    Sicherung Konto.dbf ...    OK",
      "    Steuerschlüssel anlegen ...    OK",
      "    Kontenrahmen aktualisieren ...    OK",
      "",
      "Mandant <Zwei>:",
      "    Sicherung Steuersatz.dbf ...    OK",
      "    Sicherung Konto.dbf ...    OK",
      "    Steuerschlüssel anlegen ...    OK",
      "    Kontenrahmen aktualisieren ...    Fehler",
  };
  EXPECT_EQ(progress.lines, expectProgress);
  EXPECT_EQ(progress.depth, 0);
  EXPECT_GE(progress.repaints, 12);

  ASSERT_GE(result.lines.size(), 8u);
  EXPECT_EQ(result.lines[0], "Ergebnisse ...");
  EXPECT_EQ(result.lines[2], "Mandant <Eins>:");
  EXPECT_EQ(result.lines[3], "    Steuerschlüssel angelegt: 6");
  const auto zwei = std::find(result.lines.begin(), result.lines.end(), "Mandant <Zwei>:");
  ASSERT_NE(zwei, result.lines.end());
  EXPECT_EQ(*(zwei + 1), "    Fehler: " + error);
  EXPECT_EQ(*(zwei + 2), "    Ausgangszustand wurde wiederhergestellt");
  EXPECT_EQ(result.lines[result.lines.size() - 2], "Mandant <Drei>:");
  EXPECT_EQ(result.lines.back(), "    <nicht umgestellt>");

  // The failing Mandant's live files are what they were; its backup stays.
  auto after1 = Snapshot(Fibu(1));
  EXPECT_TRUE(after1 == before1);
  EXPECT_TRUE(fs::exists(Fibu(1) + "SAVE_USt2020/konto.dbf"));
  EXPECT_TRUE(Snapshot(Fibu(2)) == before2);
  EXPECT_FALSE(fs::exists(Fibu(2) + "SAVE_USt2020"));
  // Only the converted Mandant has a log.
  EXPECT_TRUE(fs::exists(Fibu(0) + "SAVE_USt2020/USt2020Prot.txt"));
  EXPECT_FALSE(fs::exists(Fibu(1) + "SAVE_USt2020/USt2020Prot.txt"));
  EXPECT_EQ(CheckIndexes(1, "konto.dbf"), "");
}

TEST_F(Run, LogBackupOnceAndReview) {
  Install({Plain("Eins"), Plain("Zwei")}, kCsv03, kCsv03);
  ASSERT_TRUE(FEngine->CheckAllSSL()) << FEngine->LastError();
  FEngine->SetExcluded(0, true);
  EXPECT_TRUE(FEngine->UpdateAll(nullptr, nullptr)) << FEngine->LastError();
  ASSERT_TRUE(FEngine->MandantAt(1).IsDone);

  const std::string save = Fibu(1) + "SAVE_USt2020/";
  for (const char* f : {"steuersatz.dbf", "steuersatz.cdx", "konto.dbf", "konto.cdx", "konto.TS1"})
    EXPECT_TRUE(fs::exists(save + f) || fs::exists(save + platform::AsciiUpper(f))) << f;

  std::string raw;
  ASSERT_TRUE(platform::ReadWholeFile(save + "USt2020Prot.txt", raw));
  EXPECT_EQ(raw.find("\xEF\xBB\xBF"), std::string::npos);
  const auto lines = SplitCrLf(raw);
  ASSERT_GE(lines.size(), 9u);
  EXPECT_EQ(lines[0].rfind("Umstellung Mandant <Zwei> am ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[0].size(), std::string("Umstellung Mandant <Zwei> am 01.07.2020 14:05:09").size());
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "Fibu-Pfad: " + Fibu(1));
  EXPECT_EQ(lines[3], "Backup/Protokoll-Pfad: " + Fibu(1) + "SAVE_USt2020");
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[5], "");
  EXPECT_EQ(platform::Win1252ToUtf8(lines[6]), "Steuerschlüssel angelegt");
  EXPECT_EQ(lines[7].rfind("    65 ", 0), 0u);

  // A backup is taken once: a second one copies nothing, though the table changed.
  const auto saved = Snapshot(save);
  auto table = FEngine->CreateTable(0);
  EXPECT_TRUE(table->MakeBackup());
  EXPECT_TRUE(Snapshot(save) == saved);

  // Log list and review through the viewer.
  TTestGrid grid;
  EXPECT_TRUE(FEngine->FillProtokollGrid(grid));
  ASSERT_EQ(grid.RowCount(), 2);
  EXPECT_EQ(grid.Cell(0, 1), "1");
  EXPECT_EQ(grid.Cell(1, 1), "Zwei");
  EXPECT_TRUE(grid.IsHotLink(2, 1));
  EXPECT_EQ(grid.Cell(2, 1), "Hier klicken zum Öffnen ...");

  FakeViewer viewer;
  FEngine->SetFileViewer(&viewer);
  viewer.ok = false;
  EXPECT_FALSE(FEngine->OpenProtokoll(1));
  EXPECT_EQ(FEngine->LastError(),
            "Das Protokoll konnte nicht geöffnet werden.\r\nWindows meldet folgenden Fehler:\r\n\r\nkein Betrachter");
  EXPECT_FALSE(FEngine->MandantAt(1).ProtokollOpened);
  viewer.ok = true;
  EXPECT_TRUE(FEngine->OpenProtokoll(1));
  EXPECT_TRUE(FEngine->MandantAt(1).ProtokollOpened);
  EXPECT_EQ(viewer.opened.back(), save + "USt2020Prot.txt");
  EXPECT_TRUE(FEngine->AllShown());
  fs::remove(save + "USt2020Prot.txt");
  EXPECT_FALSE(FEngine->OpenProtokoll(1));
  EXPECT_TRUE(FEngine->MandantAt(1).ProtokollOpened);

  // A later run converts nothing, returns false and rewrites the log.
  EXPECT_FALSE(FEngine->UpdateAll(nullptr, nullptr));
  EXPECT_TRUE(fs::exists(save + "USt2020Prot.txt"));
}

class CancelKonto : public platform::FileOpProgress {
 public:
  void Start(const std::string& title, std::uint64_t) override { cancel = title.find("konto") != std::string::npos; }
  bool Update(std::uint64_t, std::uint64_t) override { return !cancel; }
  void Finish() override {}
  bool cancel = false;
};

TEST_F(Run, FailedBackupRestoresNothingAndKeepsItsError) {
  Install({Plain("Eins")}, kCsv03, kCsv03);
  ASSERT_TRUE(FEngine->CheckAllSSL()) << FEngine->LastError();
  // An older complete backup of the tax keys must not come back over the
  // live table when the account backup is cancelled.
  fs::create_directories(Fibu(0) + "SAVE_USt2020");
  platform::WriteFileAtomic(Fibu(0) + "SAVE_USt2020/steuersatz.dbf", "old");
  platform::WriteFileAtomic(Fibu(0) + "SAVE_USt2020/steuersatz.cdx", "old");
  const auto before = Snapshot(Fibu(0));
  CancelKonto cancel;
  platform::SetFileOpProgress(&cancel);
  Lines result;
  const bool ok = FEngine->UpdateAll(nullptr, &result);
  platform::SetFileOpProgress(nullptr);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(Snapshot(Fibu(0)) == before);
  const std::string error = "Mandant <Eins>: Während der Datensicherung ist ein Fehler aufgetreten.";
  EXPECT_EQ(FEngine->LastError(), error);
  ASSERT_EQ(result.lines.size(), 5u);
  EXPECT_EQ(result.lines[3], "    Fehler: " + error);
  EXPECT_EQ(result.lines[4], "    Ausgangszustand wurde wiederhergestellt");
}

TEST_F(Run, RestoreWithoutCompleteBackupTouchesNothing) {
  Install({Plain("Eins")}, kCsv03, kCsv03);
  const auto before = Snapshot(Fibu(0));
  EXPECT_FALSE(FEngine->RestoreMandant(0));
  EXPECT_EQ(FEngine->LastError(),
            "Mandant <Eins> (RestoreBackup): Während der Wiederherstellung ist ein Fehler aufgetreten.");
  EXPECT_TRUE(Snapshot(Fibu(0)) == before);

  // A stale, write-protected file in the backup folder is replaced.
  fs::create_directories(Fibu(0) + "SAVE_USt2020");
  platform::WriteFileAtomic(Fibu(0) + "SAVE_USt2020/konto.cdx", "stale");
  fs::permissions(Fibu(0) + "SAVE_USt2020/konto.cdx", fs::perms::owner_read);
  auto table = FEngine->CreateTable(1);
  ASSERT_TRUE(table->MakeBackup()) << table->FLastError;
  EXPECT_TRUE(Snapshot(Fibu(0) + "SAVE_USt2020/").at("konto.cdx") == before.at("konto.cdx"));

  // Restoring brings the live table back exactly; the backup stays.
  platform::WriteFileAtomic(Fibu(0) + "konto.dbf", "damaged");
  ASSERT_TRUE(table->RestoreBackup()) << table->FLastError;
  EXPECT_TRUE(Snapshot(Fibu(0)) == before);
  EXPECT_TRUE(fs::exists(Fibu(0) + "SAVE_USt2020/konto.dbf"));
}

}  // namespace
}  // namespace conversion::testing
