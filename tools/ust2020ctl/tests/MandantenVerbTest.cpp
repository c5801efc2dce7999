// The real ust2020ctl program on installations in temporary folders.
#include <gtest/gtest.h>

#include "hostenv/tests/TestSupport.h"
#include "platform/ChildProcess.h"
#include "platform/RawFile.h"

namespace {

using hostenv::test::ReadBytes;
using hostenv::test::WriteBytes;

class MandantenVerb : public ::testing::Test {
 protected:
  hostenv::test::TempDir root;
  std::string prog = root / "Zempa Pro/";

  std::vector<std::string> Env() const {
    return {"XDG_CONFIG_HOME=" + root / "config", "XDG_DATA_HOME=" + root / "data",
            "XDG_CONFIG_DIRS=" + root / "etc",    "XDG_DATA_DIRS=" + root / "share",
            "XDG_RUNTIME_DIR=" + root / "run",    "SSH_CONNECTION=", "SSH_CLIENT=", "DISPLAY="};
  }
  platform::ProcessResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), UST2020CTL_EXE);
    return platform::RunProcess(args, Env());
  }
  void MakeInstallation() {
    WriteBytes(prog + "ZEMPA.INI",
               "[Konstanten]\r\nMandant=Zwanzig Zeichen lang\r\n[BasisVerzeichnisse]\r\nBeweg=d:\\daten\r\n");
    WriteBytes(prog + "Zempa02.INI", "[BasisVerzeichnisse]\r\nBeweg=" + root / "m02" + "\r\n");
    WriteBytes(prog + "zempa01.ini",
               "[Konstanten]\r\nMandant=M\xfcller\tGmbH\r\n[Defaultwerte]\r\nSKR=SKR04\r\n");
    WriteBytes(prog + "d:/daten/Fibu/KONTO.INI", "[Konstanten]\r\nSKR= skr04 \r\n");
    WriteBytes(root / "m02/FIBU/dir.ini", "[Konstanten]\r\nVersion=2020\r\n");
    std::filesystem::create_directories(prog + "Fibu");
  }
};

TEST_F(MandantenVerb, TsvLines) {
  MakeInstallation();
  const auto r = Run({"--prog-dir", prog, "mandanten", "--tsv"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "0\tzempa.ini\tZwanzig Zeic\t\tskr04\t" + prog + "d:/daten/Fibu/\n"
            "1\tzempa01.ini\tMüller GmbH\t01\tSKR04\t" + prog + "Fibu/\n"
            "2\tzempa02.ini\tMandant 02\t02\tSKR03\t" + root / "m02/Fibu/" + "\n");
  // A Mandant without Konto.ini got one with the chart it was given.
  EXPECT_EQ(ReadBytes(prog + "Fibu/Konto.ini"), "[Konstanten]\r\nSKR=SKR04\r\n");

  const auto table = Run({"--prog-dir", prog, "mandanten"});
  EXPECT_EQ(table.exitCode, 0);
  EXPECT_NE(table.out.find("Mandant 02"), std::string::npos);
}

TEST_F(MandantenVerb, SampleInstallation) {
  if (!hostenv::test::Exists(UST2020CTL_SAMPLES "/ZEMPA.INI")) GTEST_SKIP() << "samples/installation fehlt";
  const std::string dir = platform::CanonicalPath(UST2020CTL_SAMPLES) + "/";
  const auto r = Run({"--prog-dir", UST2020CTL_SAMPLES, "mandanten", "--tsv"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "0\tzempa.ini\tMusterfirma\t\tSKR03\t" + dir + "daten/standard/Fibu/\n"
            "1\tzempa01.ini\tBäckerei Öz\t01\tSKR04\t" + dir + "daten/m01/Fibu/\n"
            "2\tzempa02.ini\tMandant 02\t02\tskr04\t" + dir + "daten/m02/Fibu/\n");
}

TEST_F(MandantenVerb, FailuresAndUsage) {
  MakeInstallation();
  WriteBytes(prog + "Fibu/dir.ini", "[Konstanten]\r\nVersion=19\r\n");
  auto r = Run({"--prog-dir", prog, "mandanten", "--tsv"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");  // no half list
  EXPECT_NE(r.err.find("ust2020ctl: Das Verzeichnis\n" + prog + "Fibu/\nentspricht der Zempa-Version 19."),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Mandant <Müller\tGmbH>: Fehler bei der Aktivierung"), std::string::npos);

  r = Run({"--prog-dir", root / "fehlt", "mandanten"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("existiert nicht"), std::string::npos);

  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"--prog-dir"}, {"unbekannt"}, {"--prog-dir", prog, "mandanten", "--csv"}, {"--x", "mandanten"}}) {
    r = Run(args);
    EXPECT_EQ(r.exitCode, 2) << args.size();
    EXPECT_NE(r.err.find("Aufruf: ust2020ctl"), std::string::npos);
  }
  EXPECT_EQ(Run({"--help"}).exitCode, 0);
}

}  // namespace
