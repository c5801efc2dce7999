// The library through its C interface: numbering, changes, persistence,
// search kinds, handles and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "TestSupport.h"
#include "WordIndex.h"
#include "platform/Files.h"

using ftstest::ReadBack;
using ftstest::Row;
using ftstest::TempDir;

namespace {

std::vector<int> Found(int handle, int count) {
  std::vector<int> out;
  for (int r; (r = FtsNextRec(handle)) > 0;) out.push_back(r);
  EXPECT_EQ(FtsNextRec(handle), 0) << "the end stays the end";
  EXPECT_EQ(static_cast<int>(out.size()), count);
  return out;
}

std::vector<int> Search(int handle, const char* query, int kind) {
  const int n = FtsVerify(handle, query, nullptr, kind);
  EXPECT_GE(n, 0);
  return Found(handle, n);
}

TEST(FtsApi, AddNumbersReplaceDeleteAndReopenKeepEverything) {
  TempDir dir;
  const std::string file = dir.File("konto.TS1");
  const int h = FtsCreate(file.c_str(), 32, 0, 0, 0);
  ASSERT_GE(h, 0);
  EXPECT_EQ(FtsNumRecs(h), 0);
  EXPECT_EQ(FtsAdd(h, "KASSE"), 1);
  EXPECT_EQ(FtsAdd(h, "BANK n1n"), 2);
  EXPECT_EQ(FtsAdd(h, ""), 3) << "an empty label still takes its record number";
  EXPECT_EQ(FtsNumRecs(h), 3);
  EXPECT_EQ(FtsReplace(h, "ERLOESE n16n % UST", 2), FTS_OK);
  EXPECT_EQ(FtsReplace(h, "X", 0), FTS_ERR_RECNO);
  EXPECT_EQ(FtsReplace(h, "X", 4), FTS_ERR_RECNO) << "replace never appends";
  EXPECT_EQ(FtsDelete(h, 1), FTS_OK);
  EXPECT_EQ(FtsIsDelete(h, 1), 1);
  EXPECT_EQ(FtsIsDelete(h, 2), 0);
  EXPECT_EQ(FtsIsDelete(h, 9), FTS_ERR_RECNO);
  EXPECT_EQ(FtsDelete(h, 3), FTS_OK);
  EXPECT_EQ(FtsUnDelete(h, 3), FTS_OK);
  EXPECT_EQ(FtsClose(h), FTS_OK);

  const std::vector<Row> expected = {{"KASSE", true}, {"ERLOESE n16n % UST", false}, {"", false}};
  EXPECT_EQ(ReadBack(file), expected);

  const int h2 = FtsOpen(file.c_str(), 32, 0);
  ASSERT_GE(h2, 0);
  EXPECT_EQ(FtsNumRecs(h2), 3);
  EXPECT_EQ(FtsAdd(h2, "KASSE n2n"), 4) << "numbering goes on after a reopen";
  EXPECT_EQ(FtsIsDelete(h2, 1), 1);
  EXPECT_EQ(FtsClose(h2), FTS_OK);
  EXPECT_EQ(ReadBack(file).size(), 4u);
}

TEST(FtsApi, LongTextsAreCutToTheBoundNotRefused) {
  TempDir dir;
  const std::string file = dir.File("a.TS1");
  const int h = FtsCreate(file.c_str(), 0, 0, 0, 0);
  const std::string longText(5000, 'A');
  EXPECT_EQ(FtsAdd(h, longText.c_str()), 1) << "refusing would put the index out of step";
  EXPECT_EQ(FtsClose(h), FTS_OK);
  EXPECT_EQ(ReadBack(file).at(0).text.size(), static_cast<std::size_t>(FTS_MAX_TEXT));
}

TEST(FtsApi, SearchKinds) {
  TempDir dir;
  const std::string file = dir.File("k.TS1");
  const int h = FtsCreate(file.c_str(), 0, 0, 0, 0);
  for (const char* t : {"ERLOESE n19n % UST",       // 1
                        "ERLOESE n7n % UST",        // 2
                        "VORSTEUER n19n %",         // 3
                        "UMSATZSTEUER n16n%",       // 4
                        "BANK n1npn200npn50n",      // 5
                        "ERLOESE STEUERFREI",       // 6
                        "KASSE"}) {                 // 7
    ASSERT_GT(FtsAdd(h, t), 0);
  }
  EXPECT_EQ(Search(h, "ERLOESE", FTS_VAND), (std::vector<int>{1, 2, 6}));
  EXPECT_EQ(Search(h, "ERLOESE UST", FTS_VAND), (std::vector<int>{1, 2}));
  EXPECT_EQ(Search(h, "n19n UST", FTS_VAND), (std::vector<int>{1}));
  EXPECT_EQ(Search(h, "KASSE BANK", FTS_VAND), (std::vector<int>{}));
  EXPECT_EQ(Search(h, "KASSE n1npn200npn50n", FTS_VONE), (std::vector<int>{5, 7}));
  EXPECT_EQ(Search(h, "STEUER", FTS_VBEG), (std::vector<int>{6}));
  EXPECT_EQ(Search(h, "STEUER", FTS_VEND), (std::vector<int>{3, 4}));
  EXPECT_EQ(Search(h, "n1", FTS_VBEG), (std::vector<int>{1, 3, 4, 5}));
  EXPECT_EQ(Search(h, "ERL n19", FTS_VBEG), (std::vector<int>{1}));
  EXPECT_EQ(Search(h, "erloese", FTS_VAND), (std::vector<int>{1, 2, 6})) << "case is ignored";
  EXPECT_EQ(Search(h, "  ", FTS_VONE), (std::vector<int>{})) << "no words, no hits";
  EXPECT_EQ(FtsVerify(h, "X", nullptr, 0), FTS_ERR_ARGUMENT);
  EXPECT_EQ(FtsVerify(h, "X", nullptr, 5), FTS_ERR_ARGUMENT);

  // FtsSet is the all-words search.
  ASSERT_EQ(FtsSet(h, "UST ERLOESE"), 2);
  EXPECT_EQ(Found(h, 2), (std::vector<int>{1, 2}));

  // Deleted entries are not found; changes after a search reach the next one.
  ASSERT_EQ(FtsDelete(h, 1), FTS_OK);
  ASSERT_EQ(FtsReplace(h, "ERLOESE n5n % UST", 2), FTS_OK);
  ASSERT_EQ(FtsAdd(h, "ERLOESE n16n % UST"), 8);
  EXPECT_EQ(Search(h, "UST", FTS_VAND), (std::vector<int>{2, 8}));
  EXPECT_EQ(Search(h, "n7n", FTS_VONE), (std::vector<int>{}));
  EXPECT_EQ(Search(h, "n5n", FTS_VAND), (std::vector<int>{2}));
  ASSERT_EQ(FtsUnDelete(h, 1), FTS_OK);
  EXPECT_EQ(Search(h, "n19n", FTS_VAND), (std::vector<int>{1, 3}));

  // Verify against a text: no index involved.
  EXPECT_EQ(FtsVerify(h, "ERL", "ERLOESE n19n", FTS_VBEG), 1);
  EXPECT_EQ(FtsVerify(h, "ERL", "ERLOESE n19n", FTS_VAND), 0);
  EXPECT_EQ(FtsVerify(h, "n19n", "ERLOESE n19n", FTS_VEND), 1);
  EXPECT_EQ(FtsVerify(h, "OESE", "ERLOESE n19n", FTS_VEND), 1);
  EXPECT_EQ(FtsVerify(h, "KASSE n19n", "ERLOESE n19n", FTS_VONE), 1);
  EXPECT_EQ(FtsVerify(h, "KASSE n19n", "ERLOESE n19n", FTS_VAND), 0);
  EXPECT_EQ(FtsClose(h), FTS_OK);
}

TEST(FtsApi, CaseSensitiveIndexComparesCase) {
  TempDir dir;
  const std::string file = dir.File("c.TS1");
  const int h = FtsCreate(file.c_str(), 0, 0, 1, 0);
  ASSERT_EQ(FtsAdd(h, "Kasse"), 1);
  EXPECT_EQ(Search(h, "KASSE", FTS_VAND), (std::vector<int>{}));
  EXPECT_EQ(Search(h, "Kas", FTS_VBEG), (std::vector<int>{1}));
  ASSERT_EQ(FtsClose(h), FTS_OK);
  const int h2 = FtsOpen(file.c_str(), 0, 0);
  EXPECT_EQ(FtsVerify(h2, "kasse", "Kasse", FTS_VAND), 0) << "the flag survives a reopen";
  EXPECT_EQ(FtsClose(h2), FTS_OK);
}

TEST(FtsApi, HandlesAreCheckedAndIndependent) {
  TempDir dir;
  const std::string a = dir.File("a.TS1"), b = dir.File("b.TS1");
  const int ha = FtsCreate(a.c_str(), 0, 0, 0, 0);
  const int hb = FtsCreate(b.c_str(), 0, 0, 0, 0);
  ASSERT_GE(ha, 0);
  ASSERT_GE(hb, 0);
  EXPECT_NE(ha, hb);
  EXPECT_EQ(FtsAdd(ha, "A"), 1);
  EXPECT_EQ(FtsAdd(hb, "B"), 1);
  EXPECT_EQ(FtsAdd(hb, "B"), 2);
  EXPECT_EQ(FtsNumRecs(ha), 1);

  EXPECT_EQ(FtsOpen(a.c_str(), 0, FTS_MODE_READWRITE), FTS_ERR_LOCKED)
      << "a second writer would interleave its records";
  EXPECT_EQ(FtsCreate(a.c_str(), 0, 0, 0, 0), FTS_ERR_LOCKED);
  const int reader = FtsOpen(a.c_str(), 0, FTS_MODE_READONLY);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(FtsAdd(reader, "X"), FTS_ERR_READONLY);
  EXPECT_EQ(FtsDelete(reader, 1), FTS_ERR_READONLY);
  EXPECT_EQ(FtsClose(reader), FTS_OK);

  EXPECT_EQ(FtsClose(ha), FTS_OK);
  EXPECT_EQ(FtsClose(ha), FTS_ERR_HANDLE);
  EXPECT_EQ(FtsAdd(ha, "A"), FTS_ERR_HANDLE);
  // A new index may take the closed one's slot; the old handle must not reach it.
  const int hc = FtsOpen(a.c_str(), 0, 0);
  ASSERT_GE(hc, 0);
  EXPECT_EQ(FtsNumRecs(ha), FTS_ERR_HANDLE);
  for (int bad : {-100, -18, -1, 0x7FFFFFFF, 12345}) {
    if (bad == hb || bad == hc) continue;
    EXPECT_EQ(FtsNumRecs(bad), FTS_ERR_HANDLE) << bad;
    EXPECT_EQ(FtsNextRec(bad), FTS_ERR_HANDLE) << bad;
  }
  EXPECT_EQ(FtsAdd(hb, nullptr), FTS_ERR_ARGUMENT);
  EXPECT_EQ(FtsClose(hb), FTS_OK);
  EXPECT_EQ(FtsClose(hc), FTS_OK);
  EXPECT_NE(std::string(FtsVersion()), "");
}

TEST(FtsApi, MissingAndDamagedFilesGiveCodes) {
  TempDir dir;
  EXPECT_EQ(FtsOpen(dir.File("none.TS1").c_str(), 0, 0), FTS_ERR_NOT_FOUND);
  EXPECT_EQ(FtsOpen("", 0, 0), FTS_ERR_ARGUMENT);
  EXPECT_EQ(FtsOpen(nullptr, 0, 0), FTS_ERR_ARGUMENT);
  EXPECT_EQ(FtsCreate(dir.File("no/such/dir.TS1").c_str(), 0, 0, 0, 0), FTS_ERR_IO);
  EXPECT_EQ(FtsCreate(dir.File("x.TS1").c_str(), 0, 0, 0, 7), FTS_ERR_ARGUMENT);

  const std::string garbage = dir.File("garbage.TS1");
  ASSERT_TRUE(platform::WriteFileAtomic(garbage, std::string(200, 'x')));
  EXPECT_EQ(FtsOpen(garbage.c_str(), 0, 0), FTS_ERR_CORRUPT);
  const std::string empty = dir.File("empty.TS1");
  ASSERT_TRUE(platform::WriteFileAtomic(empty, ""));
  EXPECT_EQ(FtsOpen(empty.c_str(), 0, 0), FTS_ERR_CORRUPT);

  // A file with a base section (4000 entries make the close rewrite it) and
  // a change tail.
  const std::string file = dir.File("k.TS1");
  int h = FtsCreate(file.c_str(), 0, 0, 0, 0);
  for (int i = 0; i < 4000; ++i) FtsAdd(h, ("WORD n" + std::to_string(i) + "n").c_str());
  ASSERT_EQ(FtsClose(h), FTS_OK);
  h = FtsOpen(file.c_str(), 0, 0);
  ASSERT_EQ(FtsReplace(h, "CHANGED", 7), FTS_OK);
  ASSERT_EQ(FtsAdd(h, "NEW"), 4001);
  ASSERT_EQ(FtsClose(h), FTS_OK);
  std::string bytes;
  ASSERT_TRUE(platform::ReadWholeFile(file, bytes));
  fts::Decoded intact;
  ASSERT_TRUE(fts::DecodeFile(bytes, intact, nullptr));
  ASSERT_EQ(intact.header.count, 4000u) << "the close before should have rewritten the file";
  ASSERT_EQ(intact.entries.Count(), 4001u);

  // A flipped byte in the header or the base is found; one in the tail cuts
  // the tail back to the record before it. Never a crash, never entries
  // beyond what was written.
  std::mt19937 rng(7);
  std::vector<std::size_t> positions;
  for (std::size_t i = 0; i < fts::kHeaderSize; ++i) positions.push_back(i);
  for (int i = 0; i < 300; ++i) positions.push_back(rng() % bytes.size());
  for (std::size_t i = bytes.size() - 40; i < bytes.size(); ++i) positions.push_back(i);
  for (std::size_t at : positions) {
    std::string copy = bytes;
    copy[at] = static_cast<char>(copy[at] ^ 0x20);
    fts::Decoded d;
    const bool ok = fts::DecodeFile(copy, d, nullptr);
    if (at < fts::kHeaderSize + intact.header.baseSize) {
      EXPECT_FALSE(ok) << at;
    } else {
      ASSERT_TRUE(ok) << at;
      EXPECT_GE(d.entries.Count(), 4000u) << at;
      EXPECT_TRUE(d.tornTail) << at;
    }
  }
  // Cut at every length: the header and base must be whole, the tail may end anywhere.
  for (std::size_t len = 0; len <= bytes.size(); len += (len < 200 || len + 100 > bytes.size()) ? 1 : 997) {
    fts::Decoded d;
    const bool ok = fts::DecodeFile(std::string_view(bytes).substr(0, len), d, nullptr);
    EXPECT_EQ(ok, len >= fts::kHeaderSize + intact.header.baseSize) << len;
  }
  const std::string damaged = dir.File("d.TS1");
  std::string copy = bytes;
  copy[100] ^= 1;
  ASSERT_TRUE(platform::WriteFileAtomic(damaged, copy));
  EXPECT_EQ(FtsOpen(damaged.c_str(), 0, 0), FTS_ERR_CORRUPT);
}

// Long random runs against a plain model, with reopens (and so rewrites of
// the file) in between: the file and every search must agree with it.
TEST(FtsApi, RandomOperationsAgreeWithAModel) {
  TempDir dir;
  const std::string file = dir.File("m.TS1");
  std::mt19937 rng(20200701);
  const std::vector<std::string> vocabulary = {"ERLOESE", "UST",  "n19n", "n7n",  "n16n",
                                               "BANK",    "KASSE", "VST",  "ERL",  "STEUER",
                                               "%",       "nn",    "A",    "AB",   "ABC"};
  auto randomText = [&] {
    std::string t;
    const int words = static_cast<int>(rng() % 5);
    for (int i = 0; i < words; ++i) {
      if (i) t += ' ';
      t += vocabulary[rng() % vocabulary.size()];
    }
    return t;
  };
  std::vector<Row> model;
  int h = FtsCreate(file.c_str(), 1, 0, 0, 0);
  ASSERT_GE(h, 0);
  for (int step = 0; step < 6000; ++step) {
    const int op = static_cast<int>(rng() % 100);
    const int n = static_cast<int>(model.size());
    const int recNo = n ? static_cast<int>(rng() % n) + 1 : 0;
    if (op < 35 || n == 0) {
      const std::string t = randomText();
      ASSERT_EQ(FtsAdd(h, t.c_str()), n + 1);
      model.push_back({t, false});
    } else if (op < 65) {
      const std::string t = randomText();
      ASSERT_EQ(FtsReplace(h, t.c_str(), recNo), FTS_OK);
      model[recNo - 1].text = t;
    } else if (op < 75) {
      const bool del = rng() % 2;
      ASSERT_EQ(del ? FtsDelete(h, recNo) : FtsUnDelete(h, recNo), FTS_OK);
      model[recNo - 1].deleted = del;
    } else if (op < 97) {
      const std::string q = vocabulary[rng() % vocabulary.size()] + " " +
                            vocabulary[rng() % vocabulary.size()];
      const int kind = static_cast<int>(rng() % 4) + 1;
      std::vector<int> expected;
      for (int i = 0; i < n; ++i) {
        if (!model[i].deleted &&
            fts::TextMatches(q, model[i].text, static_cast<fts::SearchKind>(kind), false)) {
          expected.push_back(i + 1);
        }
      }
      ASSERT_EQ(Search(h, q.c_str(), kind), expected) << q << " kind " << kind;
    } else {
      ASSERT_EQ(FtsClose(h), FTS_OK);
      ASSERT_EQ(ReadBack(file), model) << "step " << step;
      h = FtsOpen(file.c_str(), 1, 0);
      ASSERT_GE(h, 0);
    }
  }
  ASSERT_EQ(FtsClose(h), FTS_OK);
  EXPECT_EQ(ReadBack(file), model);
}

}  // namespace
