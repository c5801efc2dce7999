// Module start-up and shutdown on a real installation in a temporary folder:
// the kinds of module, the count, the registry values, ZETEMP.INI, the main
// settings file and the stop on foreign directory versions.
#include <gtest/gtest.h>

#include <filesystem>

#include "hostenv/Locations.h"
#include "hostenv/MandantStyle.h"
#include "hostenv/ModuleCount.h"
#include "hostenv/ModuleStartup.h"
#include "hostenv/Options.h"
#include "hostenv/Registry.h"
#include "hostenv/ZeIniFile.h"
#include "hostenv/tests/TestSupport.h"
#include "platform/ChildProcess.h"
#include "platform/UserDialog.h"

namespace hostenv {
namespace {

// Another module of the installation in its own process.
class OtherModule {
 public:
  explicit OtherModule(const std::string& installDir) {
    EXPECT_TRUE(proc_.Start({HOSTENV_HELPER, installDir}));
    EXPECT_EQ(Answer(), "ready");
  }
  std::string Command(const std::string& cmd) {
    proc_.WriteLine(cmd);
    return Answer();
  }

 private:
  std::string Answer() {
    std::string line;
    return proc_.ReadLine(line) ? line : std::string("<no answer>");
  }
  platform::ChildProcess proc_;
};

using test::ReadBytes;
using test::WriteBytes;

class StartupTest : public ::testing::Test {
 protected:
  test::TempDir root;
  test::ScopedXdg xdg{root.Path()};
  std::string prog = root / "zempa/";
  platform::RecordingUserDialog dialog;
  platform::ScopedUserDialog scoped{dialog};

