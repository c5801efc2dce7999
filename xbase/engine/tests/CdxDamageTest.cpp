// Damaged index files: truncated, wild offsets, loops between nodes, counts
// beyond the page, random corruption. Each must give an error or a failed
// check, never a crash, a hang or a read outside the page.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "CdxTestSupport.h"
#include "cdx/CdxFile.h"
#include "cdx/CdxIndex.h"

using namespace cdxtest;
using xbe::cdx::Get32;
using xbe::cdx::kPageSize;
using xbe::cdx::Put16;
using xbe::cdx::Put32;

namespace {

// A sound two-tag index over 3000 records: three levels in tag NAME.
struct Sample {
  TempDir dir;
  MemTable table;
  std::string path, bytes;
  std::uint32_t nameHeader = 0, nameRoot = 0, firstLeaf = 0, secondLeaf = 0;

  Sample() {
    table.AddField("NR", 'N', 8);
    table.AddField("NAME", 'C', 40);
    std::mt19937 rng(3);
    for (int i = 0; i < 3000; ++i) {
      auto r = table.Append();
      table.Set(r, "NR", std::to_string(rng() % 100000));
      std::string name;
      for (int k = 0; k < 40; ++k) name += static_cast<char>('A' + rng() % 26);
      table.Set(r, "NAME", name);
    }
    path = dir.File("s.cdx");
    std::string err;
    EXPECT_TRUE(xbe::CreateCdxTag(path, "NR", "NR", "", 0, table, &err)) << err;
    EXPECT_TRUE(xbe::CreateCdxTag(path, "NAME", "NAME", "", 0, table, &err)) << err;
    bytes = ReadFile(path);
    auto file = xbe::OpenCdx(path, table, false, &err);
    auto& cdx = dynamic_cast<xbe::cdx::CdxFile&>(*file);
    auto* tag = cdx.FindTag("NAME");
    nameHeader = tag->Header().offset;
    nameRoot = tag->Header().root;
    xbe::cdx::Tree::Pos pos;
    tag->GetTree().First(pos, &err);
    firstLeaf = pos.leaf->offset;
    secondLeaf = pos.leaf->right;
  }
  std::uint8_t* At(std::string& data, std::uint32_t offset) {
    return reinterpret_cast<std::uint8_t*>(data.data()) + offset;
  }
};

// Opens `data` as an index and uses it every way a reader can. Returns
// whether everything looked sound; must simply return on any damage.
bool Exercise(const std::string& path, const std::string& data, MemTable& table,
              std::string* error) {
  WriteFile(path, data);
  auto file = xbe::OpenCdx(path, table, true, error);
  if (!file) return false;
  bool sound = true;
  for (int i = 0; i < file->TagCount(); ++i) {
    xbe::IndexTag& tag = file->Tag(i);
    auto c = tag.NewCursor();
    std::size_t n = 0;
    for (bool ok = c->First(); ok; ok = c->Next()) ++n;
    std::size_t back = 0;
    for (bool ok = c->Last(); ok; ok = c->Prev()) ++back;
    if (n != back || n != table.RecordCount()) sound = false;
    bool found;
    c->Seek(std::string(static_cast<std::size_t>(tag.KeyLength()), 'M'), true, found);
    std::string err;
    xbe::IndexEntry e{std::string(static_cast<std::size_t>(tag.KeyLength()), '\x01'), 1};
    if (tag.Insert(e, &err)) tag.Remove(e, &err);
  }
  std::string report;
  if (!file->Check(table, &report)) {
    sound = false;
    if (error) *error = report;
  }
  return sound;
}

}  // namespace

TEST(CdxDamage, TruncatedFilesAreRejectedOrFailTheCheck) {
  Sample s;
  if (HasFailure()) return;
  const std::string path = s.dir.File("cut.cdx");
  for (std::size_t len : {std::size_t(0), std::size_t(100), std::size_t(1024), std::size_t(1536),
                          s.bytes.size() / 2, s.bytes.size() - 1, s.bytes.size() - kPageSize}) {
    SCOPED_TRACE(len);
    std::string err;
    EXPECT_FALSE(Exercise(path, s.bytes.substr(0, len), s.table, &err));
    EXPECT_FALSE(err.empty());
  }
  std::string err;
  EXPECT_FALSE(xbe::OpenCdx(s.dir.File("missing.cdx"), s.table, false, &err));
  EXPECT_NE(err.find("missing.cdx"), std::string::npos) << err;
}

