// Keeping a CDX tag up to date: long random sequences of inserts and
// removes checked against a plain ordered set after every batch, with the
// structure verified each time; tag creation and replacement; Check on a
// table that agrees and on one that does not.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <list>
#include <map>
#include <random>
#include <set>

#include "CdxTestSupport.h"
#include "cdx/CdxFile.h"
#include "cdx/CdxIndex.h"
#include "cdx/CdxKeys.h"
#include "cdx/CdxStore.h"
#include "cdx/OffsetMap.h"

using namespace cdxtest;
using Model = std::set<std::pair<std::string, std::uint32_t>>;

namespace {

xbe::cdx::CdxFile& Internal(xbe::IndexFile& f) { return dynamic_cast<xbe::cdx::CdxFile&>(f); }

// Searches of several tags go side by side whatever the index's size, as
// they do for a large index, while this lives.
struct SideBySide {
  SideBySide() { xbe::cdx::Store::SetProcessorCacheBytes(0); }
  ~SideBySide() { xbe::cdx::Store::SetProcessorCacheBytes(xbe::cdx::Store::kProcessorCacheBytes); }
};

std::vector<std::pair<std::string, std::uint32_t>> Walk(xbe::IndexTag& tag, bool backwards) {
  std::vector<std::pair<std::string, std::uint32_t>> out;
  auto c = tag.NewCursor();
  for (bool ok = backwards ? c->Last() : c->First(); ok; ok = backwards ? c->Prev() : c->Next())
    out.emplace_back(c->Current().key, c->Current().recno);
  if (backwards) std::reverse(out.begin(), out.end());
  return out;
}

int Depth(xbe::cdx::Tree& tree) {
  int depth = 1;
  auto node = tree.GetStore().Load(tree.Root(), tree.KeyLength(), tree.Fill(), nullptr);
  while (node && !node->leaf) {
    ++depth;
    node = tree.GetStore().Load(node->children.front(), tree.KeyLength(), tree.Fill(), nullptr);
  }
  return depth;
}

void ExpectSound(xbe::IndexFile& file, xbe::IndexTag& tag, const Model& model) {
  auto& t = dynamic_cast<xbe::cdx::CdxTag&>(tag);
  std::vector<xbe::cdx::Entry> entries;
  std::set<std::uint32_t> pages;
  std::string report;
  EXPECT_TRUE(t.GetTree().CheckStructure("", entries, pages, &report)) << report;
  std::vector<std::pair<std::string, std::uint32_t>> want(model.begin(), model.end());
  EXPECT_EQ(Walk(tag, false), want);
  EXPECT_EQ(Walk(tag, true), want);
  (void)file;
}

// A table with one character field; tags are created empty over it.
struct TagFile {
  TempDir dir;
  MemTable table;
  std::string path;
  std::unique_ptr<xbe::IndexFile> file;

  void Create(const std::string& field, char type, int width, unsigned flags = 0,
              const std::string& forExpr = "") {
    table.AddField(field, type, width, type == 'N' ? 2 : 0);
    path = dir.File("t.cdx");
    std::string err;
    ASSERT_TRUE(xbe::CreateCdxTag(path, "T1", field, forExpr, flags, table, &err)) << err;
    Reopen(true);
  }
  void Reopen(bool writable) {
    file.reset();
    std::string err;
    file = xbe::OpenCdx(path, table, writable, &err);
    ASSERT_TRUE(file) << err;
  }
  xbe::IndexTag& Tag() { return file->Tag(0); }
};

std::string RandomKey(std::mt19937& rng, int len) {
  static const char alphabet[] = "AAAABBCDEFabc 0\xC4\xFF";
  std::string k;
  int used = std::uniform_int_distribution<int>(0, len)(rng);
  for (int i = 0; i < used; ++i) k += alphabet[rng() % (sizeof alphabet - 1)];
  k.resize(static_cast<std::size_t>(len), ' ');
  return k;
}

void RunRandom(TagFile& s, int keyLen, std::function<std::string(std::mt19937&)> makeKey,
               std::uint32_t maxRec, int batches, int perBatch, unsigned seed) {
  std::mt19937 rng(seed);
  Model model;
  xbe::IndexTag& tag = s.Tag();
  std::string err;
  for (int b = 0; b < batches; ++b) {
    SCOPED_TRACE("batch " + std::to_string(b));
    bool draining = b == batches - 1;
    for (int i = 0; i < perBatch || (draining && !model.empty()); ++i) {
      bool remove = !model.empty() && (draining || rng() % 10 < 3);
      if (remove) {
        auto it = model.begin();
        std::advance(it, static_cast<long>(rng() % model.size()));
        ASSERT_TRUE(tag.Contains({it->first, it->second}));
        ASSERT_TRUE(tag.Remove({it->first, it->second}, &err)) << err;
        ASSERT_FALSE(tag.Contains({it->first, it->second}));
        ASSERT_FALSE(tag.Remove({it->first, it->second}, &err));
        model.erase(it);
      } else {
        xbe::IndexEntry e{makeKey(rng), 1 + static_cast<std::uint32_t>(rng() % maxRec)};
        ASSERT_EQ(static_cast<int>(e.key.size()), keyLen);
        bool fresh = model.emplace(e.key, e.recno).second;
        EXPECT_EQ(tag.Insert(e, &err), fresh) << err;
      }
    }
    ExpectSound(*s.file, tag, model);
    if (::testing::Test::HasFailure()) return;
    // Seeks agree with the model's lower bound.
    auto cursor = tag.NewCursor();
    for (int q = 0; q < 20; ++q) {
      std::string probe = makeKey(rng);
      auto it = model.lower_bound({probe, 0});
      bool found;
      bool ok = cursor->Seek(probe, false, found);
      ASSERT_EQ(ok, it != model.end());
      if (ok) {
        EXPECT_EQ(cursor->Current().key, it->first);
        EXPECT_EQ(cursor->Current().recno, it->second);
        EXPECT_EQ(found, it->first == probe);
      }
    }
  }
  EXPECT_TRUE(model.empty());
}

}  // namespace

