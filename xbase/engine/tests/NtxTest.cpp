#include <gtest/gtest.h>

#include <filesystem>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "KeySort.h"
#include "NtxTestTables.h"
#include "ntx/NtxIndex.h"
#include "ntx/NtxPage.h"

namespace xbe {
namespace {

namespace fs = std::filesystem;
using test::DbfTable;
using test::MemoryTable;

const std::string kFixtures = std::string(UST_FIXTURES_DIR) + "/xbase";

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("ntxtest-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteAll(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

// Record numbers in cursor order, from the top or from the bottom.
std::vector<std::uint32_t> Walk(IndexTag& tag, bool backwards = false, std::size_t limit = 1000000) {
  std::vector<std::uint32_t> out;
  auto cur = tag.NewCursor();
  for (bool ok = backwards ? cur->Last() : cur->First(); ok && out.size() < limit;
       ok = backwards ? cur->Prev() : cur->Next())
    out.push_back(cur->Current().recno);
  return out;
}

struct Manifest {
  std::vector<std::uint32_t> order;
  std::vector<std::string> number;  // KNT_NR text per record, 1-based at [recno - 1]
};

Manifest ReadManifest() {
  Manifest m;
  std::istringstream in(ReadAll(kFixtures + "/kontontx.manifest"));
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> cols;
    std::stringstream ls(line);
    std::string c;
    while (std::getline(ls, c, '\t')) cols.push_back(c);
    if (cols.size() > 3 && cols[0] == "REC") m.number.push_back(cols[3]);
    if (cols.size() > 3 && cols[0] == "ORDER")
      for (std::size_t i = 3; i < cols.size(); ++i) m.order.push_back(static_cast<std::uint32_t>(std::stoul(cols[i])));
  }
  return m;
}

#define REQUIRE_FIXTURES()                                                          \
  if (!fs::exists(kFixtures + "/kontontx.ntx")) GTEST_SKIP() << "fixture folder " << kFixtures << " is absent"

TEST(NtxKeyEncoding, NumbersSortAsBytes) {
  EXPECT_EQ(ntx::NumericKey(1, 8, 0), "00000001");
  EXPECT_EQ(ntx::NumericKey(-4, 8, 0), ",,,,,,,(");
  EXPECT_EQ(ntx::NumericKey(-3.25, 10, 2), ",,,,,,).*'");
  EXPECT_EQ(ntx::NumericKey(-1000.01, 10, 2), ",,,+,,,.,+");
  EXPECT_EQ(ntx::NumericKey(12.5, 4, 0), "0013");
  EXPECT_EQ(ntx::NumericKey(-0.001, 6, 2), "000.00");
  std::vector<double> values = {-1000.5, -999.99, -10, -1.01, -1, -0.5, 0, 0.01, 1, 9.99, 10, 999.99, 1000};
  for (std::size_t i = 1; i < values.size(); ++i)
    EXPECT_LT(ntx::NumericKey(values[i - 1], 10, 2), ntx::NumericKey(values[i], 10, 2)) << values[i];
  EXPECT_EQ(ntx::MaxKeysFor(8), 54);
  EXPECT_EQ(ntx::MaxKeysFor(10), 50);
}

TEST(NtxFixture, WalksSeeksAndChecksAsWritten) {
  REQUIRE_FIXTURES();
  DbfTable table;
  ASSERT_TRUE(table.Load(kFixtures + "/kontontx.dbf"));
  const Manifest m = ReadManifest();
  ASSERT_EQ(m.order.size(), 1500u);
  std::string error;
  auto file = OpenNtx(kFixtures + "/kontontx.ntx", table, false, &error);
  ASSERT_TRUE(file) << error;
  ASSERT_EQ(file->TagCount(), 1);
  IndexTag& tag = file->Tag(0);
  EXPECT_EQ(tag.Name(), "KONTONTX");
  EXPECT_EQ(tag.KeyExpression(), "KNT_NR");
  EXPECT_EQ(tag.KeyType(), 'N');
  EXPECT_EQ(tag.KeyLength(), 8);
  EXPECT_FALSE(tag.Descending());
  EXPECT_EQ(Walk(tag), m.order);
  std::vector<std::uint32_t> back = Walk(tag, true);
  std::reverse(back.begin(), back.end());
  EXPECT_EQ(back, m.order);

  std::string report;
  EXPECT_TRUE(file->Check(table, &report)) << report;

  // Seeks: each number lands on its first record in index order.
  auto cur = tag.NewCursor();
  for (std::size_t i = 0; i < m.order.size(); i += 37) {
    const std::uint32_t rec = m.order[i];
    std::string key;
    bool prefix = true;
    ASSERT_TRUE(tag.SeekKey(" " + m.number[rec - 1] + ".0 ", key, prefix));
    EXPECT_FALSE(prefix);
    bool found = false;
    ASSERT_TRUE(cur->Seek(key, prefix, found));
    EXPECT_TRUE(found);
    std::size_t first = i;
    while (first > 0 && m.number[m.order[first - 1] - 1] == m.number[rec - 1]) --first;
    EXPECT_EQ(cur->Current().recno, m.order[first]);
  }
  // A number between keys positions on the next larger one, not found.
  std::string key;
  bool prefix = false, found = true;
  ASSERT_TRUE(tag.SeekKey("-1", key, prefix));
  ASSERT_TRUE(cur->Seek(key, prefix, found));
  EXPECT_FALSE(found);
  EXPECT_EQ(cur->Current().recno, m.order.front());
  ASSERT_TRUE(tag.SeekKey("99999999", key, prefix));
  EXPECT_FALSE(cur->Seek(key, prefix, found));
  EXPECT_FALSE(tag.SeekKey("abc", key, prefix));
}

TEST(NtxFixture, RebuiltIndexMatchesTheOriginal) {
  REQUIRE_FIXTURES();
  DbfTable table;
  ASSERT_TRUE(table.Load(kFixtures + "/kontontx.dbf"));
  TempDir dir;
  const std::string path = dir.File("kontontx.ntx");
  std::string error;
  ASSERT_TRUE(CreateNtx(path, "KNT_NR", "", 0, table, &error)) << error;
  const std::string mine = ReadAll(path), theirs = ReadAll(kFixtures + "/kontontx.ntx");
  // Same header apart from the root page; the version is 1 after creation.
  ASSERT_GE(mine.size(), 1024u);
  EXPECT_EQ(mine.size(), theirs.size()) << "pages packed as full as the original's";
  EXPECT_EQ(mine.substr(0, 4), theirs.substr(0, 4));
  EXPECT_EQ(mine.substr(8, 1024 - 8), theirs.substr(8, 1024 - 8));
  auto file = OpenNtx(path, table, false, &error);
  ASSERT_TRUE(file) << error;
  EXPECT_EQ(Walk(file->Tag(0)), ReadManifest().order);
  std::string report;
  EXPECT_TRUE(file->Check(table, &report)) << report;
}

// Random changes of a table's records with the index kept in step, against
// a model of the entries; Check and a reopen confirm the file on disk.
void RandomMaintenance(unsigned flags, bool character, unsigned seed) {
  MemoryTable table(character ? std::vector<test::TestField>{{"K", 'C', 6, 0}}
                              : std::vector<test::TestField>{{"K", 'N', 8, 2}});
  std::mt19937 rng(seed);
  auto randomValue = [&]() -> std::string {
    if (character) {
      static const char kAlpha[] = "AB a\xE4Z";
      std::string s(1 + rng() % 6, ' ');
      for (char& c : s) c = kAlpha[rng() % 6];
      return s;
    }
    const int cents = static_cast<int>(rng() % 4001) - 2000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", cents / 100.0);
    return buf;
  };
  for (int i = 0; i < 300; ++i) table.Append({{"K", randomValue()}});
  TempDir dir;
  const std::string path = dir.File("t.ntx");
  std::string error;
  ASSERT_TRUE(CreateNtx(path, "K", "", flags, table, &error)) << error;
  auto file = OpenNtx(path, table.Record(), true, &error);
  ASSERT_TRUE(file) << error;
  IndexTag* tag = &file->Tag(0);
  ASSERT_TRUE(file->Maintainable(&error)) << error;

  std::set<std::pair<std::string, std::uint32_t>> model;
  auto keyOf = [&](std::uint32_t r) {
    EXPECT_TRUE(table.Load(r, nullptr));
    std::string k;
    bool inc = false;
    EXPECT_TRUE(tag->KeyFor(table.Record(), k, inc, nullptr));
    return k;
  };
  for (std::uint32_t r = 1; r <= table.RecordCount(); ++r) model.insert({keyOf(r), r});
  const bool desc = (flags & kNtxDescending) != 0;
  auto expected = [&]() {
    // Ascending keys; equal keys by record number, reversed for descending
    // files (whose stored order is the reverse of the cursor's).
    std::vector<std::pair<std::string, std::uint32_t>> v(model.begin(), model.end());
    if (desc)
      std::stable_sort(v.begin(), v.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second > b.second;
      });
    std::vector<std::uint32_t> recs;
    for (auto& e : v) recs.push_back(e.second);
    return recs;
  };
  ASSERT_EQ(Walk(*tag), expected());

