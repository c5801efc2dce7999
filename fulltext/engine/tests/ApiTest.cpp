// The library through its C interface: numbering, changes, persistence,
// search kinds, handles and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "Crc32.h"
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

// What the model run below cannot see: the edges of numbering and the
// meaning of each search kind.
TEST(FtsApi, NumberingEdgesAndSearchKinds) {
  TempDir dir;
  const std::string file = dir.File("k.TS1");
  int h = FtsCreate(file.c_str(), 0, 0, 0, 0);
  ASSERT_GE(h, 0);
  for (const char* t : {"ERLOESE n19n % UST",       // 1
                        "ERLOESE n7n % UST",        // 2
                        "VORSTEUER n19n %",         // 3
                        "UMSATZSTEUER n16n%",       // 4
                        "BANK n1npn200npn50n",      // 5
                        "ERLOESE STEUERFREI",       // 6
                        ""}) {                      // 7: still takes its number
    const int before = FtsNumRecs(h);
    ASSERT_EQ(FtsAdd(h, t), before + 1);
  }
  EXPECT_EQ(FtsReplace(h, "X", 0), FTS_ERR_RECNO);
  EXPECT_EQ(FtsReplace(h, "X", 8), FTS_ERR_RECNO) << "replace never appends";
  EXPECT_EQ(FtsIsDelete(h, 8), FTS_ERR_RECNO);
  // Too long is cut, not refused: a refusal would put the index out of step.
  EXPECT_EQ(FtsAdd(h, std::string(5000, 'A').c_str()), 8);

  EXPECT_EQ(Search(h, "ERLOESE UST", FTS_VAND), (std::vector<int>{1, 2}));
  EXPECT_EQ(Search(h, "erloese", FTS_VAND), (std::vector<int>{1, 2, 6})) << "case is ignored";
  EXPECT_EQ(Search(h, "STEUERFREI n1npn200npn50n", FTS_VONE), (std::vector<int>{5, 6}));
  EXPECT_EQ(Search(h, "STEUER", FTS_VBEG), (std::vector<int>{6}));
  EXPECT_EQ(Search(h, "STEUER", FTS_VEND), (std::vector<int>{3, 4}));
  EXPECT_EQ(Search(h, "ERL n1", FTS_VBEG), (std::vector<int>{1}));
  EXPECT_EQ(Search(h, "  ", FTS_VONE), (std::vector<int>{})) << "no words, no hits";
  EXPECT_EQ(FtsVerify(h, "X", nullptr, 5), FTS_ERR_ARGUMENT);
  ASSERT_EQ(FtsSet(h, "UST ERLOESE"), 2) << "FtsSet is the all-words search";
  EXPECT_EQ(Found(h, 2), (std::vector<int>{1, 2}));
  EXPECT_EQ(FtsVerify(h, "OESE", "ERLOESE n19n", FTS_VEND), 1);
  EXPECT_EQ(FtsVerify(h, "KASSE n19n", "ERLOESE n19n", FTS_VAND), 0);
  ASSERT_EQ(FtsClose(h), FTS_OK);
  EXPECT_EQ(ReadBack(file).at(7).text.size(), static_cast<std::size_t>(FTS_MAX_TEXT));

  // A case-sensitive index keeps its flag across a reopen.
  h = FtsCreate(file.c_str(), 0, 0, 1, 0);
  ASSERT_EQ(FtsAdd(h, "Kasse"), 1);
  ASSERT_EQ(FtsClose(h), FTS_OK);
  h = FtsOpen(file.c_str(), 0, 0);
  EXPECT_EQ(Search(h, "KASSE", FTS_VAND), (std::vector<int>{}));
  EXPECT_EQ(Search(h, "Kas", FTS_VBEG), (std::vector<int>{1}));
  EXPECT_EQ(FtsClose(h), FTS_OK);
}

TEST(FtsApi, HandlesAreCheckedAndIndependent) {
  TempDir dir;
  const std::string a = dir.File("a.TS1"), b = dir.File("b.TS1");
  const int ha = FtsCreate(a.c_str(), 0, 0, 0, 0);
  const int hb = FtsCreate(b.c_str(), 0, 0, 0, 0);
  ASSERT_GE(ha, 0);
  ASSERT_GE(hb, 0);
  EXPECT_EQ(FtsAdd(hb, "B"), 1);
  EXPECT_EQ(FtsAdd(hb, "B"), 2);
  EXPECT_EQ(FtsNumRecs(ha), 0);

  EXPECT_EQ(FtsOpen(a.c_str(), 0, FTS_MODE_READWRITE), FTS_ERR_LOCKED)
      << "a second writer would interleave its records";
  EXPECT_EQ(FtsCreate(a.c_str(), 0, 0, 0, 0), FTS_ERR_LOCKED);
  const int reader = FtsOpen(a.c_str(), 0, FTS_MODE_READONLY);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(FtsAdd(reader, "X"), FTS_ERR_READONLY);
  EXPECT_EQ(FtsClose(reader), FTS_OK);

  EXPECT_EQ(FtsClose(ha), FTS_OK);
  EXPECT_EQ(FtsClose(ha), FTS_ERR_HANDLE);
  // A new index may take the closed one's slot; the old handle must not reach it.
  const int hc = FtsOpen(a.c_str(), 0, 0);
  ASSERT_GE(hc, 0);
  EXPECT_EQ(FtsNumRecs(ha), FTS_ERR_HANDLE);
  for (int bad : {-100, -1, 0x7FFFFFFF, 12345}) EXPECT_EQ(FtsNextRec(bad), FTS_ERR_HANDLE) << bad;
  EXPECT_EQ(FtsClose(hb), FTS_OK);
  EXPECT_EQ(FtsClose(hc), FTS_OK);
}

TEST(FtsApi, MissingAndDamagedFilesGiveCodes) {
  TempDir dir;
  EXPECT_EQ(FtsOpen(dir.File("none.TS1").c_str(), 0, 0), FTS_ERR_NOT_FOUND);
  EXPECT_EQ(FtsOpen(nullptr, 0, 0), FTS_ERR_ARGUMENT);
  EXPECT_EQ(FtsCreate(dir.File("no/such/dir.TS1").c_str(), 0, 0, 0, 0), FTS_ERR_IO);

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
// The file's checksums are zlib's CRC-32, whatever the length and alignment
// of the bytes: the check value, and a bit-by-bit reference on random data.
TEST(FtsApi, ChecksumsAreTheStandardCrc32) {
  EXPECT_EQ(fts::Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(fts::Crc32(""), 0u);
  std::mt19937 rng(7);
  std::string data(1000, '\0');
  for (char& c : data) c = static_cast<char>(rng());
  for (std::size_t start : {0, 1, 3, 7}) {
    for (std::size_t len : {0, 1, 7, 8, 9, 15, 16, 17, 63, 500, 993}) {
      std::uint32_t c = 0xFFFFFFFFu;
      for (std::size_t i = start; i < start + len; ++i) {
        c ^= static_cast<unsigned char>(data[i]);
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      }
      EXPECT_EQ(fts::Crc32(std::string_view(data).substr(start, len)), c ^ 0xFFFFFFFFu) << start << " " << len;
    }
  }
}

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
