// convert, verify and restore as separate processes on demo installations
// in temporary folders.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>

#include "DemoInstall.h"
#include "hostenv/tests/TestSupport.h"
#include "platform/ChildProcess.h"

namespace {

using hostenv::test::ReadBytes;
using hostenv::test::WriteBytes;

std::size_t CountOf(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

unsigned Le16(const std::string& b, std::size_t at) {
  return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}

class ConvertVerb : public ::testing::Test {
 protected:
  hostenv::test::TempDir root;
  std::string prog;

  void SetUp() override {
    demo::TDemoOptions o;
    o.Root = root / "demo";
    o.Mandanten = 3;
    o.Accounts = 300;
    std::string error;
    ASSERT_TRUE(demo::WriteInstallation(o, error)) << error;
    prog = demo::ProgramDirOf(o.Root) + "/";
  }
  std::string Fibu(int nr) const { return root / "demo/Daten/M0" + std::to_string(nr) + "/Fibu/"; }
  platform::ProcessResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {UST2020CTL_EXE, "--prog-dir", prog});
    return platform::RunProcess(
        args, {"XDG_CONFIG_HOME=" + root / "config", "XDG_DATA_HOME=" + root / "data",
               "XDG_CONFIG_DIRS=" + root / "etc", "XDG_DATA_DIRS=" + root / "share", "XDG_RUNTIME_DIR=" + root / "run",
               "SSH_CONNECTION=", "SSH_CLIENT=", "DISPLAY=", "TMPDIR=" + root / "tmp"});
  }
  // Every file under the installation with its bytes and mode.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root / "demo")) {
      const auto mode = std::to_string(static_cast<unsigned>(e.symlink_status().permissions()));
      files[e.path().string()] = mode + (e.is_regular_file() ? ":" + ReadBytes(e.path().string()) : "/");
    }
    return files;
  }
  std::string Tables(int nr) const {
    return ReadBytes(Fibu(nr) + "steuersatz.dbf") + ReadBytes(Fibu(nr) + "konto.dbf") +
           ReadBytes(Fibu(nr) + "konto.TS1");
  }
};

TEST_F(ConvertVerb, ConvertsEveryMandantOnceAndTablesStaySound) {
  auto r = Run({"convert"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(CountOf(r.out, "Steuerschlüssel angelegt: 6"), 3u) << r.out;
  // Every progress line, the last step of the last Mandant included, comes
  // before the results, each line once with its final text.
  const std::size_t results = r.out.find("Ergebnisse ...");
  ASSERT_NE(results, std::string::npos) << r.out;
  EXPECT_EQ(CountOf(r.out.substr(0, results), "Kontenrahmen aktualisieren ...    OK\n"), 3u) << r.out;
  EXPECT_EQ(CountOf(r.out, "Kontenrahmen aktualisieren"), 3u) << r.out;

  r = Run({"verify"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "Mandant <Hauptbetrieb>: OK\nMandant <Filiale Nord>: OK\nMandant <Mandant 02>: OK\n");

  const std::string before = Tables(0) + Tables(1) + Tables(2);
  r = Run({"convert"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "Alle Mandanten sind bereits umgestellt.\n");
  EXPECT_EQ(Tables(0) + Tables(1) + Tables(2), before);
}

TEST_F(ConvertVerb, ChosenMandantAndConfirmedRestore) {
  const std::string original0 = Tables(0), original1 = Tables(1);
  auto r = Run({"convert", "--mandant", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(Tables(0), original0);
  EXPECT_NE(Tables(1), original1);
  EXPECT_NE(r.out.find("Mandant <Hauptbetrieb>:\n    <nicht ausgewählt>"), std::string::npos) << r.out;

  r = Run({"convert", "--mandant", "1"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("Mandant <Filiale Nord> ist bereits umgestellt."), std::string::npos) << r.out;

  const std::string converted1 = Tables(1);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"restore", "--mandant", "1"}, {"restore", "--yes"}, {"convert", "--mandant", "7"}, {"verify", "--all"}}) {
    r = Run(args);
    EXPECT_EQ(r.exitCode, 2) << args[0] << " " << args[1];
  }
  EXPECT_EQ(Tables(1), converted1);

  r = Run({"restore", "--mandant", "1", "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(Tables(1), original1);
  // Mandant 0 has no backup: refused, its tables untouched.
  r = Run({"restore", "--mandant", "0", "--yes"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err, "");
  EXPECT_EQ(Tables(0), original0);
}

TEST_F(ConvertVerb, PreviewShowsTheRunAndLeavesTheInstallationAsItWas) {
  std::filesystem::create_directories(root / "tmp");
  // The module start-up of every verb creates the host's missing working
  // folders (empty); a first `check` does that before the snapshot.
  ASSERT_EQ(Run({"check"}).exitCode, 0);
  const auto before = Snapshot();
  auto r = Run({"preview"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(CountOf(r.out, "Kontenrahmen aktualisieren ...    OK\n"), 3u) << r.out;
  for (const char* name : {"Hauptbetrieb", "Filiale Nord", "Mandant 02"})
    EXPECT_NE(r.out.find(std::string("Protokoll Mandant <") + name + "> (Vorschau)"), std::string::npos) << r.out;
  EXPECT_EQ(CountOf(r.out, "\nSteuerschlüssel angelegt\n    "), 3u) << r.out;
  EXPECT_TRUE(Snapshot() == before);
  EXPECT_TRUE(std::filesystem::is_empty(root / "tmp"));

  // A preview of one Mandant shows only it; the real run afterwards still
  // converts all three.
  r = Run({"preview", "--mandant", "2"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(CountOf(r.out, "(Vorschau)"), 1u) << r.out;
  EXPECT_TRUE(Snapshot() == before);
  r = Run({"convert"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(CountOf(r.out, "Kontenrahmen aktualisieren ...    OK\n"), 3u) << r.out;
  r = Run({"preview"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Alle Mandanten sind bereits umgestellt.\n");
}

TEST_F(ConvertVerb, VerifyFindsFullTextOutOfStep) {
  // Change the first letter of record 1's BEZ behind the full-text file's back.
  std::string dbf = ReadBytes(Fibu(2) + "konto.dbf");
  const unsigned headerLen = Le16(dbf, 8);
  std::size_t offset = 1;
  for (std::size_t d = 32; d + 32 <= headerLen && dbf[d] != '\r'; d += 32) {
    if (dbf.compare(d, 4, std::string("BEZ\0", 4)) == 0) break;
    offset += static_cast<unsigned char>(dbf[d + 16]);
  }
  char& c = dbf[headerLen + offset];
  c = c == 'Q' ? 'X' : 'Q';
  WriteBytes(Fibu(2) + "konto.dbf", dbf);

  const auto r = Run({"verify"});
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("Mandant <Hauptbetrieb>: OK\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Mandant <Mandant 02>: konto.TS1 Eintrag 1 "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Mandant <Mandant 02>: OK"), std::string::npos) << r.out;
}

}  // namespace