TEST(CdxDamage, WildOffsetsLoopsAndCountsGiveErrors) {
  Sample s;
  if (HasFailure()) return;
  ASSERT_NE(s.secondLeaf, xbe::cdx::kNoPage);
  const std::string path = s.dir.File("bad.cdx");
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
  };
  const Case cases[] = {
      {"root beyond the file", [&](std::string& d) { Put32(s.At(d, s.nameHeader), 0x7FFFFE00); }},
      {"root not on a page", [&](std::string& d) { Put32(s.At(d, s.nameHeader), s.nameRoot + 7); }},
      {"directory root at the header", [&](std::string& d) { Put32(s.At(d, 0), 0); }},
      {"key length zero", [&](std::string& d) { Put16(s.At(d, s.nameHeader + 12), 0); }},
      {"expression outside the pool", [&](std::string& d) { Put16(s.At(d, s.nameHeader + 0x1FC), 600); }},
      {"leaf links to itself", [&](std::string& d) { Put32(s.At(d, s.firstLeaf + 8), s.firstLeaf); }},
      {"leaf links back", [&](std::string& d) { Put32(s.At(d, s.secondLeaf + 8), s.firstLeaf); }},
      {"interior child is the root", [&](std::string& d) {
         std::uint8_t* root = s.At(d, s.nameRoot);
         xbe::cdx::Put32BE(root + 12 + 40 + 4, s.nameRoot);
       }},
      {"leaf count beyond the page", [&](std::string& d) { Put16(s.At(d, s.firstLeaf + 2), 0xFFFF); }},
      {"interior count beyond the page", [&](std::string& d) { Put16(s.At(d, s.nameRoot + 2), 400); }},
      {"entry bits do not add up", [&](std::string& d) { s.At(d, s.firstLeaf)[23] = 9; }},
      {"record field of all 64 bits", [&](std::string& d) {
         std::uint8_t* leaf = s.At(d, s.firstLeaf);
         leaf[20] = 64;
         leaf[21] = leaf[22] = 0;
         leaf[23] = 8;
       }},
      {"no bits left for the trailing counts", [&](std::string& d) {
         std::uint8_t* leaf = s.At(d, s.firstLeaf);
         leaf[20] = 48;
         leaf[21] = 16;
         leaf[22] = 0;
         leaf[23] = 8;
       }},
      {"trail longer than the key", [&](std::string& d) {
         std::uint8_t* leaf = s.At(d, s.firstLeaf);
         for (int i = 0; i < leaf[23]; ++i) leaf[24 + i] = 0xFF;
       }},
      {"free list head outside the file", [&](std::string& d) { Put32(s.At(d, 4), 0x7FFFFE00); }},
      {"free list loop", [&](std::string& d) {
         std::uint32_t end = static_cast<std::uint32_t>(d.size());
         d.append(kPageSize, '\0');
         Put32(s.At(d, end), end);
         Put32(s.At(d, 4), end);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string data = s.bytes;
    c.damage(data);
    std::string err;
    EXPECT_FALSE(Exercise(path, data, s.table, &err));
    EXPECT_FALSE(err.empty());
  }
}

TEST(CdxDamage, AFailedUpdateWritesNothing) {
  Sample s;
  if (HasFailure()) return;
  // The free list points outside the file: a split cannot get its page.
  std::string data = s.bytes;
  Put32(s.At(data, 4), 0x7FFFFE00);
  WriteFile(s.path, data);
  std::string err;
  auto file = xbe::OpenCdx(s.path, s.table, true, &err);
  ASSERT_TRUE(file) << err;
  xbe::IndexTag& nr = file->Tag(0);
  int failed = 0;
  for (std::uint32_t r = 1; r <= 2000 && !failed; ++r) {
    xbe::IndexEntry e{std::string(8, '\x90'), 5000 + r};
    if (!nr.Insert(e, &err)) ++failed;
  }
  ASSERT_EQ(failed, 1) << "a split must fail";
  EXPECT_NE(err.find("free list"), std::string::npos) << err;
  // What went in before stays; the failed insert left no trace.
  std::string report;
  ASSERT_TRUE(file->Flush(&err)) << err;
  file.reset();
  file = xbe::OpenCdx(s.path, s.table, false, &err);
  ASSERT_TRUE(file);
  auto& tree = dynamic_cast<xbe::cdx::CdxTag&>(file->Tag(0)).GetTree();
  std::vector<xbe::cdx::Entry> entries;
  std::set<std::uint32_t> pages;
  EXPECT_TRUE(tree.CheckStructure("", entries, pages, &report)) << report;
}

TEST(CdxDamage, RandomCorruptionNeverCrashes) {
  Sample s;
  if (HasFailure()) return;
  const std::string path = s.dir.File("rnd.cdx");
  std::mt19937 rng(99);
  for (int round = 0; round < 120; ++round) {
    std::string data = s.bytes;
    int flips = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < flips; ++i) {
      std::size_t at = rng() % data.size();
      data[at] = static_cast<char>(rng() % 4 ? data[at] ^ (1 << (rng() % 8)) : rng());
    }
    std::string err;
    Exercise(path, data, s.table, &err);
  }
}