  void SetUp() override {
    std::filesystem::create_directories(prog);
    SetHostProgramDirectory(prog);
    WriteBytes(prog + "ZEMPA.INI", "[Konstanten]\r\nMandant=Haupt\r\n");
    CreateZeRegistry();
    ZeRegistry().SetLoggedIn("anna");
  }
  void TearDown() override {
    ModuleShutdown();
    ReleaseZeRegistry();
    SetHostProgramDirectory("");
  }
  TStartupResult Start(const std::string& file) { return ModuleStartup(prog + file); }
};

TEST(ModuleKind, ByProgramFileName) {
  EXPECT_EQ(ModuleKindOf("/opt/zempa/USt2020"), TModuleKind::mkModule);
  EXPECT_EQ(ModuleKindOf("Setup_2020.exe"), TModuleKind::mkSetup);
  EXPECT_EQ(ModuleKindOf("/x/updatexy.EXE"), TModuleKind::mkSetup);
  EXPECT_EQ(ModuleKindOf("telvor.exe"), TModuleKind::mkSupport);
  EXPECT_EQ(ModuleKindOf("TELVOR2.EXE"), TModuleKind::mkModule);
  EXPECT_EQ(ModuleKindOf("/setup/USt2020"), TModuleKind::mkModule);  // the directory does not count
}

TEST_F(StartupTest, OrdinaryModuleSetsUpAndTearsDown) {
  WriteBytes(prog + "ZETEMP.INI", "[Reg]\r\nVersion=20.4.1\r\n");
  ASSERT_EQ(Start("USt2020"), TStartupResult::srContinue);
  const auto& st = ModuleStartupState();
  EXPECT_TRUE(st.counted);
  EXPECT_TRUE(st.optionsCreated);
  EXPECT_EQ(GetModuleCount(), 1);
  EXPECT_EQ(ZeRegistry().ProgPath(), prog);  // case kept
  EXPECT_EQ(ZeRegistry().Version(), "20.4.1");
  ASSERT_TRUE(ZeOptionsExists());
  EXPECT_EQ(ZeOptions().ZempaIni()->FileName(), prog + "ZEMPA.INI");
  ASSERT_NE(ZeCtrlIni(), nullptr);
  // A second start-up in the same process changes nothing.
  EXPECT_EQ(Start("USt2020"), TStartupResult::srContinue);
  EXPECT_EQ(GetModuleCount(), 1);

  ModuleShutdown();
  EXPECT_FALSE(ZeOptionsExists());
  EXPECT_EQ(ZeCtrlIni(), nullptr);
  EXPECT_EQ(ZeRegistry().LoggedIn(), "");  // the last counted module
  EXPECT_TRUE(dialog.messages.empty());
}

TEST_F(StartupTest, VersionGoesIntoControlFileWhenMissing) {
  ZeRegistry().SetVersion("20.5");
  ASSERT_EQ(Start("USt2020"), TStartupResult::srContinue);
  EXPECT_EQ(TIniFile(prog + "ZETEMP.INI").ReadString("Reg", "Version", ""), "20.5");
}

TEST_F(StartupTest, RemoteSessionNeverReadsTheControlFileVersion) {
  xdg.Set("SSH_CONNECTION", "10.0.0.1 5000 10.0.0.2 22");
  WriteBytes(prog + "ZETEMP.INI", "[Reg]\r\nVersion=alt\r\n");
  ZeRegistry().SetVersion("20.6");
  ASSERT_EQ(Start("USt2020"), TStartupResult::srContinue);
  EXPECT_EQ(ZeRegistry().Version(), "20.6");
  ASSERT_NE(ZeCtrlIni(), nullptr);
  EXPECT_NE(ZeCtrlIni()->FileName(), prog + "ZETEMP.INI");  // the user's own file
  EXPECT_EQ(ZeCtrlIni()->ReadString("Reg", "Version", ""), "20.6");
  EXPECT_EQ(TIniFile(prog + "ZETEMP.INI").ReadString("Reg", "Version", ""), "alt");
}

TEST_F(StartupTest, MissingMainFileFallsBackAndCorrectsRegistry) {
  ZeRegistry().SetZempaIni("zempa05.ini");
  ASSERT_EQ(Start("USt2020"), TStartupResult::srContinue);
  EXPECT_EQ(ZeOptions().ZempaIni()->FileName(), prog + "ZEMPA.INI");
  EXPECT_EQ(ZeRegistry().ZempaIni(), "ZEMPA.INI");

  ModuleShutdown();
  WriteBytes(prog + "zempa01.ini", "[Konstanten]\r\n");
  ZeRegistry().SetZempaIni("ZEMPA01.INI");  // written on Windows, found as it is
  ASSERT_EQ(Start("USt2020"), TStartupResult::srContinue);
  EXPECT_EQ(ZeOptions().MandantNr(), "01");
  EXPECT_EQ(ZeRegistry().ZempaIni(), "ZEMPA01.INI");
}

TEST_F(StartupTest, SetupToolCountsButHasNoOptions) {
  ASSERT_EQ(Start("Setup_2020.exe"), TStartupResult::srContinue);
  EXPECT_TRUE(ModuleStartupState().counted);
  EXPECT_FALSE(ZeOptionsExists());
  EXPECT_EQ(GetModuleCount(), 1);
  ModuleShutdown();
  EXPECT_EQ(ZeRegistry().LoggedIn(), "");
}

TEST_F(StartupTest, SupportToolIsNotCountedAndAlwaysOpensMainFile) {
  WriteBytes(prog + "zempa01.ini", "[Konstanten]\r\n");
  ZeRegistry().SetZempaIni("zempa01.ini");
  ASSERT_EQ(Start("TELVOR.EXE"), TStartupResult::srContinue);
  EXPECT_FALSE(ModuleStartupState().counted);
  EXPECT_EQ(GetModuleCount(), 0);
  EXPECT_EQ(ZeOptions().ZempaIni()->FileName(), prog + "ZEMPA.INI");
  EXPECT_EQ(ZeRegistry().ZempaIni(), "zempa01.ini");
  ModuleShutdown();
  EXPECT_EQ(ZeRegistry().LoggedIn(), "anna");
}

TEST_F(StartupTest, LoginMarkerStaysWhileOtherModulesRun) {
  // Another counted module of the installation, in its own process.
  OtherModule other(prog);
  ASSERT_EQ(other.Command("add"), "ok");
  ASSERT_EQ(Start("USt2020"), TStartupResult::srContinue);
  EXPECT_EQ(GetModuleCount(), 2);
  ModuleShutdown();
  EXPECT_EQ(ZeRegistry().LoggedIn(), "anna");
  EXPECT_EQ(other.Command("count"), "1");
}

TEST_F(StartupTest, ForeignDirectoryVersionStops) {
  WriteBytes(prog + "Fibu/dir.ini", "[Konstanten]\r\nVersion=2019\r\n");
  EXPECT_EQ(Start("USt2020"), TStartupResult::srStop);
  ASSERT_EQ(dialog.messages.size(), 1u);
  EXPECT_NE(dialog.messages[0].text.find("Zempa-Version 2019"), std::string::npos);
  // The shutdown still releases everything.
  ModuleShutdown();
  EXPECT_FALSE(ZeOptionsExists());
  EXPECT_EQ(ZeRegistry().LoggedIn(), "");

  dialog.ctrlHeld = true;  // the operator override
  EXPECT_EQ(Start("USt2020"), TStartupResult::srContinue);
}

TEST_F(StartupTest, StyleOfTheMandantIsApplied) {
  WriteBytes(prog + "Style/Dunkel.qss", "/* Style: Dunkel */\n");
  WriteBytes(prog + "ZEMPA.INI", "[Konstanten]\r\nStyleName=Dunkel\r\n");
  ASSERT_EQ(Start("USt2020"), TStartupResult::srContinue);
  EXPECT_TRUE(MandantStyle().StylingEnabled());
  EXPECT_EQ(MandantStyle().StyleName(), "Dunkel");
  EXPECT_EQ(StyleManager().ActiveName(), "Dunkel");
  StyleManager().SetSystemStyle();
}

}  // namespace
}  // namespace hostenv
