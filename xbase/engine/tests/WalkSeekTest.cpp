// Walking a table in tag order and seeking in it through the work area:
// steps inside a leaf and across leaves in both directions, descending and
// FOR tags, hidden deleted records, BOF and EOF, damaged leaf chains, index
// entries beyond the table, changes by another work area, and seeks whose
// keys differ only in high bytes or beyond their first eight bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "TestUtil.h"
#include "WorkArea.h"
#include "cdx/CdxFile.h"

namespace {

using namespace xbetest;

constexpr std::uint32_t kRecords = 2000;

struct Row {
  std::string name;  // 30 bytes, blank padded: the key of tag NAME
  int nr = 0;
  bool deleted = false;
};

std::unique_ptr<xbe::WorkArea> OpenTable(const std::string& path, xbe::OpenMode mode) {
  std::string error;
  auto wa = xbe::WorkArea::Open(path, "", mode, xbe::Driver::Fox, &error);
  EXPECT_TRUE(wa) << error;
  return wa;
}

void SetField(const xbe::DbfTable& t, std::string& rec, const char* name, const std::string& text) {
  const xbe::FieldInfo& f = t.Fields()[static_cast<std::size_t>(t.FindField(name))];
  std::string v = f.type == 'N' ? std::string(static_cast<std::size_t>(f.width) - text.size(), ' ') + text
                                : text;
  v.resize(static_cast<std::size_t>(f.width), ' ');
  rec.replace(static_cast<std::size_t>(f.offset), v.size(), v);
}

// A table of kRecords records with tags NAME (30-byte keys: many leaves),
// NRD (numbers with many duplicates, descending) and LOW (NAME for the
// records with NR < 150); every seventh record deleted.
struct Table {
  TempDir dir;
  std::string path;
  std::vector<Row> rows;  // rows[r - 1] is record r

  Table() {
    path = dir.File("w.dbf");
    std::vector<xbe::FieldSpec> fields;
    std::string error;
    EXPECT_TRUE(xbe::ParseFieldSpecs("NAME:C:30;NR:N:8:0", fields, &error)) << error;
    EXPECT_TRUE(xbe::CreateTable(path, fields, xbe::Driver::Fox, &error)) << error;
    auto wa = OpenTable(path, xbe::OpenMode::Exclusive);
    if (!wa) return;
    std::mt19937 rng(11);
    for (std::uint32_t r = 1; r <= kRecords; ++r) {
      Row row;
      for (int k = 0; k < 30; ++k) row.name += static_cast<char>('A' + rng() % 4);
      row.nr = static_cast<int>(rng() % 400);
      row.deleted = r % 7 == 0;
      std::string rec = wa->Table().BlankRecord();
      SetField(wa->Table(), rec, "NAME", row.name);
      SetField(wa->Table(), rec, "NR", std::to_string(row.nr));
      if (row.deleted) rec[0] = '*';
      EXPECT_TRUE(wa->AppendRecord(rec, &error)) << error;
      rows.push_back(row);
    }
    EXPECT_TRUE(wa->CreateTag("NAME", "NAME", "", 0, &error)) << error;
    EXPECT_TRUE(wa->CreateTag("NRD", "NR", "", xbe::kTagDescending, &error)) << error;
    EXPECT_TRUE(wa->CreateTag("LOW", "NAME", "NR < 150", 0, &error)) << error;
    EXPECT_TRUE(wa->Close(&error)) << error;
  }

