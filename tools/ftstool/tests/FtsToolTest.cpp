// ftstool as a user runs it: a real process on real files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "fulltext/MakeIdxStr.h"
#include "platform/ChildProcess.h"
#include "platform/Encoding.h"
#include "platform/Files.h"

namespace {

class FtsToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (std::filesystem::temp_directory_path() / "ftstool-XXXXXX").string();
    dir_ = ::mkdtemp(templ.data());
    file_ = dir_ + "/konto.TS1";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  platform::ProcessResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), std::string(UST_BIN_DIR) + "/ftstool");
    return platform::RunProcess(args);
  }
  std::string Ok(std::vector<std::string> args) {
    const auto r = Run(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  }

  std::string dir_, file_;
};

TEST_F(FtsToolTest, KeepsAndSearchesAnIndex) {
  Ok({"create", file_});
  EXPECT_EQ(Ok({"add", file_, "Erl\xC3\xB6se 19 % USt"}), "1\n");
  EXPECT_EQ(Ok({"add", file_, "Bank 1.200,50"}), "2\n");
  EXPECT_EQ(Ok({"add", file_, "Umsatzsteuer 16%"}), "3\n");
  EXPECT_EQ(Ok({"add", "--raw", file_, "caf\xC3\xA9 x"}), "4\n");
  Ok({"replace", file_, "2", "Kasse  Bank  "});
  Ok({"delete", file_, "3"});
  EXPECT_EQ(Ok({"dump", file_}),
            "1\t \tERLOESE n19n % UST\n"
            "2\t \tKASSE BANK\n"
            "3\t*\tUMSATZSTEUER n16n%\n"
            "4\t \tcaf\xC3\xA9 x\n");

  EXPECT_EQ(Ok({"search", file_, "erl\xC3\xB6se"}), "1\n");
  EXPECT_EQ(Ok({"search", file_, "--mode", "beg", "ERL"}), "1\n");
  EXPECT_EQ(Ok({"search", file_, "--mode", "beg", "1*"}), "1\n") << "\"1*\" begins n19n";
  EXPECT_EQ(Ok({"search", file_, "--mode", "end", "ank"}), "2\n");
  EXPECT_EQ(Ok({"search", file_, "--mode", "one", "bank ust"}), "1\n2\n");
  EXPECT_EQ(Ok({"search", file_, "--mode", "beg", "16"}), "") << "deleted entries are not found";
  Ok({"undelete", file_, "3"});
  EXPECT_EQ(Ok({"search", file_, "--mode", "beg", "16"}), "3\n") << "n16n begins n16n%";
}

TEST_F(FtsToolTest, FailuresExitNonZeroAndChangeNothing) {
  Ok({"create", file_});
  Ok({"add", file_, "Kasse"});
  std::string before;
  ASSERT_TRUE(platform::ReadWholeFile(file_, before));

  auto r = Run({"replace", file_, "2", "Bank"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("record number out of range"), std::string::npos) << r.err;
  r = Run({"add", file_, "\xE2\x9C\x93"});  // no Windows-1252 form
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("Windows-1252"), std::string::npos) << r.err;
  EXPECT_EQ(Run({"replace", file_, "x", "Bank"}).exitCode, 1);
  EXPECT_EQ(Run({"search", file_, "--mode", "middle", "Bank"}).exitCode, 1);
  r = Run({"dump", dir_ + "/none.TS1"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("file not found"), std::string::npos) << r.err;

  // A table that cannot be read, or an expression that does not evaluate,
  // leaves an existing index as it was.
  EXPECT_EQ(Run({"build", dir_ + "/none.dbf", "BEZ", file_}).exitCode, 2);
  std::string after;
  ASSERT_TRUE(platform::ReadWholeFile(file_, after));
  EXPECT_EQ(after, before);
}

// Building over the fixture account table: one entry per record in record
// order, the label as the host indexes it, deleted records marked.
TEST_F(FtsToolTest, BuildsTheIndexOfATable) {
  const std::string fixtures = UST_FIXTURES_DIR "/xbase";
  std::string manifest;
  if (!platform::ReadWholeFile(fixtures + "/konto.manifest", manifest)) {
    GTEST_SKIP() << "fixtures folder not found: " << fixtures;
  }
  std::string expected;
  std::istringstream lines(manifest);
  int records = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("REC\t", 0) != 0) continue;
    std::vector<std::string> cols;
    std::istringstream fields(line);
    for (std::string c; std::getline(fields, c, '\t');) cols.push_back(c);
    ASSERT_GE(cols.size(), 5u);
    ++records;
    expected += cols[1] + "\t" + (cols[2] == "*" ? "*" : " ") + "\t" +
                platform::Win1252ToUtf8(fulltext::MakeIdxStr(cols[4], false)) + "\n";
  }
  ASSERT_EQ(records, 3000);

  // An existing index is replaced whole.
  Ok({"create", file_});
  Ok({"add", file_, "Old"});
  Ok({"build", fixtures + "/konto.dbf", "BEZ", file_});
  const std::string dump = Ok({"dump", file_});
  EXPECT_EQ(dump, expected);
  // The index answers searches on the labels.
  EXPECT_FALSE(Ok({"search", file_, "Skonti"}).empty());

  // An expression the engine refuses leaves the index as it was.
  std::string before;
  ASSERT_TRUE(platform::ReadWholeFile(file_, before));
  EXPECT_EQ(Run({"build", fixtures + "/konto.dbf", "NOSUCHFIELD + 1", file_}).exitCode, 2);
  std::string after;
  ASSERT_TRUE(platform::ReadWholeFile(file_, after));
  EXPECT_TRUE(after == before);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/.konto.TS1.build"));
}

}  // namespace
