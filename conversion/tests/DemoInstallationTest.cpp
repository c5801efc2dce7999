// The demo installation end to end: the command-line check passes, the
// rules run over every Mandant, and afterwards every index and the
// full-text file still match their tables (checked by the table and
// full-text tools as separate processes).
#include <sstream>

#include "DemoInstall.h"
#include "EngineFixture.h"
#include "fulltext/MakeIdxStr.h"
#include "platform/ChildProcess.h"
#include "platform/Encoding.h"

namespace conversion::testing {
namespace {

using A = TQORUSt2020ObjTestAccess;

std::string Bin(const std::string& tool) { return std::string(UST_BIN_DIR) + "/" + tool; }

class DemoInstallation : public TEngineTest {
 protected:
  void Build(bool foreign67, int mandanten = 4) {
    demo::TDemoOptions o;
    o.Root = FRoot.Dir() + "demo";
    o.Mandanten = mandanten;
    o.Accounts = 1500;
    o.Foreign67 = foreign67;
    std::string error;
    ASSERT_TRUE(demo::WriteInstallation(o, error)) << error;
    FDemoProg = demo::ProgramDirOf(o.Root) + "/";
    FDemoRoot = o.Root;
  }
  platform::ProcessResult Check(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {Bin("ust2020ctl"), "--prog-dir", FDemoProg, "check"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return platform::RunProcess(argv);
  }
  std::string FDemoProg, FDemoRoot;
};

TEST_F(DemoInstallation, CheckPassesRulesRunAndIndexesStayInStep) {
  Build(false);
  platform::ProcessResult r = Check();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("0\tMandant <Hauptbetrieb>\tSKR03\tkann umgestellt werden\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1\tMandant <Filiale Nord>\tSKR04\tkann umgestellt werden\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2\tMandant <Mandant 02>\tSKR03\tkann umgestellt werden\n"), std::string::npos) << r.out;

  UseInstallation(FDemoProg, [this](int nr) { return FDemoRoot + "/Daten/M0" + std::to_string(nr) + "/Fibu/"; });
  ASSERT_EQ(FMandantCount, 4);
  ASSERT_TRUE(FEngine->CheckFiles(FDemoProg)) << FEngine->LastError();
  ASSERT_TRUE(FEngine->CheckAllSSL()) << FEngine->LastError();
  ASSERT_TRUE(FEngine->CheckAllKonten()) << FEngine->LastError();
  for (int nr = 0; nr < 4; ++nr) {
    ASSERT_TRUE(A::CreateSSL(*FEngine, nr)) << FEngine->LastError();
    ASSERT_TRUE(A::UpdateKonten(*FEngine, nr)) << FEngine->LastError();
    const auto& p = FEngine->MandantAt(nr).Protokolle;
    EXPECT_EQ(p[psSSLAngelegt].size(), 6u) << nr;
    EXPECT_FALSE(p[psDatevAngelegt].empty()) << nr;
    EXPECT_FALSE(p[psDatevGeaendert].empty()) << nr;
    EXPECT_FALSE(p[psIndividuell].empty()) << nr;
    EXPECT_FALSE(p[psAufwand].empty()) << nr;
    EXPECT_FALSE(p[psWarnung].empty()) << nr;  // the account with four keys
    EXPECT_EQ(p[psBeschriftung].size(), nr % 2 == 1 ? 2u : 1u) << nr;

    for (const char* table : {"steuersatz.dbf", "konto.dbf"}) {
      platform::ProcessResult x = platform::RunProcess({Bin("xbtool"), "check", Fibu(nr) + table});
      EXPECT_EQ(x.exitCode, 0) << nr << " " << table << ": " << x.out << x.err;
    }
    // Entry n of the full-text file is the index text of record n's label.
    platform::ProcessResult d = platform::RunProcess({Bin("ftstool"), "dump", Fibu(nr) + "konto.TS1"});
    ASSERT_EQ(d.exitCode, 0) << d.err;
    const std::vector<TRecord> konten = ReadTable(nr, "konto.dbf");
    std::istringstream lines(d.out);
    std::string line;
    std::size_t n = 0;
    while (std::getline(lines, line)) {
      ASSERT_LT(n, konten.size());
      std::string bez = platform::Utf8ToWin1252Lossy(konten[n].at("BEZ"));
      bez.resize(60, ' ');
      EXPECT_EQ(line, std::to_string(n + 1) + "\t \t" + platform::Win1252ToUtf8(fulltext::MakeIdxStr(bez, false)))
          << "Mandant " << nr;
      ++n;
    }
    EXPECT_EQ(n, konten.size()) << nr;
  }
  FEngine.reset();

  r = Check();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("3\tMandant <Bäckerei Süd>\tSKR04\tbereits umgestellt\n"), std::string::npos) << r.out;
}

TEST_F(DemoInstallation, ForeignKey67IsRefusedUnlessThatMandantIsLeftOut) {
  Build(true, 3);
  platform::ProcessResult r = Check();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Mandant <Filiale Nord>: Steuerschlüssel 67 existiert bereits\n");
  r = Check({"--mandant", "0", "--mandant", "2"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("1\tMandant <Filiale Nord>\tSKR04\tnicht ausgewählt\n"), std::string::npos) << r.out;
  r = Check({"--mandant", "7"});
  EXPECT_EQ(r.exitCode, 2);
}

}  // namespace
}  // namespace conversion::testing
