// Index checks on a small sort budget: the tree's entries and the table's
// keys then pass through temporary files beside the index. A damaged index
// must give the same findings as with the full budget, the files must go
// whatever happens, and a check that cannot write them must say so.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "CdxTestSupport.h"
#include "KeySort.h"
#include "cdx/CdxIndex.h"
#include "cdx/CdxKeys.h"
#include "ntx/NtxIndex.h"

using namespace cdxtest;

namespace {

constexpr std::size_t kSmallBudget = std::size_t{16} << 10;

struct Budget {
  explicit Budget(std::size_t bytes) : saved(xbe::SortMemory()) { xbe::SetSortMemory(bytes); }
  ~Budget() { xbe::SetSortMemory(saved); }
  Budget(const Budget&) = delete;
  Budget& operator=(const Budget&) = delete;
  std::size_t saved;
};

// 3000 records. NR repeats (0..999); NAME starts with the letter
// 'A' + recno % 26, so the first 26 records are the first of their letter.
void Fill(MemTable& t) {
  t.AddField("NR", 'N', 8);
  t.AddField("NAME", 'C', 12);
  std::mt19937 rng(11);
  for (std::uint32_t i = 1; i <= 3000; ++i) {
    const auto r = t.Append();
    t.Set(r, "NR", std::to_string(i * 7919 % 1000));
    std::string name(1, static_cast<char>('A' + i % 26));
    for (int k = 0; k < 11; ++k) name += static_cast<char>('a' + rng() % 26);
    t.Set(r, "NAME", name);
  }
}

std::string KeyOf(xbe::IndexTag& tag, MemTable& t, std::uint32_t rec) {
  std::string key, err;
  bool included = false;
  t.Load(rec, nullptr);
  EXPECT_TRUE(tag.KeyFor(t, key, included, &err)) << err;
  return key;
}

struct Result {
  bool ok = false;
  std::string report;
};

Result CheckWith(xbe::IndexFile& file, MemTable& t, std::size_t budget) {
  Budget b(budget);
  Result r;
  r.ok = file.Check(t, &r.report);
  return r;
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

void ExpectLines(const std::string& report, std::initializer_list<const char*> lines) {
  for (const char* line : lines)
    EXPECT_NE(report.find(std::string(line) + "\n"), std::string::npos) << line << "\n" << report;
}

}  // namespace

TEST(CheckSpill, CdxFindingsDoNotDependOnTheBudget) {
  TempDir dir;
  MemTable t;
  Fill(t);
  const std::string path = dir.File("s.cdx");
  std::string err;
  ASSERT_TRUE(xbe::CreateCdxTag(path, "NR", "NR", "", 0, t, &err)) << err;
  ASSERT_TRUE(xbe::CreateCdxTag(path, "NAME", "NAME", "", 0, t, &err)) << err;
  ASSERT_TRUE(xbe::CreateCdxTag(path, "FIRST", "LEFT(NAME, 1)", "", xbe::kCdxUnique, t, &err)) << err;
  ASSERT_TRUE(xbe::CreateCdxTag(path, "BIG", "NR", "NR > 500", 0, t, &err)) << err;
  auto file = xbe::OpenCdx(path, t, true, &err);
  ASSERT_TRUE(file) << err;
  for (std::size_t budget : {xbe::SortMemory(), kSmallBudget}) {
    const Result sound = CheckWith(*file, t, budget);
    EXPECT_TRUE(sound.ok) << sound.report;
    EXPECT_EQ(sound.report, "");
  }

  xbe::IndexTag& nr = file->Tag(0);
  xbe::IndexTag& name = file->Tag(1);
  xbe::IndexTag& big = file->Tag(3);
  // NR: a key missing, a record twice, an entry beyond the table, a wrong key.
  ASSERT_TRUE(nr.Remove({KeyOf(nr, t, 18), 18}, &err)) << err;
  ASSERT_TRUE(nr.Insert({KeyOf(nr, t, 20), 19}, &err)) << err;
  ASSERT_TRUE(nr.Insert({KeyOf(nr, t, 21), 3005}, &err)) << err;
  const std::string oldKey17 = KeyOf(nr, t, 17);
  t.Set(17, "NR", "4711");
  // NAME: more findings than are shown.
  for (std::uint32_t r = 100; r < 160; ++r) ASSERT_TRUE(name.Remove({KeyOf(name, t, r), r}, &err)) << err;
  // FIRST: record 2 now starts with Z, ahead of record 25, and is no
  // longer the first C (record 28 is).
  t.Set(2, "NAME", "Zebra");
  // BIG: a record its condition leaves out.
  std::uint32_t small = 1;
  while (small * 7919 % 1000 > 500) ++small;
  ASSERT_TRUE(big.Insert({KeyOf(nr, t, small), small}, &err)) << err;

  const Result full = CheckWith(*file, t, xbe::SortMemory());
  const Result spilled = CheckWith(*file, t, kSmallBudget);
  EXPECT_FALSE(full.ok);
  EXPECT_FALSE(spilled.ok);
  EXPECT_EQ(spilled.report, full.report);
  ExpectLines(full.report,
              {"tag NR: entry for record 3005 beyond the table (3000 records)",
               "tag NR: record 18 key missing", "tag NR: record 19 indexed 2 times",
               "tag NR: 3001 keys, expected 3000", "tag NAME: record 100 key missing",
               "tag NAME: 12 more findings", "tag FIRST: record 25 indexed although it does not belong in the tag",
               "tag FIRST: record 28 key missing"});
  EXPECT_NE(full.report.find("tag NR: record 17 has key " + xbe::cdx::ShowKey(oldKey17, 'N') +
                             ", expected 4711\n"),
            std::string::npos)
      << full.report;
  ExpectLines(full.report, {"tag FIRST: record 2 has key \"C\", expected \"Z\""});
  EXPECT_NE(full.report.find("tag BIG: record " + std::to_string(small) +
                             " indexed although it does not belong in the tag"),
            std::string::npos)
      << full.report;
  // Nothing is left beside the index.
  EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"s.cdx"});
}

