// Building a tag in bounded memory: the key sort and the spool against a
// plain sort with budgets small enough to spill many runs (and merge them
// in several passes); a tag built that way against one built in memory,
// byte for byte; and builds that fail part-way, which must leave the index
// file as it was and no temporary file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>

#include "CdxTestSupport.h"
#include "KeySort.h"
#include "cdx/CdxIndex.h"

using namespace cdxtest;

namespace {

using Pairs = std::vector<std::pair<std::string, std::uint32_t>>;

struct MemoryBudget {
  explicit MemoryBudget(std::size_t bytes) : saved(xbe::SortMemory()) { xbe::SetSortMemory(bytes); }
  ~MemoryBudget() { xbe::SetSortMemory(saved); }
  std::size_t saved;
};

std::vector<std::string> Files(const TempDir& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// Keys from a small alphabet (many equal keys, bytes 0x00 and 0xFF too).
std::string RandomKey(std::mt19937& rng, std::size_t len) {
  static const char alphabet[] = "AAB \x00\xFF\xC4z";
  std::string k;
  for (std::size_t i = 0; i < len; ++i) k += alphabet[rng() % (sizeof alphabet - 1)];
  return k;
}

// A table scan that fails to read one record, and counts the temporary
// files beside the index when it reaches the last one.
class Scan : public xbe::TableScan {
 public:
  Scan(MemTable& t, const TempDir& dir) : t_(t), dir_(dir) {}
  std::uint32_t RecordCount() const override { return t_.RecordCount(); }
  bool Load(std::uint32_t recno, std::string* error) override {
    if (recno == failAt) {
      *error = "read error at record " + std::to_string(recno);
      return false;
    }
    if (recno == RecordCount()) {
      const auto names = Files(dir_);
      tempFilesAtEnd = static_cast<std::size_t>(
          std::count_if(names.begin(), names.end(), [](const std::string& f) { return f[0] == '.'; }));
    }
    return t_.Load(recno, error);
  }
  const xbe::RecordAccess& Record() const override { return t_; }
  std::uint32_t failAt = 0;
  std::size_t tempFilesAtEnd = 0;

 private:
  MemTable& t_;
  const TempDir& dir_;
};

}  // namespace

TEST(KeySort, GivesAFullSortsOrderWhateverTheMemory) {
  for (std::size_t keyLen : {2u, 13u}) {
    std::mt19937 rng(static_cast<unsigned>(keyLen));
    Pairs input;
    for (int i = 0; i < 20000; ++i)
      input.emplace_back(RandomKey(rng, keyLen), 1 + static_cast<std::uint32_t>(rng() % 100000));
    Pairs want = input;
    std::sort(want.begin(), want.end());  // std::string compares bytes unsigned
    // Everything in memory; a few runs merged at once; runs of a few dozen
    // keys merged two at a time over several passes.
    for (std::size_t memory : {std::size_t{1} << 20, std::size_t{256} << 10, std::size_t{1} << 10}) {
      SCOPED_TRACE("key length " + std::to_string(keyLen) + ", memory " + std::to_string(memory));
      TempDir dir;
      const std::string beside = dir.File("x.cdx");
      {
        xbe::KeySorter sorter(beside, keyLen, memory);
        std::string err;
        for (const auto& [k, r] : input) ASSERT_TRUE(sorter.Add(k, r, &err)) << err;
        ASSERT_TRUE(sorter.Finish(&err)) << err;
        EXPECT_EQ(sorter.Runs() > 0, memory < (std::size_t{1} << 20));
        Pairs got;
        std::string_view k;
        std::uint32_t r;
        while (sorter.Next(k, r)) got.emplace_back(std::string(k), r);
        EXPECT_EQ(sorter.Error(), "");
        EXPECT_EQ(got, want);
      }
      EXPECT_TRUE(Files(dir).empty());
    }
  }
}

TEST(KeySort, SpoolGivesBackItsRecordsInOrderFromMemoryOrFile) {
  for (std::size_t memory : {std::size_t{1} << 16, std::size_t{100}}) {
    TempDir dir;
    {
      xbe::RecordSpool spool(dir.File("x.cdx"), 6, memory);
      std::string err;
      for (int i = 0; i < 3000; ++i)
        ASSERT_TRUE(spool.Append(std::to_string(100000 + i).c_str(), &err)) << err;
      ASSERT_TRUE(spool.Finish(&err)) << err;
      EXPECT_EQ(Files(dir).size(), memory < 18000 ? 1u : 0u);
      const char* rec;
      int i = 0;
      while (spool.Next(rec)) ASSERT_EQ(std::string(rec, 6), std::to_string(100000 + i++));
      EXPECT_EQ(spool.Error(), "");
      EXPECT_EQ(i, 3000);
    }
    EXPECT_TRUE(Files(dir).empty());
  }
}

TEST(CdxBuild, ASpilledBuildWritesTheSameFileAsOneInMemory) {
  MemTable t;
  t.AddField("NAME", 'C', 20);
  t.AddField("NR", 'N', 8);
  std::mt19937 rng(11);
  for (int i = 0; i < 20000; ++i) {
    auto r = t.Append();
    t.Set(r, "NAME", RandomKey(rng, 1 + rng() % 6));
    t.Set(r, "NR", std::to_string(rng() % 5000));
  }
  struct Tag {
    const char *name, *expr;
    unsigned flags;
  };
  const Tag tags[] = {{"NAME", "NAME", 0}, {"NR", "NR", xbe::kCdxUnique},
                      {"NAMED", "NAME", xbe::kCdxDescending}, {"NAME", "NAME + STR(NR, 8)", 0}};
  auto build = [&](std::size_t memory, TempDir& dir, Scan& scan) {
    MemoryBudget budget(memory);
    std::string err;
    for (const Tag& tag : tags)
      EXPECT_TRUE(xbe::CreateCdxTag(dir.File("t.cdx"), tag.name, tag.expr, "", tag.flags, scan, &err))
          << err;
    return ReadFile(dir.File("t.cdx"));
  };
  TempDir inMemory, spilled;
  Scan plain(t, inMemory), small(t, spilled);
  const std::string want = build(std::size_t{32} << 20, inMemory, plain);
  EXPECT_EQ(plain.tempFilesAtEnd, 1u);  // the copy being built, nothing else
  const std::string got = build(std::size_t{8} << 10, spilled, small);
  EXPECT_EQ(small.tempFilesAtEnd, 2u);  // the copy and the spilled runs
  EXPECT_TRUE(got == want) << "the files differ";
  EXPECT_EQ(Files(spilled), std::vector<std::string>{"t.cdx"});

  std::string err, report;
  auto file = xbe::OpenCdx(spilled.File("t.cdx"), t, false, &err);
  ASSERT_TRUE(file) << err;
  EXPECT_TRUE(file->Check(t, &report)) << report;
  // The unique tag keeps the first record of each key.
  ASSERT_EQ(file->Tag(0).Name(), "NR");
  Pairs model;
  std::set<std::string> seen;
  for (std::uint32_t r = 1; r <= t.RecordCount(); ++r) {
    std::string key;
    bool in;
    t.Load(r, nullptr);
    ASSERT_TRUE(file->Tag(0).KeyFor(t, key, in, &err)) << err;
    if (seen.insert(key).second) model.emplace_back(key, r);
  }
  std::sort(model.begin(), model.end());
  Pairs walked;
  auto c = file->Tag(0).NewCursor();
  for (bool ok = c->First(); ok; ok = c->Next()) walked.emplace_back(c->Current().key, c->Current().recno);
  EXPECT_EQ(walked, model);
}

TEST(CdxBuild, AFailedBuildLeavesTheFileAsItWasAndNoTemporaryFile) {
  MemoryBudget budget(std::size_t{8} << 10);
  TempDir dir;
  MemTable t;
  t.AddField("NAME", 'C', 12);
  std::mt19937 rng(3);
  for (int i = 0; i < 6000; ++i) t.Set(t.Append(), "NAME", RandomKey(rng, 12));
  t.Set(5999, "NAME", "TWICE");
  t.Set(77, "NAME", "TWICE");
  Scan scan(t, dir);
  const std::string path = dir.File("t.cdx");
  std::string err;
  ASSERT_TRUE(xbe::CreateCdxTag(path, "NAME", "NAME", "", 0, scan, &err)) << err;
  const std::string before = ReadFile(path);

  // Records read and runs spilled, then a record that cannot be read.
  scan.failAt = 5000;
  EXPECT_FALSE(xbe::CreateCdxTag(path, "NAME", "UPPER(NAME)", "", 0, scan, &err));
  EXPECT_NE(err.find("read error at record 5000"), std::string::npos) << err;
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(Files(dir), std::vector<std::string>{"t.cdx"});

  // All read, sorted and partly written when the duplicate turns up.
  scan.failAt = 0;
  EXPECT_FALSE(xbe::CreateCdxTag(path, "NAME", "NAME", "", xbe::kCdxCandidate, scan, &err));
  EXPECT_NE(err.find("records 77 and 5999 have the same key"), std::string::npos) << err;
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(Files(dir), std::vector<std::string>{"t.cdx"});
}