TEST(CdxMaintenance, RandomCharacterKeysSplitAndMergeLikeTheModel) {
  TagFile s;
  s.Create("NAME", 'C', 12);
  if (HasFatalFailure()) return;
  auto& tree = Internal(*s.file).FindTag("T1")->GetTree();
  const std::uint32_t root = tree.Root();
  // Fill, check, then drain to nothing.
  std::mt19937 rng(7);
  Model model;
  std::string err;
  for (int i = 0; i < 6000; ++i) {
    xbe::IndexEntry e{RandomKey(rng, 12), 1 + static_cast<std::uint32_t>(rng() % 5000)};
    EXPECT_EQ(s.Tag().Insert(e, &err), model.emplace(e.key, e.recno).second) << err;
  }
  ExpectSound(*s.file, s.Tag(), model);
  EXPECT_GE(Depth(tree), 3) << "enough keys to split interior nodes";
  EXPECT_EQ(tree.Root(), root) << "the root stays where the header points";
  ASSERT_TRUE(s.file->Flush(&err)) << err;
  const auto grown = std::filesystem::file_size(s.path);
  for (const auto& [k, r] : model) ASSERT_TRUE(s.Tag().Remove({k, r}, &err)) << err;
  ExpectSound(*s.file, s.Tag(), {});
  EXPECT_EQ(Depth(tree), 1);
  // Freed pages come back before the file grows again.
  ASSERT_TRUE(s.file->Flush(&err)) << err;
  for (const auto& [k, r] : model) ASSERT_TRUE(s.Tag().Insert({k, r}, &err)) << err;
  ASSERT_TRUE(s.file->Flush(&err)) << err;
  EXPECT_EQ(std::filesystem::file_size(s.path), grown);
  ExpectSound(*s.file, s.Tag(), model);
}

TEST(CdxMaintenance, MixedRandomSequencesAgreeWithTheModel) {
  {
    SCOPED_TRACE("character keys");
    TagFile s;
    s.Create("NAME", 'C', 10);
    if (HasFatalFailure()) return;
    RunRandom(s, 10, [](std::mt19937& r) { return RandomKey(r, 10); }, 3000, 8, 700, 1);
  }
  {
    SCOPED_TRACE("long keys: two per interior node, deep trees");
    TagFile s;
    s.Create("NAME", 'C', 200);
    if (HasFatalFailure()) return;
    RunRandom(s, 200, [](std::mt19937& r) { return RandomKey(r, 200); }, 100, 6, 300, 2);
  }
  {
    SCOPED_TRACE("numeric keys, record numbers that need wider entries");
    TagFile s;
    s.Create("AMOUNT", 'N', 12);
    if (HasFatalFailure()) return;
    RunRandom(
        s, 8,
        [](std::mt19937& r) {
          return xbe::cdx::EncodeDouble(std::uniform_int_distribution<int>(-500, 500)(r) / 4.0);
        },
        40'000'000, 6, 800, 3);
  }
}