  for (int op = 0; op < 4000; ++op) {
    const unsigned what = rng() % 10;
    if (what < 3) {
      const std::uint32_t r = table.Append({{"K", randomValue()}});
      const std::string k = keyOf(r);
      ASSERT_TRUE(tag->Insert({k, r}, &error)) << error;
      model.insert({k, r});
    } else {
      const std::uint32_t r = 1 + rng() % table.RecordCount();
      const std::string old = keyOf(r);
      ASSERT_TRUE(tag->Contains({old, r}));
      ASSERT_TRUE(tag->Remove({old, r}, &error)) << error;
      ASSERT_FALSE(tag->Remove({old, r}, &error));
      ASSERT_FALSE(tag->Contains({old, r}));
      model.erase({old, r});
      table.Set(r, "K", randomValue());
      const std::string k = keyOf(r);
      ASSERT_TRUE(tag->Insert({k, r}, &error)) << error;
      ASSERT_FALSE(tag->Insert({k, r}, &error));
      model.insert({k, r});
    }
    if (op % 1000 == 999) {
      ASSERT_EQ(Walk(*tag), expected()) << "after " << op;
      std::string report;
      ASSERT_TRUE(file->Check(table, &report)) << report;
      ASSERT_TRUE(file->Flush(&error)) << error;
      file = OpenNtx(path, table.Record(), true, &error);
      ASSERT_TRUE(file) << error;
      tag = &file->Tag(0);
      ASSERT_EQ(Walk(*tag), expected());
    }
  }
  // Remove everything: the tree shrinks back to an empty root.
  for (auto& [k, r] : model) ASSERT_TRUE(tag->Remove({k, r}, &error)) << error;
  EXPECT_TRUE(Walk(*tag).empty());
  ASSERT_TRUE(file->Flush(&error));
  const auto size = fs::file_size(path);
  for (std::uint32_t r = 1; r <= 500; ++r) ASSERT_TRUE(tag->Insert({keyOf(r), r}, &error)) << error;
  ASSERT_TRUE(file->Flush(&error));
  EXPECT_EQ(fs::file_size(path), size) << "freed pages are used again";

