// Reading CDX files written by other programs: every tag walks exactly as
// the fixture manifests list, forwards and backwards, and seeks find what
// the classic seek rules say.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "CdxTestSupport.h"
#include "cdx/CdxIndex.h"

using namespace cdxtest;

namespace {

struct Fixture {
  std::string dir, table, index;
};

const Fixture kFixtures[] = {
    {"xbase", "konto", "konto.cdx"},       {"xbase", "steuersatz", "steuersatz.cdx"},
    {"xbase", "leer", "leer.cdx"},         {"foxpro", "calls", "calls.CDX"},
    {"foxpro", "setup", "setup.CDX"},
};

struct Opened {
  MemTable table;
  Manifest manifest;
  std::unique_ptr<xbe::IndexFile> index;
};

void Open(const Fixture& f, Opened& o) {
  const std::string base = FixturesDir() + "/" + f.dir + "/";
  ASSERT_TRUE(LoadDbf(base + f.table + ".dbf", o.table)) << f.table;
  ASSERT_TRUE(LoadManifest(base + f.table + ".manifest", o.manifest)) << f.table;
  std::string err;
  o.index = xbe::OpenCdx(base + f.index, o.table, false, &err);
  ASSERT_TRUE(o.index) << err;
}

xbe::IndexTag* FindTag(xbe::IndexFile& file, const std::string& name) {
  for (int i = 0; i < file.TagCount(); ++i)
    if (file.Tag(i).Name() == name) return &file.Tag(i);
  return nullptr;
}

std::vector<std::uint32_t> Walk(xbe::IndexTag& tag, bool backwards) {
  std::vector<std::uint32_t> out;
  auto c = tag.NewCursor();
  for (bool ok = backwards ? c->Last() : c->First(); ok; ok = backwards ? c->Prev() : c->Next())
    out.push_back(c->Current().recno);
  if (backwards) std::reverse(out.begin(), out.end());
  return out;
}

// Stored key of record `rec` for a tag whose key is Upper(<field>).
std::string UpperField(Opened& o, std::uint32_t rec, const std::string& field, int len) {
  o.table.Load(rec, nullptr);
  std::string v(o.table.FieldBytes(o.table.FindField(field)));
  for (char& c : v)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  v.resize(static_cast<std::size_t>(len), ' ');
  return v;
}

}  // namespace

TEST(CdxFixtures, EveryTagWalksAsTheManifestSays) {
  if (!HaveFixtures()) GTEST_SKIP() << "fixture folder " << FixturesDir() << " not present";
  for (const Fixture& f : kFixtures) {
    SCOPED_TRACE(f.index);
    Opened o;
    Open(f, o);
    if (HasFatalFailure()) return;
    ASSERT_EQ(static_cast<std::size_t>(o.index->TagCount()), o.manifest.orders.size());
    for (const auto& [name, order] : o.manifest.orders) {
      SCOPED_TRACE(name);
      xbe::IndexTag* tag = FindTag(*o.index, name);
      ASSERT_NE(tag, nullptr);
      // Stored ascending; the manifest lists a descending tag from its top.
      std::vector<std::uint32_t> expect = order;
      if (tag->Descending()) std::reverse(expect.begin(), expect.end());
      EXPECT_EQ(Walk(*tag, false), expect);
      EXPECT_EQ(Walk(*tag, true), expect);
    }
  }
}