TEST(CdxMaintenance, OffsetMapAgreesWithAStandardMap) {
  // Open addressing with backward-shift removal: after any mix of
  // insertions and removals every member is found and nothing else is.
  xbe::cdx::OffsetMap<int> map;
  std::map<std::uint32_t, int> model;
  std::mt19937 rng(5);
  for (int i = 0; i < 20000; ++i) {
    // Few distinct offsets, so that runs of colliding slots form and break.
    const std::uint32_t key = 512u * (1 + rng() % 700);
    if (rng() % 3 == 0) {
      EXPECT_EQ(map.Erase(key), model.erase(key) == 1);
    } else {
      auto [value, added] = map.Emplace(key);
      EXPECT_EQ(added, model.count(key) == 0);
      *value = i;
      model[key] = i;
    }
  }
  EXPECT_EQ(map.Size(), model.size());
  for (std::uint32_t k = 512; k <= 512u * 701; k += 512) {
    const int* v = map.Find(k);
    auto it = model.find(k);
    ASSERT_EQ(v != nullptr, it != model.end()) << k;
    if (v) {
      EXPECT_EQ(*v, it->second);
    }
  }
  std::size_t visited = 0;
  map.ForEach([&](std::uint32_t k, int& v) {
    ++visited;
    EXPECT_EQ(model.at(k), v);
  });
  EXPECT_EQ(visited, model.size());
}

TEST(CdxMaintenance, PageCacheKeepsItsPagesInOrderOfUse) {
  // Pages in, touched and out at random, against a list of offsets newest
  // first: the oldest is always the model's last, every page keeps its
  // bytes, and slots given back are used again.
  xbe::cdx::PageCache cache;
  std::list<std::uint32_t> model;
  std::mt19937 rng(6);
  auto fill = [](std::uint32_t offset) { return static_cast<std::uint8_t>(offset / 512 * 7); };
  for (int i = 0; i < 20000; ++i) {
    const std::uint32_t offset = 512u * (1 + rng() % 300);
    const std::uint32_t slot = cache.Find(offset);
    const auto at = std::find(model.begin(), model.end(), offset);
    ASSERT_EQ(slot != xbe::cdx::PageCache::kNone, at != model.end()) << i;
    if (slot != xbe::cdx::PageCache::kNone) {
      EXPECT_EQ(cache.OffsetOf(slot), offset);
      EXPECT_EQ(cache.PageOf(slot)[100], fill(offset));
      model.erase(at);
      if (rng() % 2) {
        cache.Erase(slot);
      } else {
        cache.Touch(slot);
        model.push_front(offset);
      }
    } else {
      const auto [added, fresh] = cache.Insert(offset);
      ASSERT_TRUE(fresh);
      EXPECT_LT(added, 300u);  // never more than 300 pages held at once
      cache.PageOf(added).fill(fill(offset));
      model.push_front(offset);
    }
    ASSERT_EQ(cache.Size(), model.size());
    if (!model.empty()) {
      EXPECT_EQ(cache.OffsetOf(cache.Oldest()), model.back()) << i;
    }
  }
  std::size_t visited = 0;
  cache.ForEach([&](std::uint32_t offset, std::uint32_t slot) {
    ++visited;
    EXPECT_EQ(cache.OffsetOf(slot), offset);
  });
  EXPECT_EQ(visited, model.size());
  cache.Clear();
  EXPECT_EQ(cache.Size(), 0u);
  EXPECT_EQ(cache.Oldest(), xbe::cdx::PageCache::kNone);
}

TEST(CdxMaintenance, LeafSizesKeptAcrossChangesEqualACountFromScratch) {
  // A leaf carries its pool size and highest record number from one fit
  // check to the next; whatever mix of inserts and erases (at either end,
  // of the highest record, sharing much or little with the neighbours, with
  // and without a check between), the size equals one counted afresh, and
  // the entries stay those of a plain sorted list.
  using xbe::cdx::Node;
  std::mt19937 rng(11);
  for (int keyLen : {4, 12}) {
    std::vector<std::pair<std::string, std::uint32_t>> model;
    Node n;
    n.leaf = true;
    n.keyLen = keyLen;
    auto randomKey = [&] {
      std::string k(static_cast<std::size_t>(keyLen), ' ');
      const std::size_t used = rng() % (k.size() + 1);
      for (std::size_t c = 0; c < used; ++c) k[c] = static_cast<char>('A' + rng() % 3);
      return k;
    };
    for (int step = 0; step < 5000; ++step) {
      if (n.Count() > 0 && (n.Count() > 30 || rng() % 3 == 0)) {
        const std::size_t at = rng() % n.Count();
        n.Erase(at);
        model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
      } else {
        const std::string key = randomKey();
        const std::uint32_t rec = rng() % 4 == 0 ? 1 + rng() % 100000 : 1 + rng() % 50;
        std::size_t at = 0;
        while (at < n.Count() && xbe::cdx::CompareEntry(n.Key(at), n.recs[at], key, rec) < 0) ++at;
        if (at < n.Count() && n.Key(at) == key && n.recs[at] == rec) continue;
        n.Insert(at, key, rec);
        model.insert(model.begin() + static_cast<std::ptrdiff_t>(at), {key, rec});
      }
      ASSERT_EQ(n.Count(), model.size());
      ASSERT_EQ(n.keys.size(), model.size() * static_cast<std::size_t>(keyLen));
      for (std::size_t i = 0; i < model.size(); ++i) {
        ASSERT_EQ(n.Key(i), model[i].first) << "step " << step << ", entry " << i;
        ASSERT_EQ(n.recs[i], model[i].second) << "step " << step << ", entry " << i;
      }
      if (rng() % 4 == 0) continue;  // two changes before the next check
      Node scratch;
      scratch.leaf = true;
      scratch.keyLen = keyLen;
      for (std::size_t i = 0; i < n.Count(); ++i) scratch.Insert(i, n.Key(i), n.recs[i]);
      ASSERT_EQ(xbe::cdx::LeafBytes(n, ' '), xbe::cdx::LeafBytes(scratch, ' ')) << "step " << step;
      if (rng() % 8 == 0) {
        // Through its page and back: a decoded leaf starts from the sizes
        // the page gives.
        std::uint8_t page[xbe::cdx::kPageSize] = {};
        ASSERT_TRUE(xbe::cdx::EncodeNode(n, ' ', page));
        std::string error;
        ASSERT_TRUE(xbe::cdx::DecodeNode(page, 512, keyLen, ' ', n, &error)) << error;
      }
    }
  }
}

