// The registry store in XDG locations, its defaults and its mirror.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "hostenv/DirText.h"
#include "hostenv/IniFile.h"
#include "hostenv/Registry.h"
#include "hostenv/tests/TestSupport.h"

namespace hostenv {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

class RegistryTest : public ::testing::Test {
 protected:
  TempDir root;
  test::ScopedXdg xdg{root.Path()};
  std::string MachineStore() { return root / "etc/ZempaPro/registry.ini"; }
  std::string UserStore() { return root / "config/ZempaPro/registry.ini"; }
  std::string Mirror() { return root / "share/ZempaPro/ZempaPro.ini"; }
};

TEST(DirText, OneTrailingSeparator) {
  EXPECT_EQ(AddBackslash(""), "/");
  EXPECT_EQ(AddBackslash(" \t/opt/zempa \r\n"), "/opt/zempa/");
  EXPECT_EQ(AddBackslash("/opt/zempa/"), "/opt/zempa/");
  EXPECT_EQ(AddBackslash("d:\\daten\\"), "d:\\daten\\");  // a Windows separator counts
  EXPECT_EQ(DelBackslash("/opt/zempa/ "), "/opt/zempa");
  EXPECT_EQ(DelBackslash("d:\\daten\\"), "d:\\daten");
  EXPECT_EQ(DelBackslash("/"), "/");
  EXPECT_EQ(DelBackslash("/opt//"), "/opt/");  // only one is removed
}

TEST_F(RegistryTest, ProgPathTravelsWithoutItsSeparator) {
  TZeRegistry reg;
  EXPECT_EQ(reg.ProgPath(), "/");  // missing
  reg.SetProgPath("/opt/zempa/");
  EXPECT_EQ(TIniFile(MachineStore(), TIniFile::TEncoding::Utf8).ReadString(ProductKey, "ProgPath", ""),
            "/opt/zempa");
  EXPECT_EQ(TIniFile(Mirror()).ReadString("HKLM", "ProgPath", ""), "/opt/zempa");
  EXPECT_EQ(reg.ProgPath(), "/opt/zempa/");
  EXPECT_EQ(TZeRegistry().ProgPath(), "/opt/zempa/");  // nothing cached, other objects see it
  reg.SetProgPath("/");
  EXPECT_EQ(TIniFile(MachineStore(), TIniFile::TEncoding::Utf8).ReadString(ProductKey, "ProgPath", ""), "/");
  EXPECT_EQ(reg.ProgPath(), "/");
}

TEST_F(RegistryTest, ScopesAndDefaults) {
  TZeRegistry reg;
  EXPECT_EQ(reg.ZempaIni(), "ZEMPA.INI");
  WriteBytes(MachineStore(), "[Software\\ZEMPA Pro]\nZempaIni=zempa02.ini\n");
  EXPECT_EQ(reg.ZempaIni(), "zempa02.ini");
  reg.SetZempaIni("zempa01.ini");  // the user's choice wins, the machine value stays
  EXPECT_EQ(reg.ZempaIni(), "zempa01.ini");
  EXPECT_NE(ReadBytes(MachineStore()).find("zempa02.ini"), std::string::npos);

  EXPECT_EQ(reg.LoggedIn(), "");
  reg.SetLoggedIn("1");
  EXPECT_EQ(reg.LoggedIn(), "1");
  EXPECT_EQ(ReadBytes(MachineStore()).find("LoggedIn"), std::string::npos);
}

TEST_F(RegistryTest, VersionAndItsFallback) {
  TZeRegistry reg;
  EXPECT_EQ(reg.Version(), "");
  const std::string v63(63, '7');
  WriteBytes(MachineStore(), "[Software\\Classes\\Zempa\\Version]\n@=" + v63 + "\n");
  EXPECT_EQ(reg.Version(), v63);
  WriteBytes(MachineStore(), "[Software\\Classes\\Zempa\\Version]\n@=" + v63 + "8\n");
  EXPECT_EQ(reg.Version(), "");

  reg.SetVersion("2020.3.1");
  EXPECT_EQ(reg.Version(), "2020.3.1");
  EXPECT_EQ(TIniFile(Mirror()).ReadString("HKLM", "Version", ""), "2020.3.1");
  EXPECT_EQ(reg.VisibleVersion(), "ZEMPA 2020.3.1");
  reg.SetVersion("19.2");
  EXPECT_EQ(reg.VisibleVersion(), "ZEMPA 2020 (19.2)");
}

TEST_F(RegistryTest, NoAllUsersFolderStillWritesTheStore) {
  WriteBytes(root / "datei", "x");
  xdg.Set("XDG_DATA_DIRS", root / "datei");  // the folder cannot be created
  TZeRegistry reg;
  EXPECT_EQ(reg.AllUsersIniPath(), "");
  reg.SetVersion("2020.1");
  reg.SetProgPath("/opt/zempa");
  EXPECT_EQ(reg.Version(), "2020.1");
  EXPECT_EQ(reg.ProgPath(), "/opt/zempa/");
}

TEST_F(RegistryTest, AnUnwritableStoreRaises) {
  WriteBytes(root / "datei", "x");
  xdg.Set("XDG_CONFIG_DIRS", root / "datei");
  TZeRegistry reg;
  try {
    reg.SetProgPath("/opt/zempa");
    FAIL() << "the write must raise";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Fehler beim Setzen der Daten für 'ProgPath'");
  }
  EXPECT_EQ(reg.ProgPath(), "/");
  EXPECT_FALSE(reg.SetSecurity());
}

TEST_F(RegistryTest, SetSecurityOpensTheMachineStoreToEveryone) {
  TZeRegistry reg;
  ASSERT_TRUE(reg.SetSecurity());
  struct stat st {};
  ASSERT_EQ(::stat(MachineStore().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  ASSERT_EQ(::stat((root / "etc/ZempaPro").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0777u);
  reg.SetProgPath("/opt/zempa");  // a write keeps the permissions
  ASSERT_EQ(::stat(MachineStore().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST_F(RegistryTest, FixVistaShadowKeyMovesValuesIntoTheMachineScope) {
  TZeRegistry reg;
  EXPECT_TRUE(reg.FixVistaShadowKey());  // nothing to move
  WriteBytes(UserStore(),
             "[Software\\ZEMPA Pro]\nLoggedIn=1\n"
             "[Software\\Classes\\VirtualStore\\MACHINE\\Software\\ZEMPA Pro]\n"
             "ProgPath=/opt/alt\nVersion=2020.2\n");
  EXPECT_TRUE(reg.FixVistaShadowKey());
  EXPECT_EQ(reg.ProgPath(), "/opt/alt/");
  EXPECT_EQ(reg.Version(), "2020.2");
  EXPECT_EQ(ReadBytes(UserStore()).find("VirtualStore"), std::string::npos);
  EXPECT_EQ(reg.LoggedIn(), "1");
}

TEST_F(RegistryTest, RemoteSessionRule) {
  EXPECT_FALSE(DetectRemoteSession());
  xdg.Set("DISPLAY", ":0");
  EXPECT_FALSE(DetectRemoteSession());
  xdg.Set("DISPLAY", "unix:0.0");
  EXPECT_FALSE(DetectRemoteSession());
  xdg.Set("DISPLAY", "localhost:10.0");  // forwarded through ssh
  EXPECT_TRUE(DetectRemoteSession());
  xdg.Set("DISPLAY", "");
  xdg.Set("SSH_CONNECTION", "10.0.0.1 50000 10.0.0.2 22");
  EXPECT_TRUE(TZeRegistry().IsTerminal());
}

}  // namespace
}  // namespace hostenv