  // The records of `order` (1..3) in the order a walk meets them.
  std::vector<std::uint32_t> InOrder(int order, bool hideDeleted) const {
    std::vector<std::tuple<std::string, int, std::uint32_t>> entries;
    for (std::uint32_t r = 1; r <= rows.size(); ++r) {
      const Row& row = rows[r - 1];
      if (order == 3 && row.nr >= 150) continue;
      entries.emplace_back(order == 2 ? std::string() : row.name, order == 2 ? row.nr : 0, r);
    }
    std::sort(entries.begin(), entries.end());
    if (order == 2) std::reverse(entries.begin(), entries.end());
    std::vector<std::uint32_t> out;
    for (const auto& e : entries)
      if (!hideDeleted || !rows[std::get<2>(e) - 1].deleted) out.push_back(std::get<2>(e));
    return out;
  }
};

std::vector<std::uint32_t> WalkForward(xbe::WorkArea& wa) {
  std::vector<std::uint32_t> seen;
  std::string error;
  EXPECT_TRUE(wa.GoTop(&error)) << error;
  while (!wa.Eof() && seen.size() <= kRecords) {
    seen.push_back(wa.RecNo());
    EXPECT_TRUE(wa.Skip(1, &error)) << error;
  }
  return seen;
}

std::vector<std::uint32_t> WalkBackward(xbe::WorkArea& wa) {
  std::vector<std::uint32_t> seen;
  std::string error;
  EXPECT_TRUE(wa.GoBottom(&error)) << error;
  while (!wa.Eof() && seen.size() <= kRecords) {
    seen.push_back(wa.RecNo());
    EXPECT_TRUE(wa.Skip(-1, &error)) << error;
    // A step back from the first record ends on it, at BOF (or, when the
    // first entries are hidden deleted records, on it again from the top).
    if (wa.Bof() || wa.RecNo() == seen.back()) break;
  }
  std::reverse(seen.begin(), seen.end());
  return seen;
}

// What a script of moves leaves behind after each move.
struct State {
  std::uint32_t recno;
  bool eof, bof, ok;
  bool operator==(const State&) const = default;
};

// The same moves for any work area over the table; with `forceFullWay` the
// cursor's place is looked up afresh before each move (Go drops it in
// other than exclusive use), so every step takes the general way.
std::vector<State> RunScript(xbe::WorkArea& wa, const Table& t, unsigned seed, bool forceFullWay) {
  std::vector<State> out;
  std::mt19937 rng(seed);
  std::string error;
  for (int i = 0; i < 1500; ++i) {
    const unsigned op = rng() % 20;
    bool ok = true;
    if (forceFullWay && op < 16 && !wa.Eof()) wa.Go(wa.RecNo(), &error);
    if (op < 9) {
      ok = wa.Skip(1, &error);
    } else if (op < 14) {
      ok = wa.Skip(-1, &error);
    } else if (op < 16) {
      ok = wa.Skip(static_cast<std::int64_t>(rng() % 7) - 3, &error);
    } else if (op == 16) {
      ok = wa.Go(1 + rng() % kRecords, &error);
    } else if (op == 17) {
      ok = rng() % 2 ? wa.GoTop(&error) : wa.GoBottom(&error);
    } else if (op == 18) {
      const Row& row = t.rows[rng() % t.rows.size()];
      bool found = false;
      ok = wa.Seek(wa.CurrentOrder() == 2 ? std::to_string(row.nr) : row.name.substr(0, 1 + rng() % 8),
                   found, &error);
    } else {
      wa.SetDeletedFilter(rng() % 2 == 0);
    }
    out.push_back({wa.RecNo(), wa.Eof(), wa.Bof(), ok});
  }
  return out;
}

TEST(OrderedWalk, EveryOrderWalksAsSortedBothWaysAndAtItsEnds) {
  Table t;
  if (HasFailure()) return;
  for (auto mode : {xbe::OpenMode::Exclusive, xbe::OpenMode::Shared}) {
    auto wa = OpenTable(t.path, mode);
    ASSERT_TRUE(wa);
    for (int order = 1; order <= 3; ++order) {
      for (bool hide : {false, true}) {
        SCOPED_TRACE(testing::Message() << "order " << order << (hide ? ", deleted hidden" : "")
                                        << (mode == xbe::OpenMode::Shared ? ", shared" : ""));
        ASSERT_TRUE(wa->SetOrder(order));
        wa->SetDeletedFilter(hide);
        const auto want = t.InOrder(order, hide);
        EXPECT_EQ(WalkForward(*wa), want);
        EXPECT_EQ(wa->RecNo(), kRecords + 1);  // past the end
        std::string error;
        // Back from the end, then one step too far: BOF on the first.
        EXPECT_EQ(WalkBackward(*wa), want);
        if (!hide) {
          EXPECT_TRUE(wa->Bof());
        }
        EXPECT_EQ(wa->RecNo(), want.front());
        ASSERT_TRUE(wa->Skip(1, &error)) << error;
        EXPECT_EQ(wa->RecNo(), want[1]);
        EXPECT_FALSE(wa->Bof());
        // From EOF one step back reaches the last record.
        ASSERT_TRUE(wa->GoBottom(&error)) << error;
        ASSERT_TRUE(wa->Skip(1, &error)) << error;
        EXPECT_TRUE(wa->Eof());
        ASSERT_TRUE(wa->Skip(-1, &error)) << error;
        EXPECT_EQ(wa->RecNo(), want.back());
      }
    }
    std::string error;
    EXPECT_TRUE(wa->Close(&error)) << error;
  }
}

// The quick step inside a leaf and the general way must agree move by move,
// whatever mix of moves reaches the leaf edges.
TEST(OrderedWalk, QuickStepsAgreeWithTheGeneralWay) {
  Table t;
  if (HasFailure()) return;
  for (int order = 1; order <= 3; ++order) {
    SCOPED_TRACE(order);
    std::vector<State> quick, full;
    {
      auto wa = OpenTable(t.path, xbe::OpenMode::Exclusive);
      ASSERT_TRUE(wa);
      ASSERT_TRUE(wa->SetOrder(order));
      quick = RunScript(*wa, t, static_cast<unsigned>(order), false);
    }
    auto wa = OpenTable(t.path, xbe::OpenMode::ReadOnly);
    ASSERT_TRUE(wa);
    ASSERT_TRUE(wa->SetOrder(order));
    full = RunScript(*wa, t, static_cast<unsigned>(order), true);
    ASSERT_EQ(quick.size(), full.size());
    for (std::size_t i = 0; i < quick.size(); ++i)
      ASSERT_EQ(quick[i], full[i]) << "move " << i << ": record " << quick[i].recno << " against "
                                   << full[i].recno;
  }
}

void PatchFile(const std::string& path, std::uint32_t at, std::uint32_t value) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(at);
  const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8),
                         static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
  f.write(bytes, 4);
}