  if (!character) {
    // Byte order of the stored keys is number order.
    double last = -1e9;
    auto cur = tag->NewCursor();
    for (bool ok = desc ? cur->Last() : cur->First(); ok; ok = desc ? cur->Prev() : cur->Next()) {
      ASSERT_TRUE(table.Load(cur->Current().recno, nullptr));
      const double v = std::stod(std::string(table.Current().FieldBytes(0)));
      if (desc) EXPECT_TRUE(last == -1e9 || v <= last);
      else EXPECT_GE(v, last);
      last = v;
    }
  }
}

TEST(NtxMaintenance, RandomChangesAgainstAModel) {
  RandomMaintenance(0, false, 1);
  RandomMaintenance(0, true, 2);
  RandomMaintenance(kNtxDescending, true, 3);
  RandomMaintenance(kNtxDescending, false, 4);
}

TEST(NtxMaintenance, CursorFindsItsPlaceAfterChanges) {
  MemoryTable table({{"K", 'C', 4, 0}});
  for (int i = 0; i < 400; ++i) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04d", i);
    table.Append({{"K", buf}});
  }
  TempDir dir;
  std::string error;
  ASSERT_TRUE(CreateNtx(dir.File("c.ntx"), "K", "", 0, table, &error)) << error;
  auto file = OpenNtx(dir.File("c.ntx"), table.Record(), true, &error);
  ASSERT_TRUE(file) << error;
  IndexTag& tag = file->Tag(0);
  auto cur = tag.NewCursor();
  bool found = false;
  ASSERT_TRUE(cur->Seek("0100", true, found));
  ASSERT_TRUE(found);
  ASSERT_EQ(cur->Current().recno, 101u);
  // The current entry goes away; Next gives its successor, Prev the one before.
  ASSERT_TRUE(tag.Remove({"0100", 101}, &error));
  for (int i = 200; i < 260; ++i) ASSERT_TRUE(tag.Remove({std::to_string(i).insert(0, "0"), std::uint32_t(i + 1)}, &error));
  ASSERT_TRUE(cur->Next());
  EXPECT_EQ(cur->Current().recno, 102u);
  ASSERT_TRUE(cur->SeekEntry({"0102", 103}));
  ASSERT_TRUE(tag.Remove({"0102", 103}, &error));
  ASSERT_TRUE(cur->Prev());
  EXPECT_EQ(cur->Current().recno, 102u);
  EXPECT_FALSE(cur->SeekEntry({"0100", 101}));
  EXPECT_FALSE(cur->Valid());
  // Prefix seeks on character keys.
  ASSERT_TRUE(cur->Seek("03", true, found));
  EXPECT_TRUE(found);
  EXPECT_EQ(cur->Current().recno, 301u);
  ASSERT_TRUE(cur->Seek("", true, found));
  EXPECT_TRUE(found);
  EXPECT_EQ(cur->Current().recno, 1u);
  EXPECT_FALSE(cur->Seek("1", true, found));
}