TEST(CdxDamage, ADamagedTagCanBeBuiltAgain) {
  Sample s;
  if (HasFailure()) return;
  std::string data = s.bytes;
  Put16(s.At(data, s.firstLeaf + 2), 0xFFFF);
  WriteFile(s.path, data);
  std::string err, report;
  ASSERT_TRUE(xbe::CreateCdxTag(s.path, "NAME", "NAME", "", 0, s.table, &err)) << err;
  auto file = xbe::OpenCdx(s.path, s.table, false, &err);
  ASSERT_TRUE(file) << err;
  EXPECT_TRUE(file->Check(s.table, &report)) << report;
}

// Two leaves that lead to each other both ways, the first holding the
// second's last entry in front of its own: every step across leaves still
// rises (or falls) against the entry it leaves, so only the order within
// the leaves can end a walk that would otherwise go round for ever.
TEST(CdxDamage, LeavesInACircleWithEntriesOutOfOrderEndTheWalk) {
  Sample s;
  if (HasFailure()) return;
  std::string err;
  {
    auto file = xbe::OpenCdx(s.path, s.table, true, &err);
    ASSERT_TRUE(file) << err;
    auto& tree = dynamic_cast<xbe::cdx::CdxFile&>(*file).FindTag("NAME")->GetTree();
    auto& store = tree.GetStore();
    auto first = store.Load(s.firstLeaf, tree.KeyLength(), tree.Fill(), &err);
    auto second = store.Load(s.secondLeaf, tree.KeyLength(), tree.Fill(), &err);
    ASSERT_TRUE(first && second) << err;
    xbe::cdx::Node a = *first, b = *second;
    a.Erase(a.Count() - 1);
    a.Insert(0, b.Key(b.Count() - 1), b.recs.back());
    b.Erase(b.Count() - 1);
    a.left = a.right = b.offset;
    b.left = b.right = a.offset;
    ASSERT_TRUE(store.WriteNode(a, tree.Fill(), &err)) << err;
    ASSERT_TRUE(store.WriteNode(b, tree.Fill(), &err)) << err;
    ASSERT_TRUE(file->Flush(&err)) << err;
  }
  auto file = xbe::OpenCdx(s.path, s.table, false, &err);
  ASSERT_TRUE(file) << err;
  auto& tag = *dynamic_cast<xbe::cdx::CdxFile&>(*file).FindTag("NAME");
  for (bool backwards : {false, true}) {
    SCOPED_TRACE(backwards);
    tag.SetLastError("");
    std::set<std::uint32_t> seen;
    std::size_t steps = 0;
    auto c = tag.NewCursor();
    for (bool ok = backwards ? c->Last() : c->First(); ok && steps < 3 * s.table.RecordCount();
         ok = backwards ? c->Prev() : c->Next(), ++steps)
      seen.insert(c->Current().recno);
    EXPECT_EQ(seen.size(), steps);
    EXPECT_NE(tag.LastError().find("leaf chain broken"), std::string::npos) << tag.LastError();
  }
  std::string report;
  EXPECT_FALSE(file->Check(s.table, &report));
}

// A damaged file whose trees share a page: the page, already decoded for
// one tree, is decoded again from its own bytes for the other.
TEST(CdxDamage, APageOfTwoTreesIsReadAgainForTheSecond) {
  Sample s;
  if (HasFailure()) return;
  std::string err;
  auto file = xbe::OpenCdx(s.path, s.table, false, &err);
  ASSERT_TRUE(file) << err;
  auto& cdx = dynamic_cast<xbe::cdx::CdxFile&>(*file);
  auto& nr = cdx.FindTag("NR")->GetTree();
  auto& name = cdx.FindTag("NAME")->GetTree();
  auto& store = name.GetStore();
  ASSERT_TRUE(store.Load(s.firstLeaf, name.KeyLength(), name.Fill(), &err)) << err;
  // Another page decoded in between, so that nothing of the first lingers.
  ASSERT_TRUE(store.Load(s.secondLeaf, name.KeyLength(), name.Fill(), &err)) << err;
  // The leaf's few shared and trailing bytes fit the shorter keys too.
  xbe::cdx::Node expected;
  ASSERT_TRUE(xbe::cdx::DecodeNode(s.At(s.bytes, s.firstLeaf), s.firstLeaf, nr.KeyLength(),
                                   nr.Fill(), expected, &err))
      << err;
  auto asNumber = store.Load(s.firstLeaf, nr.KeyLength(), nr.Fill(), &err);
  ASSERT_TRUE(asNumber) << err;
  EXPECT_EQ(asNumber->keyLen, nr.KeyLength());
  EXPECT_EQ(asNumber->recs, expected.recs);
  EXPECT_EQ(asNumber->keys, expected.keys);
}