// A leaf chain that leads back (the second leaf's right neighbour is the
// first leaf, its left neighbour the third): a walk either way stops where
// the order would fall instead of going round for ever.
TEST(OrderedWalk, ADamagedLeafChainEndsTheWalkEitherWay) {
  Table t;
  if (HasFailure()) return;
  std::vector<std::uint32_t> leaves;  // the tag's first three leaves
  std::size_t first = 0, firstTwo = 0;  // entries of the first leaf, of the first two
  {
    auto wa = OpenTable(t.path, xbe::OpenMode::ReadOnly);
    ASSERT_TRUE(wa);
    auto& tree = dynamic_cast<xbe::cdx::CdxTag&>(*wa->OrderTag(1)).GetTree();
    xbe::cdx::Tree::Pos pos;
    std::string error;
    ASSERT_TRUE(tree.First(pos, &error)) << error;
    while (leaves.size() < 3) {
      leaves.push_back(pos.leaf->offset);
      if (leaves.size() == 1) first = pos.leaf->Count();
      if (leaves.size() <= 2) firstTwo += pos.leaf->Count();
      ASSERT_NE(pos.leaf->right, xbe::cdx::kNoPage);
      pos = {tree.GetStore().Load(pos.leaf->right, tree.KeyLength(), tree.Fill(), &error), 0};
      ASSERT_TRUE(pos.leaf) << error;
    }
  }
  const std::string cdx = t.path.substr(0, t.path.size() - 4) + ".cdx";
  PatchFile(cdx, leaves[1] + 8, leaves[0]);  // right
  PatchFile(cdx, leaves[1] + 4, leaves[2]);  // left
  const auto want = t.InOrder(1, false);
  for (auto mode : {xbe::OpenMode::Exclusive, xbe::OpenMode::ReadOnly}) {
    auto wa = OpenTable(t.path, mode);
    ASSERT_TRUE(wa);
    ASSERT_TRUE(wa->SetOrder(1));
    const auto forward = WalkForward(*wa);
    EXPECT_EQ(forward, std::vector<std::uint32_t>(want.begin(), want.begin() + static_cast<std::ptrdiff_t>(firstTwo)));
    EXPECT_TRUE(wa->Eof());
    // Backwards the walk meets the second leaf's wrong left link after its
    // first entry and ends at BOF on the first record.
    EXPECT_EQ(WalkBackward(*wa),
              std::vector<std::uint32_t>(want.begin() + static_cast<std::ptrdiff_t>(first), want.end()));
    EXPECT_TRUE(wa->Bof());
    EXPECT_EQ(wa->RecNo(), want.front());
    std::string report;
    EXPECT_FALSE(wa->CheckIndexes(&report));
  }
}