TEST(NtxMaintenance, SecondHandleSeesFlushedChanges) {
  MemoryTable table({{"K", 'N', 8, 0}});
  for (int i = 0; i < 2000; ++i) table.Append({{"K", std::to_string(i * 2)}});
  TempDir dir;
  std::string error;
  const std::string path = dir.File("s.ntx");
  ASSERT_TRUE(CreateNtx(path, "K", "", 0, table, &error)) << error;
  auto reader = OpenNtx(path, table.Record(), false, &error);
  auto writer = OpenNtx(path, table.Record(), true, &error);
  ASSERT_TRUE(reader && writer) << error;
  auto cur = reader->Tag(0).NewCursor();
  ASSERT_TRUE(cur->First());  // the reader has pages cached now
  std::string key;
  bool prefix = false, found = false;
  ASSERT_TRUE(writer->Tag(0).SeekKey("1001", key, prefix));
  for (std::uint32_t r = 2001; r <= 2300; ++r) ASSERT_TRUE(writer->Tag(0).Insert({key, r}, &error)) << error;
  ASSERT_TRUE(writer->Flush(&error)) << error;
  ASSERT_TRUE(cur->Seek(key, prefix, found));
  EXPECT_TRUE(found);
  EXPECT_EQ(cur->Current().recno, 2001u);
  EXPECT_EQ(Walk(reader->Tag(0)).size(), 2300u);
}

