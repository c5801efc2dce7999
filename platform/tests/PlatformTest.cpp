#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/RandomFile.h"
#include "platform/Time.h"

namespace fs = std::filesystem;
using namespace platform;

TEST(Encoding, RoundTripsEveryByteAndRejectsWhatWin1252Lacks) {
  std::string all;
  for (int i = 1; i < 256; ++i) all += static_cast<char>(i);
  const std::string utf8 = Win1252ToUtf8(all);
  EXPECT_EQ(Utf8ToWin1252(utf8).value(), all);
  EXPECT_EQ(Win1252ToUtf8("\x80\xE4\xDF"), "\u20AC\u00E4\u00DF");
  EXPECT_EQ(Win1252ToUtf8("\x81"), "\u0081");  // undefined byte -> C1 control
  EXPECT_FALSE(Utf8ToWin1252("\u4E2D").has_value());
  EXPECT_FALSE(Utf8ToWin1252("\xC3").has_value());  // truncated sequence
  EXPECT_EQ(Utf8ToWin1252Lossy("a\u4E2Db"), "a?b");
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("platform_test_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(TempDir, ResolvesNamesWithoutRegardToCase) {
  fs::create_directories(dir_ / "Fibu");
  WriteFileAtomic((dir_ / "Fibu" / "KONTO.DBF").string(), "x");
  EXPECT_EQ(ResolveNoCase((dir_ / "fibu" / "konto.dbf").string()),
            (dir_ / "Fibu" / "KONTO.DBF").string());
  // Nothing on disk: kept as formed.
  EXPECT_EQ(ResolveNoCase((dir_ / "fibu" / "new.dbf").string()), (dir_ / "Fibu" / "new.dbf").string());
  EXPECT_EQ(NativeSeparators("C:\\DATEN\\fibu/x"), "C:/DATEN/fibu/x");
}

TEST_F(TempDir, AtomicWriteReplacesAndLeavesNoTemporaryFile) {
  const std::string p = (dir_ / "a.ini").string();
  ASSERT_TRUE(WriteFileAtomic(p, "one"));
  ASSERT_TRUE(WriteFileAtomic(p, "two"));
  std::string data;
  ASSERT_TRUE(ReadWholeFile(p, data));
  EXPECT_EQ(data, "two");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
  std::string err;
  EXPECT_FALSE(WriteFileAtomic((dir_ / "missing" / "b").string(), "x", &err));
  EXPECT_NE(err.find("missing"), std::string::npos);
}

TEST_F(TempDir, FileBesideTakesTheTargetsModeAndGoesUnlessItReplacesIt) {
  const std::string p = (dir_ / "t.cdx").string();
  ASSERT_TRUE(WriteFileAtomic(p, "old"));
  fs::permissions(p, fs::perms(0640));
  {
    TempFileBeside abandoned;
    ASSERT_TRUE(abandoned.Create(p));
    EXPECT_EQ(fs::path(abandoned.Path()).parent_path(), dir_);
    EXPECT_EQ(fs::status(abandoned.Path()).permissions(), fs::perms(0640));
    ASSERT_TRUE(abandoned.CopyFrom(p));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

  TempFileBeside next;
  ASSERT_TRUE(next.Create(p));
  ASSERT_TRUE(next.CopyFrom(p));
  std::string data;
  ASSERT_TRUE(ReadWholeFile(next.Path(), data));
  EXPECT_EQ(data, "old");
  ASSERT_TRUE(WriteFileAtomic(next.Path(), "new"));
  ASSERT_TRUE(next.ReplaceTarget());
  EXPECT_EQ(next.Path(), "");
  ASSERT_TRUE(ReadWholeFile(p, data));
  EXPECT_EQ(data, "new");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(TempDir, ScratchFileBesideIsOnlyOursEvenBesideAReadOnlyFile) {
  const std::string p = (dir_ / "t.cdx").string();
  ASSERT_TRUE(WriteFileAtomic(p, "old"));
  fs::permissions(p, fs::perms(0444));
  {
    TempFileBeside scratch;
    ASSERT_TRUE(scratch.CreateScratch(p));
    EXPECT_EQ(fs::path(scratch.Path()).parent_path(), dir_);
    EXPECT_EQ(fs::status(scratch.Path()).permissions(), fs::perms(0600));
    RandomFile f;
    EXPECT_TRUE(f.Open(scratch.Path(), true));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST(Time, DelphiDatesRoundTrip) {
  const LocalDateTime t{2020, 7, 1, 12, 30, 0, 0};
  const double v = ToDelphiDateTime(t);
  EXPECT_DOUBLE_EQ(v, 44013.0 + 0.5 + 30.0 / 1440.0);
  const auto back = FromDelphiDateTime(v);
  EXPECT_EQ(back.year, 2020);
  EXPECT_EQ(back.month, 7);
  EXPECT_EQ(back.day, 1);
  EXPECT_EQ(back.minute, 30);
  EXPECT_FALSE(IsValidDate(2020, 2, 30));
  EXPECT_TRUE(IsValidDate(2020, 2, 29));
}
