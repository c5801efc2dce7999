// A write cut short at any byte (the process dying in the middle of it)
// must leave a file that opens and holds the state after some prefix of the
// changes: nothing earlier is ever lost.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "platform/Files.h"

using ftstest::ReadBack;
using ftstest::Row;
using ftstest::TempDir;

namespace {

struct Change {
  int kind;  // 0 add, 1 replace, 2 delete
  int recNo;
  std::string text;
};

std::vector<Row> Apply(std::vector<Row> rows, const Change& c) {
  if (c.kind == 0) rows.push_back({c.text, false});
  if (c.kind == 1) rows[c.recNo - 1].text = c.text;
  if (c.kind == 2) rows[c.recNo - 1].deleted = true;
  return rows;
}

class WriteBudget {
 public:
  explicit WriteBudget(std::int64_t bytes) { fts::IndexFile::SetWriteBudgetForTesting(bytes); }
  ~WriteBudget() { fts::IndexFile::SetWriteBudgetForTesting(-1); }
};

TEST(FtsCrash, WriteFailingAtAnyByteKeepsAPrefixOfTheChanges) {
  TempDir dir;
  const std::string file = dir.File("k.TS1");
  const std::string pristine = dir.File("pristine.TS1");
  std::vector<Row> base;
  {
    const int h = FtsCreate(pristine.c_str(), 0, 0, 0, 0);
    for (int i = 0; i < 50; ++i) {
      base.push_back({"BASE n" + std::to_string(i) + "n", false});
      ASSERT_EQ(FtsAdd(h, base.back().text.c_str()), i + 1);
    }
    ASSERT_EQ(FtsClose(h), FTS_OK);
  }
  std::vector<Change> changes;
  for (int i = 0; i < 120; ++i) {
    const int kind = i % 3;
    changes.push_back({kind, kind == 0 ? 0 : (i * 11) % 50 + 1, "CHANGE n" + std::to_string(i) + "n"});
  }
  std::vector<std::vector<Row>> states = {base};
  for (const auto& c : changes) states.push_back(Apply(states.back(), c));

  std::string original;
  ASSERT_TRUE(platform::ReadWholeFile(pristine, original));
  for (std::int64_t budget = 0; budget < 4000; budget += budget < 64 ? 1 : 23) {
    ASSERT_TRUE(platform::WriteFileAtomic(file, original));
    bool failed = false;
    {
      WriteBudget limit(budget);
      const int h = FtsOpen(file.c_str(), 1, 0);  // 1 KiB buffer: many writes
      ASSERT_GE(h, 0);
      for (const auto& c : changes) {
        int rc = c.kind == 0   ? FtsAdd(h, c.text.c_str())
                 : c.kind == 1 ? FtsReplace(h, c.text.c_str(), c.recNo)
                               : FtsDelete(h, c.recNo);
        if (rc < 0) {
          EXPECT_EQ(rc, FTS_ERR_IO);
          failed = true;
        }
      }
      if (FtsClose(h) < 0) failed = true;
    }
    int rc = 0;
    const auto rows = ReadBack(file, &rc);
    ASSERT_EQ(rc, FTS_OK) << "budget " << budget;
    bool isPrefix = false;
    for (const auto& s : states) isPrefix = isPrefix || s == rows;
    EXPECT_TRUE(isPrefix) << "budget " << budget;
    if (!failed) {
      EXPECT_EQ(rows, states.back()) << "budget " << budget;
    }
  }
}

TEST(FtsCrash, FailedRewriteLosesNothing) {
  TempDir dir;
  const std::string file = dir.File("k.TS1");
  int h = FtsCreate(file.c_str(), 0, 0, 0, 0);
  std::vector<Row> rows;
  for (int i = 0; i < 6000; ++i) {
    rows.push_back({"ENTRY n" + std::to_string(i) + "n", false});
    ASSERT_EQ(FtsAdd(h, rows.back().text.c_str()), i + 1);
  }
  // The changes are written and synced; the rewrite of the close is cut off.
  {
    WriteBudget limit(40000);  // the last buffer fits, the rewrite does not
    EXPECT_EQ(FtsClose(h), FTS_OK);
  }
  EXPECT_EQ(ReadBack(file), rows);
  fts::Decoded d;
  std::string before;
  ASSERT_TRUE(platform::ReadWholeFile(file, before));
  ASSERT_TRUE(fts::DecodeFile(before, d, nullptr));
  EXPECT_EQ(d.header.count, 0u) << "the rewrite should not have happened";

  // Without the fault the next close rewrites it, and nothing changes.
  h = FtsOpen(file.c_str(), 0, 0);
  ASSERT_EQ(FtsClose(h), FTS_OK);
  EXPECT_EQ(ReadBack(file), rows);

  // A create cut short leaves the file it would have replaced.
  {
    WriteBudget limit(10);
    EXPECT_EQ(FtsCreate(file.c_str(), 0, 0, 0, 0), FTS_ERR_IO);
  }
  EXPECT_EQ(ReadBack(file), rows);
}

}  // namespace