TEST(NtxCreate, DescendingUniqueAndForClauses) {
  MemoryTable table({{"NAME", 'C', 10, 0}, {"NUM", 'N', 8, 0}, {"AKTIV", 'L', 1, 0}, {"AB", 'D', 8, 0}});
  const char* names[] = {"ALPHA", "BRAVO", "CHARLIE", "ALPHA", "alpha"};
  for (int i = 0; i < 5; ++i)
    table.Append({{"NAME", names[i]}, {"NUM", std::to_string(10 - i)}, {"AKTIV", i % 2 ? "T" : "F"},
                  {"AB", i == 2 ? "" : "2020070" + std::to_string(i + 1)}});
  TempDir dir;
  std::string error, report;

  ASSERT_TRUE(CreateNtx(dir.File("d.ntx"), "NAME", "", kNtxDescending, table, &error)) << error;
  auto file = OpenNtx(dir.File("d.ntx"), table.Record(), false, &error);
  ASSERT_TRUE(file) << error;
  IndexTag& d = file->Tag(0);
  EXPECT_TRUE(d.Descending());
  // Stored: "alpha", "CHARLIE", "BRAVO", "ALPHA"(1), "ALPHA"(4); the cursor
  // gives the reverse.
  EXPECT_EQ(Walk(d), (std::vector<std::uint32_t>{4, 1, 2, 3, 5}));
  auto cur = d.NewCursor();
  bool found = false;
  ASSERT_TRUE(cur->Seek("B", true, found));
  EXPECT_TRUE(found);
  EXPECT_EQ(cur->Current().recno, 2u);
  ASSERT_TRUE(cur->Seek("ALPHA", true, found));
  EXPECT_EQ(cur->Current().recno, 4u);
  ASSERT_TRUE(cur->Seek("BZ", true, found));
  EXPECT_FALSE(found);
  EXPECT_EQ(cur->Current().recno, 3u);
  EXPECT_FALSE(cur->Seek("b", true, found));
  EXPECT_TRUE(file->Check(table, &report)) << report;
  const std::string raw = ReadAll(dir.File("d.ntx"));
  EXPECT_EQ(raw[280], 1);

  ASSERT_TRUE(CreateNtx(dir.File("u.ntx"), "UPPER(NAME)", "AKTIV .OR. NUM > 9", kNtxUnique, table, &error)) << error;
  file = OpenNtx(dir.File("u.ntx"), table.Record(), false, &error);
  ASSERT_TRUE(file) << error;
  EXPECT_TRUE(file->Tag(0).Unique());
  EXPECT_EQ(file->Tag(0).ForExpression(), "AKTIV .OR. NUM > 9");
  EXPECT_EQ(Walk(file->Tag(0)), (std::vector<std::uint32_t>{1, 2}));
  EXPECT_TRUE(file->Check(table, &report)) << report;
  EXPECT_EQ(ReadAll(dir.File("u.ntx"))[0], 7);

  ASSERT_TRUE(CreateNtx(dir.File("a.ntx"), "DTOS(AB) + STR(NUM, 4)", "", 0, table, &error)) << error;
  file = OpenNtx(dir.File("a.ntx"), table.Record(), false, &error);
  ASSERT_TRUE(file) << error;
  EXPECT_EQ(file->Tag(0).KeyLength(), 12);
  EXPECT_EQ(Walk(file->Tag(0)), (std::vector<std::uint32_t>{3, 1, 2, 4, 5}));  // empty date first

  ASSERT_TRUE(CreateNtx(dir.File("n.ntx"), "AB", "", 0, table, &error)) << error;
  file = OpenNtx(dir.File("n.ntx"), table.Record(), false, &error);
  ASSERT_TRUE(file) << error;
  std::string key;
  bool prefix = true;
  ASSERT_TRUE(file->Tag(0).SeekKey("20200704", key, prefix));
  cur = file->Tag(0).NewCursor();
  ASSERT_TRUE(cur->Seek(key, prefix, found));
  EXPECT_TRUE(found);
  EXPECT_EQ(cur->Current().recno, 4u);
  ASSERT_TRUE(file->Tag(0).SeekKey("", key, prefix));
  ASSERT_TRUE(cur->Seek(key, prefix, found));
  EXPECT_EQ(cur->Current().recno, 3u);

  // A record whose key is wrong in the index is reported.
  table.Set(2, "NUM", "77");
  EXPECT_FALSE(OpenNtx(dir.File("a.ntx"), table.Record(), false, &error)->Check(table, &report));

  // Refusals leave no file behind.
  EXPECT_FALSE(CreateNtx(dir.File("x.ntx"), "NOSUCH", "", 0, table, &error));
  EXPECT_FALSE(CreateNtx(dir.File("x.ntx"), "NAME", "NUM", 0, table, &error));
  EXPECT_FALSE(CreateNtx(dir.File("x.ntx"), "REPLICATE(NAME, 30)", "", 0, table, &error));
  EXPECT_FALSE(fs::exists(dir.File("x.ntx")));
}