TEST(CdxMaintenance, TinyCachesWriteBackEveryChangeTheyEvict) {
  // Changed nodes leave the node cache encoded into the page cache, and
  // pages leave that for the file, in the middle of inserts, splits and
  // removals; after a flush the file alone must hold the model.
  struct Run {
    const char* what;
    int keyLen;
    std::size_t nodeBytes, pages;
  };
  for (const Run& run : {Run{"a few nodes and pages", 10, 16 * 1024, 8},
                         Run{"one node at a time", 10, 1, 1},
                         Run{"deep trees of long keys", 120, 8 * 1024, 4}}) {
    SCOPED_TRACE(run.what);
    TagFile s;
    s.Create("NAME", 'C', run.keyLen);
    if (HasFatalFailure()) return;
    Internal(*s.file).GetStore().SetCacheLimits(run.nodeBytes, run.pages);
    std::mt19937 rng(21);
    Model model;
    std::string err;
    for (int i = 0; i < 3000; ++i) {
      if (!model.empty() && rng() % 10 < 3) {
        auto it = model.begin();
        std::advance(it, static_cast<long>(rng() % model.size()));
        ASSERT_TRUE(s.Tag().Contains({it->first, it->second}));
        ASSERT_TRUE(s.Tag().Remove({it->first, it->second}, &err)) << err;
        model.erase(it);
      } else {
        xbe::IndexEntry e{RandomKey(rng, run.keyLen), 1 + static_cast<std::uint32_t>(rng() % 5000)};
        if (model.emplace(e.key, e.recno).second) {
          ASSERT_TRUE(s.Tag().Insert(e, &err)) << err;
        }
      }
    }
    ExpectSound(*s.file, s.Tag(), model);
    ASSERT_TRUE(s.file->Flush(&err)) << err;
    s.Reopen(false);
    if (HasFatalFailure()) return;
    ExpectSound(*s.file, s.Tag(), model);
  }
}

