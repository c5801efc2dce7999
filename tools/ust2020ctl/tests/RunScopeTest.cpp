// Ctrl-C during a run of convert or preview: a real SIGINT to this process
// cancels the backup copy in progress, never a restore, and only while the
// run lasts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/FileOperation.h"
#include "tools/ust2020ctl/RunOutput.h"

namespace {

namespace fs = std::filesystem;

struct Files {
  Files() {
    dir = fs::temp_directory_path() / ("runscope_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "konto.dbf") << std::string(3 << 20, 'x');
  }
  ~Files() { fs::remove_all(dir); }
  platform::FileOpResult Copy(const std::string& title, const std::string& to) {
    return platform::ShellFileOp({(dir / "konto.dbf").string()}, {(dir / to).string()},
                                 platform::FileOpFunc::Copy, title);
  }
  fs::path dir;
};

TEST(RunScope, CtrlCCancelsABackupButNeverARestore) {
  Files files;
  const auto previous = std::signal(SIGINT, SIG_IGN);
  {
    ust2020ctl::RunScope run;
    EXPECT_FALSE(ust2020ctl::Interrupted());
    EXPECT_TRUE(files.Copy("Sicherung der konto.dbf-Datenbank", "a.dbf").ok);

    std::raise(SIGINT);
    EXPECT_TRUE(ust2020ctl::Interrupted());
    const auto backup = files.Copy("Sicherung der konto.dbf-Datenbank", "SAVE/konto.dbf");
    EXPECT_FALSE(backup.ok);
    EXPECT_TRUE(backup.cancelled);
    EXPECT_FALSE(fs::exists(files.dir / "SAVE/konto.dbf"));
    EXPECT_TRUE(fs::is_empty(files.dir / "SAVE")) << "no temporary copy left behind";

    EXPECT_TRUE(files.Copy("Wiederherstellung der konto.dbf-Datenbank", "b.dbf").ok);
  }
  // After the run the handler and the (absent) progress window are back.
  EXPECT_EQ(platform::CurrentFileOpProgress(), nullptr);
  EXPECT_EQ(std::signal(SIGINT, previous), SIG_IGN);
}

}  // namespace