TEST(NtxDamage, BrokenFilesGiveErrorsNotCrashes) {
  MemoryTable table({{"K", 'N', 8, 0}});
  for (int i = 0; i < 2000; ++i) table.Append({{"K", std::to_string((i * 7919) % 5000)}});
  TempDir dir;
  std::string error, report;
  const std::string good = dir.File("good.ntx");
  ASSERT_TRUE(CreateNtx(good, "K", "", 0, table, &error)) << error;
  const std::string image = ReadAll(good);
  const std::string bad = dir.File("bad.ntx");
  auto put32 = [](std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  };
  const std::uint32_t root = static_cast<unsigned char>(image[4]) | (static_cast<unsigned char>(image[5]) << 8);

  auto expectOpenFails = [&](const std::string& data, const char* what) {
    WriteAll(bad, data);
    EXPECT_FALSE(OpenNtx(bad, table.Record(), false, &error)) << what;
    EXPECT_FALSE(error.empty()) << what;
  };
  expectOpenFails("", "empty file");
  expectOpenFails(image.substr(0, 1000), "short header");
  expectOpenFails(image.substr(0, root), "root beyond the end");
  std::string s = image;
  s[14] = 0;  // key length 0
  expectOpenFails(s, "key length");
  s = image;
  s[0] = 0x46;  // an unknown variant
  expectOpenFails(s, "flags");
  s = image;
  s[18] = static_cast<char>(200);  // more keys than fit a page
  expectOpenFails(s, "max keys");
  s = image;
  std::memcpy(&s[22], "NOSUCH\0", 7);
  expectOpenFails(s, "expression");

  // Damage inside the tree: opens, but walks stop and Check reports.
  auto expectCheckFails = [&](const std::string& data, const char* what) {
    WriteAll(bad, data);
    auto f = OpenNtx(bad, table.Record(), true, &error);
    ASSERT_TRUE(f) << what << ": " << error;
    // A walk never meets an entry twice, however the pages are linked.
    for (bool backwards : {false, true}) {
      const auto recs = Walk(f->Tag(0), backwards, 10000);
      EXPECT_EQ(std::set<std::uint32_t>(recs.begin(), recs.end()).size(), recs.size()) << what;
    }
    report.clear();
    EXPECT_FALSE(f->Check(table, &report)) << what;
    EXPECT_FALSE(report.empty()) << what;
    std::string k;
    bool p;
    f->Tag(0).SeekKey("42", k, p);
    f->Tag(0).Insert({k, 1}, &error);
    f->Tag(0).Remove({k, 1}, &error);
  };
  s = image;
  put32(s, root + 0x70, root);  // first child of the root is the root
  expectCheckFails(s, "cycle");
  s = image;
  s[root] = static_cast<char>(0xFF);  // key count above the maximum
  expectCheckFails(s, "key count");
  s = image;
  put32(s, root + 0x70, 0x7FFFFC00);  // child beyond the end of the file
  expectCheckFails(s, "child out of the file");
  s = image;
  put32(s, root + 0x70 + 4, 99999);  // record number the table lacks
  expectCheckFails(s, "dangling record");
  s = image;
  put32(s, 8, 1024);  // free chain starts at a live page
  put32(s, 1024 + 0x70, 1024);
  expectCheckFails(s, "free chain");
  s = image;
  put32(s, root + 0x70, static_cast<std::uint32_t>(image.size()) - 1024);  // two parents share a page
  put32(s, root + 0x80, static_cast<std::uint32_t>(image.size()) - 1024);
  expectCheckFails(s, "shared page");
  s = image;
  {
    // The root's second entry leads to the page below its first, whose
    // entries a walk would then meet twice.
    auto get16 = [&](std::size_t at) {
      return static_cast<std::size_t>(static_cast<unsigned char>(s[at]) | (static_cast<unsigned char>(s[at + 1]) << 8));
    };
    const std::size_t first = root + get16(root + 2), second = root + get16(root + 4);
    s.replace(second, 4, s, first, 4);
  }
  expectCheckFails(s, "second child is the first");

  // Random byte damage anywhere in the pages.
  std::mt19937 rng(7);
  for (int round = 0; round < 150; ++round) {
    s = image;
    for (int n = 0; n < 1 + round % 8; ++n) s[1024 + rng() % (s.size() - 1024)] = static_cast<char>(rng());
    WriteAll(bad, s);
    auto f = OpenNtx(bad, table.Record(), true, &error);
    if (!f) continue;
    Walk(f->Tag(0), false, 10000);
    f->Check(table, &report);
    std::string k;
    bool p;
    f->Tag(0).SeekKey(std::to_string(rng() % 5000), k, p);
    f->Tag(0).Remove({k, 1 + static_cast<std::uint32_t>(rng() % 2000)}, &error);
    f->Tag(0).Insert({k, 5000}, &error);
  }
}