TEST(CdxMaintenance, TagsLookedUpTogetherAgreeAndTheirPreparedInsertionsLandRight) {
  // An edit looks up every tag's old entry side by side, and looks for
  // every new entry's place side by side, either with the lookups (the
  // places kept past the removals) or after the removals, before
  // inserting. In a cache small enough to drop nodes between the steps and
  // in one that keeps them, with entries present and absent, with new
  // entries right before and right after the removed ones, with one tag
  // changed between the preparation and its insertion right where the new
  // entry goes, and with an entry already present:
  // every answer must be what a single lookup gives, and every tag must
  // end as its model.
  TagFile s;
  s.Create("NAME", 'C', 10);
  if (HasFatalFailure()) return;
  std::string err;
  ASSERT_TRUE(xbe::CreateCdxTag(s.path, "T2", "NAME", "", 0, s.table, &err)) << err;
  ASSERT_TRUE(xbe::CreateCdxTag(s.path, "T3", "NAME", "", xbe::kCdxDescending, s.table, &err))
      << err;
  s.Reopen(true);
  if (HasFatalFailure()) return;
  constexpr std::size_t kTags = 3;
  xbe::IndexTag* tags[kTags] = {&s.file->Tag(0), &s.file->Tag(1), &s.file->Tag(2)};
  Model models[kTags];
  std::mt19937 rng(11);
  for (std::uint32_t r = 1; r <= 2000; ++r)
    for (std::size_t t = 0; t < kTags; ++t) {
      const xbe::IndexEntry e{RandomKey(rng, 10), r};
      ASSERT_TRUE(tags[t]->Insert(e, &err)) << err;
      models[t].emplace(e.key, r);
    }
  Internal(*s.file).GetStore().SetCacheLimits(24 * 1024, 8);
  SideBySide sideBySide;  // whatever the size, as a large index goes
  auto pick = [&](const Model& m) {
    auto it = m.begin();
    std::advance(it, static_cast<long>(rng() % m.size()));
    return *it;
  };
  std::uint32_t next = 10000;
  for (int round = 0; round < 800; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Half the rounds with room for every node, where the ways kept last.
    if (round == 400) Internal(*s.file).GetStore().SetCacheLimits(std::size_t{8} << 20, 4096);
    // Old entries: mostly present; some with another record number, and
    // one of the wrong length, are absent.
    xbe::IndexEntry olds[kTags];
    const xbe::IndexEntry* oldPtrs[kTags];
    for (std::size_t t = 0; t < kTags; ++t) {
      const auto [key, rec] = pick(models[t]);
      olds[t] = {key, rec};
      if (rng() % 5 == 0) olds[t].recno = rec + 50000;
      if (round % 97 == 0 && t == 1) olds[t].key = "SHORT";
      oldPtrs[t] = &olds[t];
    }
    // New entries; now and then one already present, or one next to the
    // old entry that goes (same key, a record number just before or after).
    xbe::IndexEntry news[kTags];
    const xbe::IndexEntry* newPtrs[kTags];
    for (std::size_t t = 0; t < kTags; ++t) {
      if (round % 53 == 0 && t == 2) {
        const auto [key, rec] = pick(models[t]);
        news[t] = {key, rec};
      } else if (round % 3 == 1 && olds[t].key.size() == 10 && olds[t].recno > 2) {
        news[t] = {olds[t].key, t == 1 ? olds[t].recno + 1 : olds[t].recno - 1};
      } else {
        news[t] = {RandomKey(rng, 10), next + 1};
        next += 2;
      }
      newPtrs[t] = &news[t];
    }
    const bool withLookups = round % 2 == 1;
    bool found[kTags];
    if (withLookups)
      xbe::IndexTag::ContainsEach(tags, oldPtrs, found, kTags, tags, newPtrs, kTags);
    else
      xbe::IndexTag::ContainsEach(tags, oldPtrs, found, kTags);
    for (std::size_t t = 0; t < kTags; ++t)
      ASSERT_EQ(found[t], models[t].count({olds[t].key, olds[t].recno}) == 1) << "tag " << t;
    for (std::size_t t = 0; t < kTags; ++t) {
      if (!found[t]) continue;
      ASSERT_TRUE(tags[t]->Remove(olds[t], &err)) << err;
      models[t].erase({olds[t].key, olds[t].recno});
    }
    xbe::IndexTag::PrepareInserts(tags, newPtrs, kTags);
    if (round % 7 == 0) {
      // The first tag changes after its place was looked for: an entry
      // just before the new one goes in where the new one was to go.
      const xbe::IndexEntry extra{news[0].key, news[0].recno - 1};
      ASSERT_TRUE(tags[0]->Insert(extra, &err)) << err;
      models[0].emplace(extra.key, extra.recno);
    }
    for (std::size_t t = 0; t < kTags; ++t) {
      const bool present = models[t].count({news[t].key, news[t].recno}) == 1;
      ASSERT_EQ(tags[t]->Insert(news[t], &err), !present) << "tag " << t << ": " << err;
      models[t].emplace(news[t].key, news[t].recno);
    }
  }
  for (std::size_t t = 0; t < kTags; ++t) ExpectSound(*s.file, *tags[t], models[t]);
  ASSERT_TRUE(s.file->Flush(&err)) << err;
  s.Reopen(false);
  if (HasFatalFailure()) return;
  for (std::size_t t = 0; t < kTags; ++t) ExpectSound(*s.file, s.file->Tag(static_cast<int>(t)), models[t]);
}

