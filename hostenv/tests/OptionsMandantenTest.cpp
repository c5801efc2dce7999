// Options and Mandant directory on real installations in temporary folders.
#include <gtest/gtest.h>

#include "hostenv/Application.h"
#include "hostenv/DirText.h"
#include "hostenv/Locations.h"
#include "hostenv/Mandanten.h"
#include "hostenv/ModuleCount.h"
#include "hostenv/Options.h"
#include "hostenv/Registry.h"
#include "hostenv/Version.h"
#include "hostenv/tests/TestSupport.h"
#include "platform/UserDialog.h"

namespace hostenv {
namespace {

using test::Exists;
using test::ReadBytes;
using test::WriteBytes;

class Installation : public ::testing::Test {
 protected:
  test::TempDir root;
  test::ScopedXdg xdg{root.Path()};
  std::string prog = root / "zempa/";
  platform::RecordingUserDialog dialog;
  platform::ScopedUserDialog scoped{dialog};

  void SetUp() override {
    std::filesystem::create_directories(prog);
    SetHostProgramDirectory(prog);
    Application().ClearTerminateRequest();
    CreateZeRegistry();
    CreateZeOptions();
  }
  void TearDown() override {
    ReleaseZeOptions();
    ReleaseZeRegistry();
    CloseModuleCount();
    SetHostProgramDirectory("");
  }
  void Ini(const std::string& name, const std::string& body) { WriteBytes(prog + name, body); }
  void Open(const std::string& name) {
    ZeOptions().SetZempaIni(TZeIniFile::CreateEx(name, false, true, false));
  }
  // Data of a Mandant below `base` (relative to the program directory).
  void Fibu(const std::string& base, const std::string& kontoIni, const std::string& version = "") {
    if (!kontoIni.empty()) WriteBytes(prog + base + "/Fibu/Konto.ini", kontoIni);
    if (!version.empty())
      WriteBytes(prog + base + "/Fibu/dir.ini", "[Konstanten]\r\nVersion=" + version + "\r\n");
  }
};

TEST_F(Installation, MandantenListedInHostOrder) {
  Ini("ZEMPA.INI", "[Konstanten]\r\nMandant=Zwanzig Zeichen lang\r\n");
  Ini("Zempa02.INI", "[Basisverzeichnisse]\r\nBeweg=m02\r\n");
  Ini("zempa01.ini", "[KONSTANTEN]\r\nmandant=  Filiale S\xfc" "dwest\r\n");
  Ini("zempa10.ini", "");
  std::filesystem::create_directories(prog + "zempa03.ini");  // a folder is no Mandant
  Ini("zempa.ini.bak", "");
  Ini("mandant.ini", "");
  Open("zempa01.ini");

  TZeMandanten m;
  EXPECT_EQ(m.IniList, (std::vector<std::string>{"zempa.ini", "zempa01.ini", "zempa02.ini", "zempa10.ini"}));
  EXPECT_EQ(m.MandList, (std::vector<std::string>{"Zwanzig Zeic", "Filiale Südw", "", ""}));
  EXPECT_EQ(m.CurrentMandant, 1);
  EXPECT_EQ(MandantDisplayName(m.MandList[0], 0), "Zwanzig Zeic");
  EXPECT_EQ(MandantDisplayName(" Filiale ", 1), "Filiale");
  EXPECT_EQ(MandantDisplayName(m.MandList[2], 2), "Mandant 02");
  EXPECT_EQ(MandantDisplayName("", 0), "<Standard>");
  EXPECT_EQ(MandantDisplayName(" ", 123), "Mandant 123");
}

TEST_F(Installation, NoMandanten) {
  TZeMandanten m;
  EXPECT_TRUE(m.IniList.empty());
  EXPECT_TRUE(m.MandList.empty());
  EXPECT_EQ(m.CurrentMandant, -1);
  EXPECT_THROW(m.ChangeMandant(0, false), std::out_of_range);
}

TEST_F(Installation, DirectoriesFromBaseDirectories) {
  Ini("ZEMPA.INI", "[Konstanten]\r\n");
  Open("ZEMPA.INI");
  EXPECT_EQ(ZeOptions().GetDirEntry(deFibu), prog + "Fibu/");
  EXPECT_EQ(ZeOptions().GetDirEntry(deTemp), prog + "Temp/");
  EXPECT_EQ(ZeOptions().GetDirEntry(deGlobalConfig), prog + "GlobConf/");
  EXPECT_TRUE(Exists(prog + "Temp") && Exists(prog + "Config") && Exists(prog + "GlobConf"));

  // Relative values count from the program directory and keep their case.
  Ini("ZEMPA.INI",
      "[BasisVerzeichnisse]\r\nBeweg=d:\\daten\r\nStamm = " + root / "Stamm\\" + " \r\nUser=benutzer\r\n");
  ZeOptions().Refresh();
  EXPECT_EQ(ZeOptions().GetDirEntry(deFibu), prog + "d:/daten/Fibu/");
  EXPECT_EQ(ZeOptions().GetBaseDirEntry(bdeLager), root / "Stamm/");
  EXPECT_EQ(ZeOptions().GetDirEntry(deLager), root / "Stamm/Lager/");
  EXPECT_EQ(ZeOptions().GetBaseDirEntry(bdeGlobal), prog + "benutzer/");
  EXPECT_EQ(ZeOptions().GetDirEntry(deGlobalConfig), prog + "benutzer/GlobConf/");
  EXPECT_EQ(ZeOptions().GetBaseDirEntry(bdeLocal), prog);
  EXPECT_EQ(ZeOptions().GetBaseDirBezeichnung(bdeBeweg), "Bewegungsdaten");
}

TEST_F(Installation, ChartOfAccountsFromKontoIni) {
  Ini("ZEMPA.INI", "[BasisVerzeichnisse]\r\nBeweg=a\r\n");
  Ini("zempa12.ini", "[BasisVerzeichnisse]\r\nBeweg=b\r\n[Defaultwerte]\r\nSKR=SKR04\r\n");
  Fibu("a", "[Konstanten]\r\nSKR= skr04 \r\n");
  Open("ZEMPA.INI");
  EXPECT_EQ(ZeOptions().SKR(), "skr04");
  EXPECT_EQ(ZeOptions().MandantNr(), "");

  // KONTO.INI from Windows is found whatever its case.
  std::filesystem::create_directories(prog + "a/Fibu");
  std::filesystem::rename(prog + "a/Fibu/Konto.ini", prog + "a/Fibu/KONTO.INI");
  EXPECT_EQ(ZeOptions().SKR(), "skr04");

  // No Konto.ini: the main file's default is used and written.
  Open("zempa12.ini");
  EXPECT_EQ(ZeOptions().MandantNr(), "12");
  std::filesystem::create_directories(prog + "b/Fibu");
  EXPECT_EQ(ZeOptions().SKR(), "SKR04");
  EXPECT_EQ(ReadBytes(prog + "b/Fibu/Konto.ini"), "[Konstanten]\r\nSKR=SKR04\r\n");

  // Without that default SKR03; without an accounting directory nothing is created.
  Ini("zempa12.ini", "[BasisVerzeichnisse]\r\nBeweg=c\r\n");
  ZeOptions().Refresh();
  EXPECT_EQ(ZeOptions().SKR(), "SKR03");
  EXPECT_FALSE(Exists(prog + "c"));
}

TEST_F(Installation, ForeignDirectoryVersion) {
  Ini("ZEMPA.INI", "[BasisVerzeichnisse]\r\nBeweg=alt\r\n");
  Fibu("alt", "[Konstanten]\r\nSKR=SKR03\r\n", "19.1");
  WriteBytes(prog + "alt/Lohn/dir.ini", "[Konstanten]\r\nVersion=18\r\n");
  Open("ZEMPA.INI");
  EXPECT_EQ(ZeOptions().GetDirVersion(deDaten), MainVersionLabel);  // no dir.ini: current

  EXPECT_FALSE(ZeOptions().CheckDirVersions());
  ASSERT_EQ(dialog.messages.size(), 1u);  // stops at the first foreign directory
  EXPECT_EQ(dialog.messages[0].text,
            "Das Verzeichnis\r\n" + prog + "alt/Fibu/\r\nentspricht der Zempa-Version 19.1.\r\n"
            "Sie benutzen jedoch die Zempa-Version 2020.\r\n\r\nUm Datenverlust zu vermeiden wird "
            "das Programm jetzt beendet.\r\nBitte führen Sie ein Update durch.");
  dialog.ctrlHeld = true;
  EXPECT_TRUE(ZeOptions().CheckDirVersions());
  EXPECT_EQ(dialog.messages.size(), 2u);

  // The switch reports the failure and asks the application to end.
  dialog.ctrlHeld = false;
  TZeMandanten m;
  EXPECT_FALSE(m.ChangeMandant(0, false));
  EXPECT_TRUE(Application().TerminateRequested());
  EXPECT_EQ(m.CurrentMandant, 0);  // it was active before the switch
  Application().ClearTerminateRequest();
  dialog.ctrlHeld = true;
  EXPECT_TRUE(m.ChangeMandant(0, false));
  EXPECT_FALSE(Application().TerminateRequested());

  ZeOptions().SetDirVersion(deFibu, MainVersionLabel);
  ZeOptions().SetDirVersion(deLohn, MainVersionLabel);
  ZeOptions().SetDirVersion(deTemp, "99");  // not a versioned directory
  EXPECT_FALSE(Exists(prog + "Temp/dir.ini"));
  const auto before = dialog.messages.size();
  EXPECT_TRUE(ZeOptions().CheckDirVersions());
  EXPECT_EQ(dialog.messages.size(), before);
}

TEST_F(Installation, SwitchingMandanten) {
  Ini("ZEMPA.INI", "[Konstanten]\r\nMandant=Haupt\r\n");
  Ini("zempa01.ini", "[BasisVerzeichnisse]\r\nBeweg=m01\r\n");
  Ini("zempa03.ini", "[Konstanten]\r\nMandant=Drei\r\n[BasisVerzeichnisse]\r\nBeweg=m03\r\nStamm=s03\r\n");
  Fibu("m03", "", "19");  // foreign version behind the gap
  Open("ZEMPA.INI");
  ASSERT_TRUE(OpenModuleCount(prog));
  AddModule();

  TZeMandanten m;
  EXPECT_EQ(m.CurrentMandant, 0);
  EXPECT_EQ(m.GetBaseDirOfMandant(2, bdeStamm), "s03");  // as written in the file
  EXPECT_EQ(m.GetBaseDirOfMandant(2, bdeLager), prog);
  EXPECT_EQ(m.GetBaseDirOfMandant(2, bdeLocal), prog);
  EXPECT_EQ(m.GetBaseDirOfMandant(0, bdeBeweg), prog);

  ASSERT_TRUE(m.ChangeMandant(1, false));
  EXPECT_EQ(m.CurrentMandant, 1);
  EXPECT_EQ(ZeOptions().MandantNr(), "01");
  EXPECT_EQ(ZeOptions().GetDirEntry(deFibu), prog + "m01/Fibu/");
  EXPECT_EQ(m.GetBaseDirOfMandant(1, bdeBeweg), prog + "m01/");

  dialog.ctrlHeld = true;
  ASSERT_TRUE(m.ChangeMandant(2, false));
  EXPECT_EQ(ZeOptions().MandantNr(), "03");
  EXPECT_EQ(m.CurrentMandant, 2);

  // The same Mandant again re-reads its file.
  Ini("zempa03.ini", "[BasisVerzeichnisse]\r\nBeweg=neu\r\n");
  dialog.ctrlHeld = false;
  ASSERT_TRUE(m.ChangeMandant(2, false));
  EXPECT_EQ(ZeOptions().GetDirEntry(deFibu), prog + "neu/Fibu/");

  m.StoreMandant();
  EXPECT_EQ(ZeRegistry().ZempaIni(), "zempa03.ini");
}

TEST_F(Installation, GlobalConfiguration) {
  Ini("ZEMPA.INI", "[Konstanten]\r\nUseGlobalConfig=1\r\nMandant=Lokal\r\n[Defaultwerte]\r\nMwstVoll=19\r\n");
  WriteBytes(prog + "GlobConf/ZEMPA.INI", "[Defaultwerte]\r\nMwstVoll=16\r\n[Konstanten]\r\nMandant=Global\r\n");
  Open("ZEMPA.INI");
  EXPECT_TRUE(ZeOptions().UseGlobalConfig());
  EXPECT_EQ(ZeOptions().GetDoubleEntry(deeMwstVoll), 16.0);
  EXPECT_EQ(ZeOptions().GetDoubleLoc(deeMwstVoll), lGlobalConf);
  EXPECT_EQ(ZeOptions().GetDoubleEntry(deeMwstErm), 7.0);  // missing everywhere: default
  EXPECT_EQ(ZeOptions().GetStringEntry(seMandant), "Global");
  EXPECT_EQ(ZeOptions().GetBoolLoc(beUseGlobalConfig), lLocalFixed);

  ZeOptions().SetDoubleEntry(deeMwstVoll, 16.5);  // written to both files
  EXPECT_NE(ReadBytes(prog + "ZEMPA.INI").find("MwstVoll=16,5\r\n"), std::string::npos);
  EXPECT_NE(ReadBytes(prog + "GlobConf/ZEMPA.INI").find("MwstVoll=16,5\r\n"), std::string::npos);

  Ini("ZEMPA.INI", "[Konstanten]\r\nUseGlobalConfig=0\r\n[Defaultwerte]\r\nMwstVoll=19\r\n");
  ZeOptions().Refresh();
  EXPECT_FALSE(ZeOptions().UseGlobalConfig());
  EXPECT_EQ(ZeOptions().GetDoubleEntry(deeMwstVoll), 19.0);
  EXPECT_EQ(ZeOptions().GetDoubleLoc(deeMwstVoll), lLocalForced);
}

TEST_F(Installation, MaintainingTheDirectory) {
  Ini("ZEMPA.INI", "[Konstanten]\r\nMandant=Haupt\r\n[Firma]\r\nName1=Muster GmbH\r\n");
  Ini("zempa01.ini", "[Konstanten]\r\nMandant=Eins\r\n");
  Ini("zempa02.ini", "[Konstanten]\r\nMandant=Zwei\r\n");
  Open("zempa02.ini");
  TZeMandanten m;
  ASSERT_EQ(m.CurrentMandant, 2);

  m.RenameMandant(1, "Filiale");
  EXPECT_EQ(TIniFile(prog + "zempa01.ini").ReadString("Konstanten", "Mandant", ""), "Filiale");
  EXPECT_EQ(TIniFile(prog + "GlobConf/zempa01.ini").ReadString("Konstanten", "Mandant", ""), "Filiale");
  m.RenameMandant(2, "Neu");  // the active one goes through the options
  EXPECT_EQ(ZeOptions().GetStringEntry(seMandant), "Neu");
  EXPECT_EQ(TIniFile(prog + "zempa02.ini").ReadString("Konstanten", "Mandant", ""), "Neu");

  Open("ZEMPA.INI");
  const int nr = m.NewMandant("Neugruendung", "/irgendwo/ZEMPA05.INI", root / "daten05", 1);
  EXPECT_EQ(nr, 3);
  EXPECT_EQ(m.IniList[3], "zempa05.ini");
  TIniFile created(prog + "zempa05.ini");
  EXPECT_EQ(created.ReadString("Konstanten", "Mandant", ""), "Neugruendung");
  EXPECT_EQ(created.ReadString("BasisVerzeichnisse", "Beweg", ""), root / "daten05");
  EXPECT_EQ(created.ReadString("BasisVerzeichnisse", "User", ""), DelBackslash(prog));
  EXPECT_EQ(created.ReadString("Firma", "Name1", ""), "Muster GmbH");

  m.ChangeMandant(2, false);
  ASSERT_EQ(m.CurrentMandant, 2);
  m.DeleteMandant(1);
  EXPECT_FALSE(Exists(prog + "zempa01.ini"));
  EXPECT_EQ(m.IniList, (std::vector<std::string>{"zempa.ini", "zempa02.ini", "zempa05.ini"}));
  EXPECT_EQ(m.CurrentMandant, 1);  // moved down with its entry
}

TEST_F(Installation, PerUserCopiesInARemoteSession) {
  Ini("ZEMPA.INI", "[Konstanten]\r\nMandant=Geteilt\r\n");
  const std::string perUser = root / "data/ZempaPro/";
  auto copy = TZeIniFile::CreateEx("ZEMPA.INI", true, true, false);
  EXPECT_EQ(copy->FileName(), perUser + "ZEMPA.INI");
  copy->WriteString("Konstanten", "Mandant", "Privat");
  EXPECT_EQ(TIniFile(prog + "ZEMPA.INI").ReadString("Konstanten", "Mandant", ""), "Geteilt");
  // An existing copy is never overwritten.
  EXPECT_EQ(TZeIniFile::CreateEx("ZEMPA.INI", true, true, false)->ReadString("Konstanten", "Mandant", ""),
            "Privat");

  auto empty = TZeCtrlIniFile::CreateEx("ZETEMP.INI", true, false, false);
  EXPECT_EQ(empty->FileName(), perUser + "ZETEMP.INI");
  EXPECT_TRUE(Exists(perUser));
  EXPECT_FALSE(Exists(perUser + "ZETEMP.INI"));

  ZeRegistry().SetProgPath(root / "paket");
  EXPECT_EQ(TZeIniFile::CreateEx("X.INI", false, false, true)->FileName(), root / "paket/X.INI");
}

}  // namespace
}  // namespace hostenv