// Builds in a few KiB of sort memory spill their keys to disk: the files
// must be byte for byte those of a build in memory, and a build that fails
// part-way must leave the old file and no temporary file.
TEST(NtxBuild, SpilledBuildsWriteWhatABuildInMemoryWrites) {
  MemoryTable table({{"NAME", 'C', 10, 0}, {"NUM", 'N', 6, 0}});
  std::mt19937 rng(17);
  for (int i = 0; i < 20000; ++i) {
    std::string name(1 + rng() % 5, ' ');
    for (char& c : name) c = "AAB z\xE4"[rng() % 6];
    table.Append({{"NAME", name}, {"NUM", std::to_string(static_cast<int>(rng() % 3000) - 1000)}});
  }
  const std::size_t saved = SortMemory();
  struct Case {
    const char* expr;
    unsigned flags;
  };
  for (const Case& c : {Case{"NAME", 0}, Case{"NAME", kNtxDescending},
                        Case{"NAME + STR(NUM, 6)", kNtxUnique | kNtxDescending}, Case{"NUM", kNtxUnique}}) {
    SCOPED_TRACE(c.expr + std::string(" ") + std::to_string(c.flags));
    TempDir dir;
    std::string error, report;
    SetSortMemory(std::size_t{32} << 20);
    ASSERT_TRUE(CreateNtx(dir.File("a.ntx"), c.expr, "", c.flags, table, &error)) << error;
    SetSortMemory(std::size_t{8} << 10);
    ASSERT_TRUE(CreateNtx(dir.File("b.ntx"), c.expr, "", c.flags, table, &error)) << error;
    SetSortMemory(saved);
    EXPECT_TRUE(ReadAll(dir.File("a.ntx")) == ReadAll(dir.File("b.ntx"))) << "the files differ";
    auto file = OpenNtx(dir.File("b.ntx"), table.Record(), false, &error);
    ASSERT_TRUE(file) << error;
    EXPECT_TRUE(file->Check(table, &report)) << report;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("")), fs::directory_iterator()), 2);
  }

  class Failing : public TableScan {
   public:
    explicit Failing(MemoryTable& t) : t_(t) {}
    std::uint32_t RecordCount() const override { return t_.RecordCount(); }
    bool Load(std::uint32_t recno, std::string* error) override {
      if (recno == 15000) {
        *error = "read error";
        return false;
      }
      return t_.Load(recno, error);
    }
    const RecordAccess& Record() const override { return t_.Record(); }

   private:
    MemoryTable& t_;
  } failing(table);
  TempDir dir;
  std::string error;
  ASSERT_TRUE(CreateNtx(dir.File("t.ntx"), "NAME", "", 0, table, &error)) << error;
  const std::string before = ReadAll(dir.File("t.ntx"));
  SetSortMemory(std::size_t{8} << 10);
  EXPECT_FALSE(CreateNtx(dir.File("t.ntx"), "NUM", "", 0, failing, &error));
  SetSortMemory(saved);
  EXPECT_NE(error.find("record 15000: read error"), std::string::npos) << error;
  EXPECT_EQ(ReadAll(dir.File("t.ntx")), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("")), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace xbe