TEST(CdxFixtures, TagPropertiesAndOrderFollowTheHeaders) {
  if (!HaveFixtures()) GTEST_SKIP() << "fixture folder " << FixturesDir() << " not present";
  Opened o;
  Open(kFixtures[0], o);
  if (HasFatalFailure()) return;
  const char* names[] = {"KNT_NR", "BEZ", "TYPNR", "NRDESC", "AB", "UNIQ"};
  ASSERT_EQ(o.index->TagCount(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(o.index->Tag(i).Name(), names[i]);
  xbe::IndexTag& typnr = o.index->Tag(2);
  EXPECT_EQ(typnr.KeyExpression(), "TYP + Str( KNT_NR, 8 )");
  EXPECT_EQ(typnr.ForExpression(), "AKTIV");
  EXPECT_EQ(typnr.KeyLength(), 9);
  EXPECT_TRUE(o.index->Tag(3).Descending());
  EXPECT_TRUE(o.index->Tag(5).Unique());
  EXPECT_FALSE(o.index->Tag(0).Unique());
  EXPECT_EQ(o.index->Tag(0).KeyType(), 'N');
  EXPECT_EQ(o.index->Tag(0).KeyLength(), 8);

  Opened calls;
  Open(kFixtures[3], calls);
  if (HasFatalFailure()) return;
  EXPECT_EQ(calls.index->Tag(0).KeyLength(), 4);
  EXPECT_EQ(calls.index->Tag(0).KeyType(), 'N');
}

TEST(CdxFixtures, NumericSeekComparesNumbersNotText) {
  if (!HaveFixtures()) GTEST_SKIP() << "fixture folder " << FixturesDir() << " not present";
  Opened o;
  Open(kFixtures[0], o);
  if (HasFatalFailure()) return;
  xbe::IndexTag& tag = *FindTag(*o.index, "KNT_NR");
  const auto& order = o.manifest.orders["KNT_NR"];
  // Values in tag order; REC fields: 0 REC, 1 recno, 2 deleted, 3 KNT_NR.
  std::vector<long> values;
  for (auto r : order) values.push_back(std::stol(o.manifest.recs[r - 1][3]));
  auto cursor = tag.NewCursor();
  for (std::size_t i = 0; i < order.size(); i += 97) {
    long v = values[i];
    auto first = std::lower_bound(values.begin(), values.end(), v) - values.begin();
    for (std::string text : {std::to_string(v), " " + std::to_string(v) + ".00 "}) {
      std::string key;
      bool prefix = true, found = false;
      ASSERT_TRUE(tag.SeekKey(text, key, prefix)) << text;
      EXPECT_FALSE(prefix);
      ASSERT_TRUE(cursor->Seek(key, prefix, found));
      EXPECT_TRUE(found) << text;
      EXPECT_EQ(cursor->Current().recno, order[static_cast<std::size_t>(first)]) << text;
    }
    // Between two keys: lands on the next larger one, not found.
    std::string key;
    bool prefix, found = true;
    ASSERT_TRUE(tag.SeekKey(std::to_string(v) + ".5", key, prefix));
    auto next = std::upper_bound(values.begin(), values.end(), v) - values.begin();
    bool ok = cursor->Seek(key, prefix, found);
    EXPECT_FALSE(found);
    if (next < static_cast<std::ptrdiff_t>(order.size())) {
      ASSERT_TRUE(ok);
      EXPECT_EQ(cursor->Current().recno, order[static_cast<std::size_t>(next)]);
    } else {
      EXPECT_FALSE(ok);
    }
  }
  std::string key;
  bool prefix, found = true;
  EXPECT_FALSE(tag.SeekKey("12x", key, prefix));
  ASSERT_TRUE(tag.SeekKey("99999999", key, prefix));
  EXPECT_FALSE(cursor->Seek(key, prefix, found));  // past the last key
  EXPECT_FALSE(found);
}

TEST(CdxFixtures, CharacterSeekIsAPrefixSearch) {
  if (!HaveFixtures()) GTEST_SKIP() << "fixture folder " << FixturesDir() << " not present";
  Opened o;
  Open(kFixtures[0], o);
  if (HasFatalFailure()) return;
  xbe::IndexTag& tag = *FindTag(*o.index, "BEZ");
  const auto& order = o.manifest.orders["BEZ"];
  std::vector<std::string> keys;
  for (auto r : order) keys.push_back(UpperField(o, r, "BEZ", tag.KeyLength()));
  ASSERT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  auto cursor = tag.NewCursor();
  auto expectSeek = [&](const std::string& text) {
    SCOPED_TRACE("seek \"" + text + "\"");
    std::string key;
    bool prefix = false, found = false;
    ASSERT_TRUE(tag.SeekKey(text, key, prefix));
    EXPECT_TRUE(prefix);
    std::size_t i = 0;
    while (i < keys.size() && keys[i].compare(0, key.size(), key) < 0) ++i;
    bool ok = cursor->Seek(key, prefix, found);
    ASSERT_EQ(ok, i < keys.size());
    if (!ok) return;
    EXPECT_EQ(cursor->Current().recno, order[i]);
    EXPECT_EQ(found, keys[i].compare(0, key.size(), key) == 0);
  };
  expectSeek("");
  for (std::size_t i = 0; i < keys.size(); i += 131) {
    std::string k = keys[i];
    expectSeek(k);                          // the whole key
    expectSeek(k.substr(0, 3));             // a prefix
    expectSeek(k + "XYZ");                  // longer than the key: cut to its length
    expectSeek(k.substr(0, 4) + "\xFF");    // between keys
    std::string lower = k.substr(0, 3);
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    expectSeek(lower);                      // case matters: after every upper-case key
  }
}

TEST(CdxFixtures, IntegerAndDateKeysSeekByValue) {
  if (!HaveFixtures()) GTEST_SKIP() << "fixture folder " << FixturesDir() << " not present";
  Opened calls;
  Open(kFixtures[3], calls);
  if (HasFatalFailure()) return;
  xbe::IndexTag& id = *FindTag(*calls.index, "CALL_ID");
  auto cursor = id.NewCursor();
  std::string key;
  bool prefix, found;
  ASSERT_TRUE(id.SeekKey("7", key, prefix));
  EXPECT_EQ(key, std::string("\x80\x00\x00\x07", 4));
  ASSERT_TRUE(cursor->Seek(key, prefix, found));
  EXPECT_TRUE(found);
  EXPECT_EQ(cursor->Current().recno, 7u);
  EXPECT_FALSE(id.SeekKey("7.5", key, prefix));  // no integer key can match

  Opened konto;
  Open(kFixtures[0], konto);
  if (HasFatalFailure()) return;
  xbe::IndexTag& ab = *FindTag(*konto.index, "AB");  // DToS(date) + Str(): character
  EXPECT_EQ(ab.KeyType(), 'C');
  EXPECT_EQ(ab.KeyLength(), 16);
}

TEST(CdxFixtures, TagsThatCannotBeEvaluatedAreReadableButNotMaintainable) {
  if (!HaveFixtures()) GTEST_SKIP() << "fixture folder " << FixturesDir() << " not present";
  for (const char* name : {"contacts", "types"}) {
    SCOPED_TRACE(name);
    const std::string base = FixturesDir() + "/foxpro/" + name;
    MemTable table;
    ASSERT_TRUE(LoadDbf(base + ".dbf", table));
    std::string err, why;
    auto index = xbe::OpenCdx(base + ".CDX", table, false, &err);
    ASSERT_TRUE(index) << err;
    ASSERT_GT(index->TagCount(), 0);
    EXPECT_FALSE(index->Maintainable(&why));
    EXPECT_NE(why.find("tag "), std::string::npos) << why;
    for (int i = 0; i < index->TagCount(); ++i) {
      auto walked = Walk(index->Tag(i), false);
      EXPECT_EQ(walked.size(), Walk(index->Tag(i), true).size());
      for (auto r : walked) EXPECT_LE(r, table.RecordCount());
    }
  }
}

TEST(CdxFixtures, CheckPassesOnSoundFilesAndFindsAStaleKey) {
  if (!HaveFixtures()) GTEST_SKIP() << "fixture folder " << FixturesDir() << " not present";
  for (const Fixture& f : kFixtures) {
    SCOPED_TRACE(f.index);
    Opened o;
    Open(f, o);
    if (HasFatalFailure()) return;
    std::string report;
    EXPECT_TRUE(o.index->Check(o.table, &report)) << report;
  }
  // The table changes behind the index's back: the check names the record.
  Opened o;
  Open(kFixtures[0], o);
  if (HasFatalFailure()) return;
  o.table.Load(17, nullptr);
  std::string old(o.table.FieldBytes(o.table.FindField("KNT_NR")));
  o.table.Set(17, "KNT_NR", old == "     123" ? "124" : "123");
  std::string report;
  EXPECT_FALSE(o.index->Check(o.table, &report));
  EXPECT_NE(report.find("tag KNT_NR: record 17 has key"), std::string::npos) << report;
  EXPECT_NE(report.find("tag NRDESC: record 17 has key"), std::string::npos) << report;
}

namespace {
bool HaveExpressions(const xbe::RecordAccess& table) {
  std::string err;
  return xbe::Expression::Compile("1 + 1", table, &err) != nullptr;
}
}  // namespace

TEST(CdxFixtures, RebuiltTagsWalkLikeTheOriginals) {
  if (!HaveFixtures()) GTEST_SKIP() << "fixture folder " << FixturesDir() << " not present";
  Opened o;
  Open(kFixtures[0], o);
  if (HasFatalFailure()) return;
  if (!HaveExpressions(o.table)) GTEST_SKIP() << "built without the expression engine";
  std::string why, report;
  EXPECT_TRUE(o.index->Maintainable(&why)) << why;
  EXPECT_TRUE(o.index->Check(o.table, &report)) << report;
  EXPECT_EQ(report, "");

  // Every tag built again by us, from the table alone, walks the same way.
  TempDir dir;
  const std::string path = dir.File("konto.cdx");
  for (int i = 0; i < o.index->TagCount(); ++i) {
    xbe::IndexTag& t = o.index->Tag(i);
    unsigned flags = (t.Descending() ? xbe::kCdxDescending : 0) | (t.Unique() ? xbe::kCdxUnique : 0);
    std::string err;
    ASSERT_TRUE(xbe::CreateCdxTag(path, t.Name(), t.KeyExpression(), t.ForExpression(), flags,
                                  o.table, &err))
        << err;
  }
  std::string err;
  auto rebuilt = xbe::OpenCdx(path, o.table, false, &err);
  ASSERT_TRUE(rebuilt) << err;
  ASSERT_EQ(rebuilt->TagCount(), o.index->TagCount());
  for (int i = 0; i < rebuilt->TagCount(); ++i) {
    SCOPED_TRACE(o.index->Tag(i).Name());
    EXPECT_EQ(rebuilt->Tag(i).Name(), o.index->Tag(i).Name());
    EXPECT_EQ(rebuilt->Tag(i).KeyLength(), o.index->Tag(i).KeyLength());
    EXPECT_EQ(Walk(rebuilt->Tag(i), false), Walk(o.index->Tag(i), false));
  }
  report.clear();
  EXPECT_TRUE(rebuilt->Check(o.table, &report)) << report;
}

TEST(CdxFixtures, UpdatesOnAForeignFileKeepItSound) {
  if (!HaveFixtures()) GTEST_SKIP() << "fixture folder " << FixturesDir() << " not present";
  TempDir dir;
  for (const Fixture& f : {kFixtures[0], kFixtures[3]}) {
    SCOPED_TRACE(f.index);
    Opened o;
    Open(f, o);
    if (HasFatalFailure()) return;
    o.index.reset();
    const std::string copy = dir.File(f.index);
    WriteFile(copy, ReadFile(FixturesDir() + "/" + f.dir + "/" + f.index));
    std::string err;
    o.index = xbe::OpenCdx(copy, o.table, true, &err);
    ASSERT_TRUE(o.index) << err;
    int changed = 0;
    for (int i = 0; i < o.index->TagCount(); ++i) {
      xbe::IndexTag& tag = o.index->Tag(i);
      std::vector<xbe::IndexEntry> taken;
      for (std::uint32_t r = 1; r <= o.table.RecordCount(); r += 3) {
        xbe::IndexEntry e{"", r};
        bool in = false;
        o.table.Load(r, nullptr);
        if (!tag.KeyFor(o.table, e.key, in, &err)) break;  // tag not evaluable here
        if (!in || !tag.Contains(e)) continue;
        ASSERT_TRUE(tag.Remove(e, &err)) << err;
        taken.push_back(e);
      }
      // Put them back in reverse order: other splits than the original ones.
      for (auto it = taken.rbegin(); it != taken.rend(); ++it) ASSERT_TRUE(tag.Insert(*it, &err)) << err;
      changed += static_cast<int>(taken.size());
    }
    EXPECT_GT(changed, 0);
    ASSERT_TRUE(o.index->Flush(&err)) << err;
    o.index = xbe::OpenCdx(copy, o.table, false, &err);
    ASSERT_TRUE(o.index) << err;
    std::string report;
    EXPECT_TRUE(o.index->Check(o.table, &report)) << report;
    for (const auto& [name, order] : o.manifest.orders) {
      xbe::IndexTag* tag = FindTag(*o.index, name);
      std::vector<std::uint32_t> expect = order;
      if (tag->Descending()) std::reverse(expect.begin(), expect.end());
      EXPECT_EQ(Walk(*tag, false), expect) << name;
    }
  }
}