TEST(CdxMaintenance, RemovalsAfterAnotherTagsLookupsInASmallCacheLoseNothing) {
  // An edit looks up every tag's old key first and removes it later; in
  // between, the other tags' lookups push the first tag's nodes out of a
  // small cache, written back as they go. Every removal and insertion must
  // still reach both trees and, after a flush, the file.
  TagFile s;
  s.Create("NAME", 'C', 10);
  if (HasFatalFailure()) return;
  std::string err;
  ASSERT_TRUE(xbe::CreateCdxTag(s.path, "T2", "NAME", "", 0, s.table, &err)) << err;
  s.Reopen(true);
  if (HasFatalFailure()) return;
  xbe::IndexTag& a = s.file->Tag(0);
  xbe::IndexTag& b = s.file->Tag(1);
  std::mt19937 rng(5);
  Model ma, mb;
  for (std::uint32_t r = 1; r <= 3000; ++r) {
    xbe::IndexEntry e{RandomKey(rng, 10), r};
    ASSERT_TRUE(a.Insert(e, &err)) << err;
    ma.emplace(e.key, r);
    e.key = RandomKey(rng, 10);
    ASSERT_TRUE(b.Insert(e, &err)) << err;
    mb.emplace(e.key, r);
  }
  Internal(*s.file).GetStore().SetCacheLimits(24 * 1024, 8);
  std::vector<std::pair<std::string, std::uint32_t>> inB(mb.begin(), mb.end());
  for (int i = 0; i < 1500; ++i) {
    auto it = ma.begin();
    std::advance(it, static_cast<long>(rng() % ma.size()));
    const xbe::IndexEntry e{it->first, it->second};
    ASSERT_TRUE(a.Contains(e));
    for (int k = 0; k < 6; ++k) {
      const auto& other = inB[rng() % inB.size()];
      ASSERT_TRUE(b.Contains({other.first, other.second}));
    }
    ASSERT_TRUE(a.Remove(e, &err)) << err;
    ma.erase(it);
    if (i % 2 == 0) {
      const xbe::IndexEntry f{RandomKey(rng, 10), 5000 + static_cast<std::uint32_t>(i)};
      ASSERT_TRUE(a.Insert(f, &err)) << err;
      ma.emplace(f.key, f.recno);
    }
  }
  ExpectSound(*s.file, a, ma);
  ExpectSound(*s.file, b, mb);
  ASSERT_TRUE(s.file->Flush(&err)) << err;
  s.Reopen(false);
  if (HasFatalFailure()) return;
  ExpectSound(*s.file, s.file->Tag(0), ma);
  ExpectSound(*s.file, s.file->Tag(1), mb);
}

TEST(CdxMaintenance, PersistsAfterFlushAndRefusesWritesWhenReadOnly) {
  TagFile s;
  s.Create("NAME", 'C', 10);
  if (HasFatalFailure()) return;
  std::mt19937 rng(11);
  Model model;
  std::string err;
  for (int i = 0; i < 2000; ++i) {
    xbe::IndexEntry e{RandomKey(rng, 10), static_cast<std::uint32_t>(i + 1)};
    ASSERT_TRUE(s.Tag().Insert(e, &err)) << err;
    model.emplace(e.key, e.recno);
  }
  ASSERT_TRUE(s.file->Flush(&err)) << err;
  s.Reopen(false);
  if (HasFatalFailure()) return;
  ExpectSound(*s.file, s.Tag(), model);
  const std::string before = ReadFile(s.path);
  EXPECT_FALSE(s.Tag().Insert({std::string(10, 'Z'), 1}, &err));
  EXPECT_NE(err.find("read-only"), std::string::npos) << err;
  EXPECT_FALSE(s.Tag().Remove({model.begin()->first, model.begin()->second}, &err));
  s.file.reset();
  EXPECT_EQ(ReadFile(s.path), before);
}

TEST(CdxMaintenance, CursorFindsItsPlaceAgainAfterChanges) {
  TagFile s;
  s.Create("NAME", 'C', 4);
  if (HasFatalFailure()) return;
  std::string err;
  for (std::uint32_t r = 1; r <= 300; ++r) {
    char k[8];
    std::snprintf(k, sizeof k, "%04u", r * 2);
    ASSERT_TRUE(s.Tag().Insert({k, r}, &err)) << err;
  }
  auto c = s.Tag().NewCursor();
  bool found;
  ASSERT_TRUE(c->Seek("0100", false, found));
  ASSERT_TRUE(found);
  // Remove the current entry and its successor; insert one just after.
  ASSERT_TRUE(s.Tag().Remove({"0100", 50}, &err));
  ASSERT_TRUE(s.Tag().Remove({"0102", 51}, &err));
  ASSERT_TRUE(s.Tag().Insert({"0101", 999}, &err));
  ASSERT_TRUE(c->Next());
  EXPECT_EQ(c->Current().key, "0101");
  ASSERT_TRUE(s.Tag().Remove({"0101", 999}, &err));
  ASSERT_TRUE(c->Prev());
  EXPECT_EQ(c->Current().key, "0098");
  EXPECT_TRUE(c->SeekEntry({"0104", 52}));
  EXPECT_FALSE(c->SeekEntry({"0104", 53}));
}

