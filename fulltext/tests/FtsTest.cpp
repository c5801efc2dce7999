#include "fulltext/Fts.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fulltext/MakeIdxStr.h"
#include "platform/Files.h"
#include "platform/UserDialog.h"

using fulltext::TFts;
using fulltext::TVerifyType;

namespace {

class TFtsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (std::filesystem::temp_directory_path() / "tfts-XXXXXX").string();
    dir_ = ::mkdtemp(templ.data());
  }
  void TearDown() override {
    fulltext::SetFtsLibraryFileForTesting("");
    std::filesystem::remove_all(dir_);
  }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  platform::RecordingUserDialog dialog_;
  platform::ScopedUserDialog scoped_{dialog_};
};

TEST_F(TFtsTest, CloseWithoutAnOpenIndex) {
  TFts fts;
  EXPECT_EQ(fts.Handle(), -100);
  EXPECT_EQ(fts.Close(), -18);
  EXPECT_EQ(fts.Handle(), -100);
  EXPECT_EQ(fts.Add("X"), -18);

  EXPECT_LT(fts.Open(File("missing.TS1"), 32, 0), 0);
  EXPECT_LT(fts.Handle(), 0);
  EXPECT_EQ(fts.Close(), -18);
  EXPECT_EQ(fts.Handle(), -100);
  EXPECT_TRUE(dialog_.messages.empty()) << "a missing index file is not reported";
}

TEST_F(TFtsTest, KeepsAnIndexThroughTheLibrary) {
  const std::string file = File("Mandant \xC3\xA4/konto.TS1");  // UTF-8 folder name
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  {
    TFts fts;
    ASSERT_GE(fts.CreateIndex(file, 32, 0, false, 0), 0);
    EXPECT_EQ(fts.Add(fulltext::MakeIdxStr("Erl\xF6se 19 % USt", false).c_str()), 1);
    EXPECT_EQ(fts.Add(fulltext::MakeIdxStr("Kasse", false).c_str()), 2);
    EXPECT_EQ(fts.Replace(fulltext::MakeIdxStr("Erl\xF6se 16 % USt", false).c_str(), 1), 0);
    EXPECT_EQ(fts.NumRecs(), 2);
    EXPECT_FALSE(fts.Version().empty());
  }  // the destructor closes, so the file is free again
  TFts a;
  ASSERT_GE(a.Open(file, 32, 0), 0);
  const int first = a.Handle();
  // Opening again closes what the object had open (else the file would be locked).
  ASSERT_GE(a.Open(file, 32, 0), 0);
  EXPECT_NE(a.Handle(), first);
  EXPECT_EQ(a.NumRecs(), 2);

  ASSERT_EQ(a.Setup(fulltext::MakeIdxStr("16", false).c_str()), 1);
  EXPECT_EQ(a.NextRec(), 1);
  EXPECT_EQ(a.NextRec(), 0);
  // The kinds reach the library as their ordinal + 1.
  EXPECT_EQ(a.Verify("ERL", nullptr, TVerifyType::VBEG), 1);
  EXPECT_EQ(a.Verify("ESE", "ERLOESE", TVerifyType::VEND), 1);
  EXPECT_EQ(a.Verify("ERL", "ERLOESE", TVerifyType::VAND), 0);
  EXPECT_EQ(a.Verify("X ERLOESE", "ERLOESE", TVerifyType::VONE), 1);
  EXPECT_EQ(a.Close(), 0);
  EXPECT_EQ(a.Handle(), -100);
  EXPECT_EQ(a.Close(), -18);
  EXPECT_TRUE(dialog_.messages.empty());
}

TEST_F(TFtsTest, MissingLibraryShowsTheBoxOncePerAttemptAndLeavesTheIndex) {
  const std::string file = File("konto.TS1");
  {
    TFts fts;
    ASSERT_GE(fts.CreateIndex(file, 32, 0, false, 0), 0);
    ASSERT_EQ(fts.Add("KASSE"), 1);
  }
  std::string before;
  ASSERT_TRUE(platform::ReadWholeFile(file, before));

  fulltext::SetFtsLibraryFileForTesting(File("libfts32.so"));
  TFts fts;
  EXPECT_EQ(fts.Open(file, 32, 0), -100);
  ASSERT_EQ(dialog_.messages.size(), 1u);
  EXPECT_EQ(dialog_.messages[0].kind, platform::MessageKind::Error);
  EXPECT_EQ(dialog_.messages[0].caption, "Fehler");
  EXPECT_EQ(dialog_.messages[0].text, "libfts32.so konnte nicht geladen werden.");
  EXPECT_FALSE(fulltext::FtsLibraryBound());
  EXPECT_EQ(fts.Replace("BANK", 1), -18);
  EXPECT_EQ(fts.Add("BANK"), -18);
  EXPECT_EQ(fts.Version(), "");
  EXPECT_EQ(fts.Open(file, 32, 0), -100);
  EXPECT_EQ(dialog_.messages.size(), 2u) << "tried again, shown again";
  EXPECT_EQ(fts.CreateIndex(file, 32, 0, false, 0), -100);
  EXPECT_EQ(dialog_.messages.size(), 3u);
  EXPECT_EQ(fts.Close(), -18);

  // A library without the entries is treated as missing, not called.
  fulltext::SetFtsLibraryFileForTesting("libm.so.6");
  EXPECT_EQ(fts.Open(file, 32, 0), -100);
  EXPECT_EQ(dialog_.messages.size(), 4u);

  std::string after;
  ASSERT_TRUE(platform::ReadWholeFile(file, after));
  EXPECT_EQ(after, before);

  // Once the library is there again, the next need binds it.
  fulltext::SetFtsLibraryFileForTesting("");
  EXPECT_GE(fts.Open(file, 32, 0), 0);
  EXPECT_EQ(fts.NumRecs(), 1);
  EXPECT_EQ(dialog_.messages.size(), 4u);
}

}  // namespace