TEST(CheckSpill, NtxFindingsDoNotDependOnTheBudget) {
  TempDir dir;
  MemTable t;
  Fill(t);
  const std::string plain = dir.File("name.ntx"), firsts = dir.File("first.ntx");
  std::string err;
  ASSERT_TRUE(xbe::CreateNtx(plain, "NAME", "", 0, t, &err)) << err;
  ASSERT_TRUE(xbe::CreateNtx(firsts, "LEFT(NAME, 1)", "", xbe::kNtxUnique | xbe::kNtxDescending, t, &err)) << err;
  auto name = xbe::OpenNtx(plain, t, true, &err);
  auto first = xbe::OpenNtx(firsts, t, true, &err);
  ASSERT_TRUE(name && first) << err;
  for (std::size_t budget : {xbe::SortMemory(), kSmallBudget}) {
    for (auto* f : {name.get(), first.get()}) {
      const Result sound = CheckWith(*f, t, budget);
      EXPECT_TRUE(sound.ok) << sound.report;
      EXPECT_EQ(sound.report, "");
    }
  }

  xbe::IndexTag& tag = name->Tag(0);
  ASSERT_TRUE(tag.Remove({KeyOf(tag, t, 18), 18}, &err)) << err;
  ASSERT_TRUE(tag.Insert({KeyOf(tag, t, 20), 3005}, &err)) << err;
  ASSERT_TRUE(tag.Insert({KeyOf(tag, t, 21), 19}, &err)) << err;
  t.Set(17, "NAME", "Zebra");
  t.Set(2, "NAME", "Zebra");  // ahead of record 25 among the Zs, no longer the first C
  const std::string where = plain + ": ";
  const Result full = CheckWith(*name, t, xbe::SortMemory());
  const Result spilled = CheckWith(*name, t, kSmallBudget);
  EXPECT_FALSE(full.ok);
  EXPECT_EQ(spilled.report, full.report);
  for (const std::string line :
       {"entry for record 3005 that the table does not have", "record 18 is missing from the index",
        "record 19 is in the index under a key it does not have",
        "record 3005 is in the index under a key it does not have", "record 17 is missing from the index",
        "record 17 is in the index under a key it does not have"})
    EXPECT_NE(full.report.find(where + line + "\n"), std::string::npos) << line << "\n" << full.report;

  const Result fullFirst = CheckWith(*first, t, xbe::SortMemory());
  const Result spilledFirst = CheckWith(*first, t, kSmallBudget);
  EXPECT_FALSE(fullFirst.ok);
  EXPECT_EQ(spilledFirst.report, fullFirst.report);
  // Only the first record of each key belongs, in descending key order:
  // 2 replaces 25 under Z, 43 becomes the first R and 28 the first C.
  std::string want;
  for (const char* line : {"record 2 is missing from the index", "record 25 is in the index under a key it does not have",
                           "record 17 is in the index under a key it does not have",
                           "record 43 is missing from the index",
                           "record 2 is in the index under a key it does not have",
                           "record 28 is missing from the index"})
    want += firsts + ": " + line + "\n";
  EXPECT_EQ(fullFirst.report, want);
  EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"first.ntx", "name.ntx"}));
}

// Temporary files cannot be created once the index's folder is gone (as in
// a folder without write access): a table whose streams fit the budget is
// still checked, a larger one is reported unverified, never as sound.
TEST(CheckSpill, WithoutRoomForTemporaryFilesTheCheckSaysSo) {
  auto dir = std::make_unique<TempDir>();
  MemTable t;
  Fill(t);
  const std::string cdx = dir->File("s.cdx"), ntx = dir->File("s.ntx");
  std::string err;
  ASSERT_TRUE(xbe::CreateCdxTag(cdx, "NAME", "NAME", "", 0, t, &err)) << err;
  ASSERT_TRUE(xbe::CreateCdxTag(cdx, "FIRST", "LEFT(NAME, 1)", "", xbe::kCdxUnique, t, &err)) << err;
  ASSERT_TRUE(xbe::CreateNtx(ntx, "NAME", "", 0, t, &err)) << err;
  auto c = xbe::OpenCdx(cdx, t, false, &err);
  auto n = xbe::OpenNtx(ntx, t, false, &err);
  ASSERT_TRUE(c && n) << err;
  const std::string path = dir->Path();
  dir.reset();
  ASSERT_FALSE(std::filesystem::exists(path));

  for (auto* f : {c.get(), n.get()}) {
    const Result inMemory = CheckWith(*f, t, xbe::SortMemory());
    EXPECT_TRUE(inMemory.ok) << inMemory.report;
    const Result spilled = CheckWith(*f, t, kSmallBudget);
    EXPECT_FALSE(spilled.ok);
    EXPECT_NE(spilled.report.find("keys not verified, a temporary file failed: "), std::string::npos)
        << spilled.report;
    EXPECT_EQ(spilled.report.find("missing"), std::string::npos) << spilled.report;
  }
}