TEST(CdxMaintenance, UniqueKeepsTheFirstAndCandidateRefusesASecond) {
  TagFile u;
  u.Create("NAME", 'C', 4, xbe::kCdxUnique);
  if (HasFatalFailure()) return;
  std::string err;
  ASSERT_TRUE(u.Tag().Insert({"ABCD", 3}, &err));
  EXPECT_TRUE(u.Tag().Insert({"ABCD", 9}, &err));
  EXPECT_FALSE(u.Tag().Contains({"ABCD", 9}));
  EXPECT_EQ(Walk(u.Tag(), false).size(), 1u);

  TagFile c;
  c.Create("NAME", 'C', 4, xbe::kCdxCandidate);
  if (HasFatalFailure()) return;
  ASSERT_TRUE(c.Tag().Insert({"ABCD", 3}, &err));
  EXPECT_FALSE(c.Tag().Insert({"ABCD", 9}, &err));
  EXPECT_NE(err.find("record 3"), std::string::npos) << err;
  EXPECT_TRUE(c.Tag().Candidate());
}

TEST(CdxMaintenance, CreatedTagsMatchTheTableAndCheckFindsEveryDifference) {
  TempDir dir;
  MemTable t;
  t.AddField("NR", 'N', 8);
  t.AddField("NAME", 'C', 20);
  t.AddField("DAY", 'D', 8);
  t.AddField("OK", 'L', 1);
  std::mt19937 rng(5);
  for (int i = 0; i < 3000; ++i) {
    auto r = t.Append();
    t.Set(r, "NR", std::to_string(static_cast<int>(rng() % 900) - 300));
    t.Set(r, "NAME", RandomKey(rng, 12));
    t.Set(r, "DAY", i % 7 ? "2020" + std::string(i % 2 ? "07" : "12") + std::to_string(10 + i % 19) : "");
    t.Set(r, "OK", rng() % 3 ? "T" : "F");
  }
  const std::string path = dir.File("t.cdx");
  std::string err;
  ASSERT_TRUE(xbe::CreateCdxTag(path, "NR", "NR", "", 0, t, &err)) << err;
  ASSERT_TRUE(xbe::CreateCdxTag(path, "NAME", "NAME", "", xbe::kCdxUnique, t, &err)) << err;
  ASSERT_TRUE(xbe::CreateCdxTag(path, "DAY", "DAY", "", xbe::kCdxDescending, t, &err)) << err;
  ASSERT_TRUE(xbe::CreateCdxTag(path, "OK", "OK", "", 0, t, &err)) << err;
  EXPECT_FALSE(xbe::CreateCdxTag(path, "NR2", "NR", "", xbe::kCdxCandidate, t, &err));
  EXPECT_NE(err.find("same key"), std::string::npos) << err;
  EXPECT_FALSE(xbe::CreateCdxTag(path, "BAD NAME", "NR", "", 0, t, &err));
  EXPECT_FALSE(xbe::CreateCdxTag(path, "X", "NOFIELD(", "", 0, t, &err));

  // Replacing a tag reuses the pages of the old one.
  const auto size = std::filesystem::file_size(path);
  ASSERT_TRUE(xbe::CreateCdxTag(path, "nr", "NR", "", 0, t, &err)) << err;
  EXPECT_LE(std::filesystem::file_size(path), size + 1024);

  auto file = xbe::OpenCdx(path, t, true, &err);
  ASSERT_TRUE(file) << err;
  ASSERT_EQ(file->TagCount(), 4);
  EXPECT_EQ(file->Tag(0).Name(), "NAME");
  EXPECT_EQ(file->Tag(3).Name(), "NR");  // re-created last
  EXPECT_EQ(file->Tag(1).KeyType(), 'D');
  EXPECT_TRUE(file->Tag(1).Descending());
  EXPECT_EQ(file->Tag(2).KeyLength(), 1);
  std::string why, report;
  EXPECT_TRUE(file->Maintainable(&why)) << why;
  EXPECT_TRUE(file->Check(t, &report)) << report;

  // The table changes as the engine would change it: keys move with it.
  xbe::IndexTag& nr = file->Tag(3);
  for (std::uint32_t r = 1; r <= 3000; r += 7) {
    std::string oldKey, newKey;
    bool in;
    t.Load(r, nullptr);
    ASSERT_TRUE(nr.KeyFor(t, oldKey, in, &err)) << err;
    t.Set(r, "NR", std::to_string(r % 50));
    ASSERT_TRUE(nr.KeyFor(t, newKey, in, &err)) << err;
    ASSERT_TRUE(nr.Remove({oldKey, r}, &err)) << err;
    ASSERT_TRUE(nr.Insert({newKey, r}, &err)) << err;
  }
  report.clear();
  EXPECT_TRUE(file->Check(t, &report)) << report;

  // Differences the check must name.
  report.clear();
  t.Set(17, "NR", "123456");
  std::string key;
  bool in;
  t.Load(18, nullptr);
  ASSERT_TRUE(nr.KeyFor(t, key, in, &err));
  ASSERT_TRUE(nr.Remove({key, 18}, &err));
  ASSERT_TRUE(nr.Insert({key, 3001}, &err));
  ASSERT_TRUE(nr.Insert({key, 19}, &err));
  EXPECT_FALSE(file->Check(t, &report));
  for (const char* want : {"tag NR: record 17 has key", "tag NR: record 18 key missing",
                           "tag NR: entry for record 3001 beyond the table",
                           "tag NR: record 19 indexed 2 times"})
    EXPECT_NE(report.find(want), std::string::npos) << want << "\n" << report;

  // Once nothing waits to be written, a check runs on small caches; with
  // caches of a node and a page it evicts and reads again all the way. The
  // findings stay the same, and the store gets its own bounds back.
  ASSERT_TRUE(file->Flush(&err)) << err;
  auto& store = Internal(*file).GetStore();
  for (std::size_t nodeBytes : {std::size_t{128} << 20, std::size_t{1}}) {
    const std::size_t pages = nodeBytes == 1 ? 1 : 32768;
    store.SetCacheLimits(nodeBytes, pages);
    std::string again;
    EXPECT_FALSE(file->Check(t, &again));
    EXPECT_EQ(again, report);
    EXPECT_EQ(store.MaxNodeBytes(), nodeBytes);
    EXPECT_EQ(store.MaxPages(), pages);
  }
}

