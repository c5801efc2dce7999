#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/FileOperation.h"
#include "platform/Files.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

class CountingProgress : public FileOpProgress {
 public:
  void Start(const std::string& t, std::uint64_t total) override {
    title = t;
    startTotal = total;
  }
  bool Update(std::uint64_t done, std::uint64_t) override {
    ++updates;
    last = done;
    return cancelAt == 0 || updates < cancelAt;
  }
  void Finish() override { finished = true; }
  std::string title;
  std::uint64_t startTotal = 0, last = 0;
  int updates = 0, cancelAt = 0;
  bool finished = false;
};

class FileOp : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("fileop_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    WriteFileAtomic((dir_ / "a.dbf").string(), std::string(3 << 20, 'a'));
    WriteFileAtomic((dir_ / "a.cdx").string(), "index");
  }
  void TearDown() override {
    InjectCopyFailureAfterChunks(0);
    fs::remove_all(dir_);
  }
  std::vector<std::string> From() const { return {(dir_ / "a.dbf").string(), (dir_ / "a.cdx").string()}; }
  std::vector<std::string> To() const {
    return {(dir_ / "SAVE" / "a.dbf").string(), (dir_ / "SAVE" / "a.cdx").string()};
  }
  fs::path dir_;
};

}  // namespace

TEST_F(FileOp, CopiesEachSourceToItsDestinationCreatingTheFolderAndOverwriting) {
  fs::create_directories(dir_ / "SAVE");
  WriteFileAtomic((dir_ / "SAVE" / "a.cdx").string(), "stale and longer than the source");
  CountingProgress p;
  const auto r = ShellFileOp(From(), To(), FileOpFunc::Copy, "Sicherung der a.dbf-Datenbank", &p);
  ASSERT_TRUE(r.ok) << r.error;
  std::string data;
  ReadWholeFile((dir_ / "SAVE" / "a.cdx").string(), data);
  EXPECT_EQ(data, "index");
  EXPECT_EQ(fs::file_size(dir_ / "SAVE" / "a.dbf"), 3u << 20);
  EXPECT_EQ(p.title, "Sicherung der a.dbf-Datenbank");
  EXPECT_EQ(p.last, p.startTotal);
  EXPECT_TRUE(p.finished);
}

TEST_F(FileOp, CancelAndFailureLeaveNoPartialFileUnderTheRealName) {
  CountingProgress p;
  p.cancelAt = 2;  // cancel during the first (3 MiB) file
  auto r = ShellFileOp(From(), To(), FileOpFunc::Copy, "t", &p);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.cancelled);
  EXPECT_FALSE(fs::exists(dir_ / "SAVE" / "a.dbf"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "SAVE"), fs::directory_iterator()), 0);

  InjectCopyFailureAfterChunks(2);
  r = ShellFileOp(From(), To(), FileOpFunc::Copy, "t", nullptr);
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.cancelled);
  EXPECT_FALSE(fs::exists(dir_ / "SAVE" / "a.dbf"));

  r = ShellFileOp({(dir_ / "missing").string()}, {(dir_ / "SAVE" / "m").string()}, FileOpFunc::Copy, "t", nullptr);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("missing"), std::string::npos);
}

// A copy between two file systems (here from a memory file system, when the
// machine has one) goes through read and write where the kernel cannot copy
// by itself; the result is the same bytes.
TEST_F(FileOp, CopiesAcrossFileSystemsByteForByte) {
  const fs::path shm = "/dev/shm";
  if (!fs::is_directory(shm) || ::access(shm.c_str(), W_OK) != 0) GTEST_SKIP() << "no /dev/shm";
  const fs::path source = shm / ("fileop_" + std::to_string(::getpid()) + ".dbf");
  std::string bytes;
  for (int i = 0; i < (5 << 18); ++i) bytes += static_cast<char>(i * 7 + (i >> 9));
  ASSERT_TRUE(WriteFileAtomic(source.string(), bytes));
  const auto r = ShellFileOp({source.string()}, {(dir_ / "SAVE" / "x.dbf").string()}, FileOpFunc::Copy, "Sicherung");
  fs::remove(source);
  ASSERT_TRUE(r.ok) << r.error;
  std::string copied;
  ASSERT_TRUE(ReadWholeFile((dir_ / "SAVE" / "x.dbf").string(), copied));
  EXPECT_TRUE(copied == bytes);
}