// Cuts the table to `count` records behind the index's back, as another
// program that drops records without updating the index would.
void Shorten(const std::string& path, std::uint32_t count) {
  std::string error;
  std::uint32_t header = 0, length = 0;
  {
    auto wa = OpenTable(path, xbe::OpenMode::ReadOnly);
    ASSERT_TRUE(wa);
    header = static_cast<std::uint32_t>(wa->Table().HeaderLength());
    length = static_cast<std::uint32_t>(wa->Table().RecordLength());
  }
  PatchFile(path, 4, count);
  std::filesystem::resize_file(path, header + std::uint64_t{count} * length);
}

TEST(OrderedWalk, AnEntryBeyondTheTableStopsTheWalkWithAnError) {
  Table t;
  if (HasFailure()) return;
  const auto want = t.InOrder(1, false);
  // About half the records go, none of the first three in the order.
  const std::uint32_t kept = std::max({kRecords / 2, want[0], want[1], want[2]});
  ASSERT_LT(kept, kRecords - kRecords / 10);
  Shorten(t.path, kept);
  // The walk reads every record up to the first entry beyond the table.
  const auto beyond = std::find_if(want.begin(), want.end(), [&](std::uint32_t r) { return r > kept; });
  const auto reached = static_cast<std::size_t>(beyond - want.begin());
  ASSERT_GT(reached, 1u);
  // Backwards: from the last record still there to the last entry beyond.
  std::size_t start = want.size() - 1;
  while (want[start] > kept) --start;
  std::size_t back = start;
  while (back > 0 && want[back] <= kept) --back;
  ASSERT_GT(want[back], kept);
  for (auto mode : {xbe::OpenMode::Exclusive, xbe::OpenMode::ReadOnly}) {
    auto wa = OpenTable(t.path, mode);
    ASSERT_TRUE(wa);
    ASSERT_TRUE(wa->SetOrder(1));
    std::string error;
    ASSERT_TRUE(wa->GoTop(&error)) << error;
    std::size_t steps = 1;
    while (wa->Skip(1, &error)) ++steps;
    EXPECT_EQ(steps, reached);
    EXPECT_NE(error.find("points at record " + std::to_string(*beyond)), std::string::npos) << error;
    EXPECT_TRUE(wa->Eof());
    ASSERT_TRUE(wa->Go(want[start], &error)) << error;
    error.clear();
    steps = 0;
    while (wa->Skip(-1, &error)) ++steps;
    EXPECT_EQ(steps, start - back - 1);
    EXPECT_NE(error.find("points at record " + std::to_string(want[back])), std::string::npos) << error;
  }
}

// Another work area deletes the record two steps ahead, then cuts the table
// short: the walking one hides the first and reports the second.
TEST(OrderedWalk, ChangesByAnotherWorkAreaAreSeenOnTheNextStep) {
  Table t;
  if (HasFailure()) return;
  const auto want = t.InOrder(1, true);
  auto a = OpenTable(t.path, xbe::OpenMode::Shared);
  auto b = OpenTable(t.path, xbe::OpenMode::Shared);
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(a->SetOrder(1));
  a->SetDeletedFilter(true);
  std::string error;
  ASSERT_TRUE(a->GoTop(&error)) << error;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(a->Skip(1, &error)) << error;
  ASSERT_EQ(a->RecNo(), want[3]);
  ASSERT_TRUE(b->Go(want[5], &error)) << error;
  ASSERT_TRUE(b->SetDeleted(true, &error)) << error;
  ASSERT_TRUE(a->Skip(1, &error)) << error;
  EXPECT_EQ(a->RecNo(), want[4]);
  ASSERT_TRUE(a->Skip(1, &error)) << error;
  EXPECT_EQ(a->RecNo(), want[6]);
  // Back over the deleted record as well.
  ASSERT_TRUE(a->Skip(-1, &error)) << error;
  EXPECT_EQ(a->RecNo(), want[4]);
  ASSERT_TRUE(b->Close(&error)) << error;
  b.reset();

  // Now the table loses the records from the next ones in the order on.
  std::uint32_t lowest = kRecords;
  for (std::size_t i = 5; i < 12; ++i) lowest = std::min(lowest, want[i]);
  Shorten(t.path, lowest - 1);
  bool failed = false;
  for (int i = 0; i < 8 && !failed; ++i) failed = !a->Skip(1, &error);
  EXPECT_TRUE(failed);
  EXPECT_NE(error.find("which the table does not have"), std::string::npos) << error;
  EXPECT_TRUE(a->Eof());
}