TEST(CdxMaintenance, SharedOpensSeeEachOthersFlushedChanges) {
  TagFile s;
  s.Create("NAME", 'C', 6);
  if (HasFatalFailure()) return;
  s.file.reset();
  std::string err;
  auto a = xbe::OpenCdx(s.path, s.table, true, &err, true);
  auto b = xbe::OpenCdx(s.path, s.table, true, &err, true);
  ASSERT_TRUE(a && b) << err;
  for (std::uint32_t r = 1; r <= 400; ++r) {
    char k[8];
    std::snprintf(k, sizeof k, "K%05u", r);
    ASSERT_TRUE(a->Tag(0).Insert({k, r}, &err)) << err;
  }
  ASSERT_TRUE(a->Flush(&err)) << err;
  EXPECT_EQ(Walk(b->Tag(0), false).size(), 400u);  // b caches these pages now
  // b writes; a, with every page of the tag cached, must notice.
  ASSERT_TRUE(b->Tag(0).Remove({"K00007", 7}, &err)) << err;
  ASSERT_TRUE(b->Tag(0).Insert({"K00007", 401}, &err)) << err;
  ASSERT_TRUE(b->Flush(&err)) << err;
  EXPECT_FALSE(a->Tag(0).Contains({"K00007", 7}));
  EXPECT_TRUE(a->Tag(0).Contains({"K00007", 401}));
  auto c = a->Tag(0).NewCursor();
  bool found;
  ASSERT_TRUE(c->Seek("K00007", true, found));
  EXPECT_EQ(c->Current().recno, 401u);
  // And a's next write builds on b's: nothing of b's is lost.
  ASSERT_TRUE(a->Tag(0).Insert({"K00500", 500}, &err)) << err;
  ASSERT_TRUE(a->Flush(&err)) << err;
  a.reset();
  b.reset();
  s.Reopen(false);
  if (HasFatalFailure()) return;
  auto all = Walk(s.Tag(), false);
  ASSERT_EQ(all.size(), 401u);
  EXPECT_EQ(all[6], std::make_pair(std::string("K00007"), 401u));
  EXPECT_EQ(all.back(), std::make_pair(std::string("K00500"), 500u));
}

TEST(CdxMaintenance, ForeignCollationTagsAreReadOnly) {
  TagFile s;
  s.Create("NAME", 'C', 6);
  if (HasFatalFailure()) return;
  std::string err;
  ASSERT_TRUE(s.Tag().Insert({"ABCDEF", 1}, &err)) << err;
  const std::uint32_t header = Internal(*s.file).FindTag("T1")->Header().offset;
  ASSERT_TRUE(s.file->Flush(&err));
  s.file.reset();
  std::string data = ReadFile(s.path);
  data.replace(header + 0x1EE, 7, "GENERAL");
  WriteFile(s.path, data);
  s.Reopen(true);
  if (HasFatalFailure()) return;
  std::string why;
  EXPECT_FALSE(s.file->Maintainable(&why));
  EXPECT_NE(why.find("GENERAL"), std::string::npos) << why;
  EXPECT_EQ(Walk(s.Tag(), false).size(), 1u);
  EXPECT_FALSE(s.Tag().Insert({"ZZZZZZ", 2}, &err));
  s.file.reset();
  EXPECT_EQ(ReadFile(s.path), data);
}
