// The module count across real processes: each helper is a module of its own.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "hostenv/IniFile.h"
#include "hostenv/Locations.h"
#include "hostenv/Mandanten.h"
#include "hostenv/ModuleCount.h"
#include "hostenv/tests/TestSupport.h"
#include "platform/ChildProcess.h"
#include "platform/UserDialog.h"

namespace hostenv {
namespace {

using test::TempDir;

class Module {
 public:
  explicit Module(const std::string& installDir) {
    EXPECT_TRUE(proc_.Start({HOSTENV_HELPER, installDir}));
    EXPECT_EQ(Answer(), "ready");
  }
  std::string Do(const std::string& cmd) {
    proc_.WriteLine(cmd);
    return Answer();
  }
  int Count() { return std::stoi(Do("count")); }
  void Kill() {
    proc_.Kill();
    proc_.Wait();
  }

 private:
  std::string Answer() {
    std::string line;
    return proc_.ReadLine(line) ? line : std::string("<no answer>");
  }
  platform::ChildProcess proc_;
};

class ModuleCountTest : public ::testing::Test {
 protected:
  TempDir root;
  test::ScopedXdg xdg{root.Path()};
  std::string install = root / "zempa";
  void SetUp() override { test::WriteBytes(install + "/ZEMPA.INI", "[Konstanten]\r\n"); }
};

TEST_F(ModuleCountTest, ModulesSeeEachOther) {
  Module a(install), b(install);
  EXPECT_EQ(a.Count(), 0);
  a.Do("add");
  EXPECT_EQ(a.Count(), 1);
  EXPECT_EQ(b.Count(), 1);
  b.Do("add");
  EXPECT_EQ(a.Count(), 2);
  EXPECT_EQ(b.Count(), 2);
  EXPECT_EQ(b.Count(), 2);  // reading leaves the count as it is

  // Another installation has a count of its own.
  Module other(root / "andere");
  EXPECT_EQ(other.Count(), 0);

  b.Do("remove");
  EXPECT_EQ(a.Count(), 1);
  b.Do("remove");  // nothing of b's left to take away
  EXPECT_EQ(a.Count(), 1);
}

TEST_F(ModuleCountTest, AModuleThatDiesStopsCounting) {
  Module a(install), b(install);
  a.Do("add");
  b.Do("add");
  ASSERT_EQ(a.Count(), 2);
  b.Kill();  // no shutdown
  EXPECT_EQ(a.Count(), 1);
  Module c(install);
  c.Do("add");  // may reuse the dead module's slot
  EXPECT_EQ(a.Count(), 2);
}

TEST_F(ModuleCountTest, ResetLeavesOne) {
  Module a(install), b(install), c(install);
  for (Module* m : {&a, &b, &c}) m->Do("add");
  ASSERT_EQ(a.Count(), 3);
  a.Do("reset");
  EXPECT_EQ(a.Count(), 1);
  EXPECT_EQ(b.Count(), 1);
  b.Do("remove");  // b no longer counted: a keeps its unit
  EXPECT_EQ(a.Count(), 1);
  a.Do("reset");  // with a count of 1 nothing changes
  EXPECT_EQ(c.Count(), 1);
}

TEST_F(ModuleCountTest, MandantSwitchWaitsForOtherModules) {
  SetHostProgramDirectory(install);
  ASSERT_TRUE(OpenModuleCount(install));
  AddModule();
  CreateZeOptions();
  platform::RecordingUserDialog dialog;
  platform::ScopedUserDialog scoped(dialog);
  {
    Module other(install);
    other.Do("add");
    ASSERT_EQ(GetModuleCount(), 2);
    TZeMandanten mandanten;
    ASSERT_EQ(mandanten.Count(), 1);
    EXPECT_FALSE(mandanten.ChangeMandant(0, false));
    ASSERT_EQ(dialog.messages.size(), 1u);
    EXPECT_EQ(dialog.messages[0].text.substr(0, 94),
              "Das Wechseln des Mandanten ist nur möglich,\r\nwenn alle anderen ZEMPA-Module "
              "geschlossen sind.");
    EXPECT_EQ(mandanten.CurrentMandant, -1);
    EXPECT_EQ(ZeOptions().ZempaIni(), nullptr);

    dialog.ctrlHeld = true;  // the operator override resets the count
    EXPECT_FALSE(mandanten.ChangeMandant(0, false));
    EXPECT_EQ(GetModuleCount(), 1);
    EXPECT_EQ(other.Count(), 1);
    dialog.ctrlHeld = false;
    EXPECT_TRUE(mandanten.ChangeMandant(0, false));
    EXPECT_EQ(mandanten.CurrentMandant, 0);
    EXPECT_EQ(dialog.messages.size(), 2u);
  }
  ReleaseZeOptions();
  CloseModuleCount();
  SetHostProgramDirectory("");
}

// Two modules writing different keys of one settings file at the same time:
// neither write may get lost.
TEST_F(ModuleCountTest, ConcurrentWritersKeepEveryValue) {
  const std::string file = install + "/ZEMPA.INI";
  Module a(install), b(install);
  a.Do("count");
  const std::string cmdA = "write " + file + " a 80", cmdB = "write " + file + " b 80";
  std::thread ta([&] { EXPECT_EQ(a.Do(cmdA), "ok"); });
  EXPECT_EQ(b.Do(cmdB), "ok");
  ta.join();
  const TIniFile ini(file);
  int missing = 0;
  for (int i = 0; i < 80; ++i) {
    missing += ini.ReadString("Test", "a" + std::to_string(i), "") != std::to_string(i);
    missing += ini.ReadString("Test", "b" + std::to_string(i), "") != std::to_string(i);
  }
  EXPECT_EQ(missing, 0);
  EXPECT_TRUE(ini.SectionExists("Konstanten"));
}

TEST_F(ModuleCountTest, UnopenedCountReadsZero) {
  TModuleCount count;
  EXPECT_EQ(count.Count(), 0);
  EXPECT_FALSE(count.Add());
  test::WriteBytes(root / "datei", "x");
  xdg.Set("XDG_RUNTIME_DIR", root / "datei");  // below a regular file
  EXPECT_FALSE(count.Open(install));
  EXPECT_EQ(count.Count(), 0);
}

}  // namespace
}  // namespace hostenv