// Seeks on keys that differ only in bytes above 0x7F, only beyond their
// first eight bytes, or in a key shorter than eight bytes, against a sorted
// list of the same keys; character seeks are prefix searches.
TEST(TagSeek, FindsTheFirstEntryNotBelowTheKeyAtEveryLength) {
  TempDir dir;
  const std::string path = dir.File("s.dbf");
  std::vector<xbe::FieldSpec> fields;
  std::string error;
  ASSERT_TRUE(xbe::ParseFieldSpecs("CODE:C:12;K3:C:3;NR:N:8:0", fields, &error)) << error;
  ASSERT_TRUE(xbe::CreateTable(path, fields, xbe::Driver::Fox, &error)) << error;
  auto wa = OpenTable(path, xbe::OpenMode::Exclusive);
  ASSERT_TRUE(wa);
  const char alphabet[] = {'A', 'B', '\x7F', '\x80', '\xC4', '\xFF'};
  std::mt19937 rng(5);
  std::vector<std::string> code, k3;
  std::vector<int> nr;
  auto pick = [&] { return alphabet[rng() % sizeof alphabet]; };
  for (std::uint32_t r = 1; r <= 3000; ++r) {
    // Half the codes share their first eight bytes with many others.
    std::string c = rng() % 2 ? "SAMEHEAD" : std::string(8, ' ');
    for (char& ch : c)
      if (ch == ' ') ch = pick();
    for (int k = 0; k < 4; ++k) c += pick();
    std::string s3 = {pick(), pick(), pick()};
    const int n = static_cast<int>(rng() % 2000) - 1000;
    std::string rec = wa->Table().BlankRecord();
    SetField(wa->Table(), rec, "CODE", c);
    SetField(wa->Table(), rec, "K3", s3);
    SetField(wa->Table(), rec, "NR", std::to_string(n));
    ASSERT_TRUE(wa->AppendRecord(rec, &error)) << error;
    code.push_back(c);
    k3.push_back(s3);
    nr.push_back(n);
  }
  ASSERT_TRUE(wa->CreateTag("CODE", "CODE", "", 0, &error)) << error;
  ASSERT_TRUE(wa->CreateTag("K3", "K3", "", 0, &error)) << error;
  ASSERT_TRUE(wa->CreateTag("NR", "NR", "", 0, &error)) << error;

  auto expectSeek = [&](int order, const std::vector<std::string>& keys, const std::string& text) {
    // First record in (key bytes unsigned, record) order whose key begins with text.
    std::uint32_t want = 0;
    std::string best;
    for (std::uint32_t r = 1; r <= keys.size(); ++r) {
      const std::string& k = keys[r - 1];
      if (k.compare(0, text.size(), text) != 0) continue;
      auto bytes = [](const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end()); };
      if (want == 0 || bytes(k) < bytes(best)) {
        want = r;
        best = k;
      }
    }
    bool found = false;
    ASSERT_TRUE(wa->Seek(text, found, &error)) << error;
    EXPECT_EQ(found, want != 0) << "order " << order << " seek of " << text.size() << " bytes";
    EXPECT_EQ(found ? wa->RecNo() : 0u, want) << "order " << order;
  };
  for (int order = 1; order <= 2; ++order) {
    ASSERT_TRUE(wa->SetOrder(order));
    const auto& keys = order == 1 ? code : k3;
    const std::size_t width = order == 1 ? 12 : 3;
    for (int i = 0; i < 400; ++i) {
      std::string text = keys[rng() % keys.size()].substr(0, 1 + rng() % width);
      if (i % 3 == 0) text.back() = pick();  // often a key nobody has
      expectSeek(order, keys, text);
    }
  }
  ASSERT_TRUE(wa->SetOrder(3));
  for (int i = 0; i < 300; ++i) {
    const int v = static_cast<int>(rng() % 2200) - 1100;
    const auto at = std::find(nr.begin(), nr.end(), v);
    bool found = false;
    ASSERT_TRUE(wa->Seek(std::to_string(v), found, &error)) << error;
    EXPECT_EQ(found, at != nr.end()) << v;
    if (found) {
      EXPECT_EQ(wa->RecNo(), static_cast<std::uint32_t>(at - nr.begin()) + 1) << v;
    }
  }
}

}  // namespace
