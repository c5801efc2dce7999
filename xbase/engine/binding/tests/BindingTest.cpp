// TXBEEngine against the real library and against broken ones.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "hostenv/Application.h"
#include "platform/Files.h"
#include "platform/UserDialog.h"
#include "xbase/engine/binding/XBE50.h"

namespace fs = std::filesystem;

namespace {

class BindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("xbe_binding_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_ / "prog");
    fs::create_directories(dir_ / "cwd");
    hostenv::Application().ClearTerminateRequest();
  }
  void TearDown() override {
    hostenv::Application().ClearTerminateRequest();
    fs::remove_all(dir_);
  }
  std::string Prog() const { return (dir_ / "prog").string(); }
  std::string Cwd() const { return (dir_ / "cwd").string(); }

  fs::path dir_;
  platform::RecordingUserDialog dialog_;
  platform::ScopedUserDialog scoped_{dialog_};
};

const std::string kMessage = "Unable to load required xBase engine library: libxbe50.so";

TEST_F(BindingTest, LoadsFromProgramDirectoryThenCurrentDirectory) {
  fs::copy_file(fs::path(UST_BIN_DIR) / "libxbe50.so", dir_ / "cwd" / "libxbe50.so");
  {
    TXBEEngine engine(Prog(), Cwd());
    ASSERT_TRUE(engine.m_bIsLoaded) << engine.LoadError();
    EXPECT_EQ(TXBEEngine::Current(), &engine);
    EXPECT_NE(std::string(engine.Entries().xb_Version()), "");
    EXPECT_EQ(engine.SetMachineCollation(), 1);
    EXPECT_TRUE(engine.LoadDLLs());  // already loaded: true at once
    engine.FreeDLLs();
    EXPECT_FALSE(engine.m_bIsLoaded);
    EXPECT_EQ(engine.Entries().xb_Version, nullptr);
  }
  EXPECT_EQ(TXBEEngine::Current(), nullptr);
  EXPECT_TRUE(dialog_.messages.empty());
  EXPECT_FALSE(hostenv::Application().TerminateRequested());
}

TEST_F(BindingTest, AbsentLibraryIsSilentUntilLoadIsAsked) {
  TXBEEngine engine(Prog(), Cwd());
  EXPECT_FALSE(engine.m_bIsLoaded);
  EXPECT_TRUE(dialog_.messages.empty());
  EXPECT_FALSE(engine.LoadDLLs());
  ASSERT_EQ(dialog_.messages.size(), 1u);
  EXPECT_EQ(dialog_.messages[0].kind, platform::MessageKind::Error);
  EXPECT_EQ(dialog_.messages[0].text, kMessage);
  EXPECT_TRUE(hostenv::Application().TerminateRequested());
}

TEST_F(BindingTest, MissingEntryOrBrokenFileFailsTheLoad) {
  fs::copy_file(fs::path(UST_BIN_DIR) / "libxbe50_partial.so", dir_ / "prog" / "libxbe50.so");
  {
    TXBEEngine engine(Prog(), Cwd());
    EXPECT_FALSE(engine.m_bIsLoaded);
    EXPECT_NE(engine.LoadError().find("xb_CheckIndexes"), std::string::npos) << engine.LoadError();
    EXPECT_EQ(engine.Entries().xb_Use, nullptr);
    ASSERT_EQ(dialog_.messages.size(), 1u);
    EXPECT_EQ(dialog_.messages[0].text, kMessage);
    EXPECT_TRUE(hostenv::Application().TerminateRequested());
  }
  dialog_.messages.clear();
  ASSERT_TRUE(platform::WriteFileAtomic((dir_ / "prog" / "libxbe50.so").string(), "not a library"));
  TXBEEngine engine(Prog(), Cwd());
  EXPECT_FALSE(engine.m_bIsLoaded);
  ASSERT_EQ(dialog_.messages.size(), 1u);
  EXPECT_EQ(dialog_.messages[0].text, kMessage);
}

}  // namespace
