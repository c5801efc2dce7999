// Long random sequences of appends, key-changing edits, deletes and recalls
// on copies of the fixtures. Afterwards every tag must pass the index check
// and walk in exactly the order that a plain sorted model of the table's
// keys gives (key, then record number; unique tags keep the lowest record
// of each key; FOR tags only the records that satisfy it).
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>

#include "TestUtil.h"
#include "ValueText.h"
#include "WorkArea.h"
#include "cdx/CdxStore.h"

namespace {

using namespace xbetest;
using xbe::WorkArea;

// Searches of several tags go side by side whatever the index's size, as
// they do for a large index, while this lives.
struct SideBySide {
  SideBySide() { xbe::cdx::Store::SetProcessorCacheBytes(0); }
  ~SideBySide() { xbe::cdx::Store::SetProcessorCacheBytes(xbe::cdx::Store::kProcessorCacheBytes); }
};

// The walk of `order` as the model computes it from the table's records.
std::vector<std::uint32_t> ModelOrder(WorkArea& wa, int order, bool ntx) {
  xbe::IndexTag& tag = *wa.OrderTag(order);
  std::multimap<std::string, std::uint32_t> model;
  std::string error;
  xbe::DbfScan scan(const_cast<xbe::DbfTable&>(wa.Table()), wa.Alias());
  for (std::uint32_t r = 1; r <= wa.RecCount(); ++r) {
    EXPECT_TRUE(scan.Load(r, &error)) << error;
    std::string key;
    bool included = false;
    EXPECT_TRUE(tag.KeyFor(scan.Record(), key, included, &error)) << error;
    if (!included) continue;
    if (tag.Unique() && model.count(key)) continue;  // the lowest record holds the key
    model.emplace(key, r);                           // equal keys stay in record order
  }
  std::vector<std::uint32_t> out;
  for (const auto& [k, r] : model) out.push_back(r);
  if (tag.Descending()) {
    if (ntx) {
      // A descending NTX keeps equal keys in ascending record order.
      std::vector<std::pair<std::string, std::uint32_t>> v(model.begin(), model.end());
      std::stable_sort(v.begin(), v.end(),
                       [](const auto& a, const auto& b) { return a.first > b.first; });
      out.clear();
      for (const auto& p : v) out.push_back(p.second);
    } else {
      std::reverse(out.begin(), out.end());
    }
  }
  return out;
}

std::vector<std::uint32_t> Walk(WorkArea& wa, int order) {
  std::vector<std::uint32_t> out;
  std::string error;
  wa.SetOrder(order);
  EXPECT_TRUE(wa.GoTop(&error)) << error;
  while (!wa.Eof() && out.size() <= wa.RecCount()) {
    out.push_back(wa.RecNo());
    EXPECT_TRUE(wa.Skip(1, &error)) << error;
  }
  return out;
}

void ExpectTagsMatchModel(WorkArea& wa, bool ntx) {
  std::string report;
  EXPECT_TRUE(wa.CheckIndexes(&report)) << report;
  for (int o = 1; o <= wa.OrderCount(); ++o) {
    SCOPED_TRACE(wa.OrderTag(o)->Name());
    EXPECT_EQ(Walk(wa, o), ModelOrder(wa, o, ntx));
  }
  // Walking backwards from the bottom gives the same order reversed.
  if (wa.OrderCount() > 0) {
    std::string error;
    wa.SetOrder(1);
    std::vector<std::uint32_t> back;
    ASSERT_TRUE(wa.GoBottom(&error)) << error;
    while (!wa.Eof() && !wa.Bof() && back.size() <= wa.RecCount()) {
      back.push_back(wa.RecNo());
      ASSERT_TRUE(wa.Skip(-1, &error)) << error;
    }
    auto forward = Walk(wa, 1);
    std::reverse(forward.begin(), forward.end());
    EXPECT_EQ(back, forward);
  }
}

struct Randomizer {
  std::mt19937 rng;
  explicit Randomizer(unsigned seed) : rng(seed) {}
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
  std::string Word() {
    static const char* words[] = {"Kasse", "Bank", "Erl\xF6se", "Wareneingang", " Vorsteuer",
                                  "Umsatzsteuer", "Geb\xFChren", "Stra\xDF\x65", "abc", "ALPHA",
                                  "Zinsen  und", "M\xE4rz", "x"};
    return words[Int(0, 12)];
  }
  std::string Text(int maxLen) {
    std::string s = Word();
    while (Int(0, 2) != 0) s += " " + Word();
    if (static_cast<int>(s.size()) > maxLen) s.resize(static_cast<std::size_t>(maxLen));
    return s;
  }
  std::string Date() {
    if (Int(0, 4) == 0) return "";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", Int(1990, 2030), Int(1, 12), Int(1, 28));
    return buf;
  }
};

// Sets the fields named in `values` (dump forms) in `record`.
void SetFields(const xbe::DbfTable& t, std::string& record,
               const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [name, text] : values) {
    const int f = t.FindField(name);
    if (f < 0) continue;
    const xbe::FieldInfo& fi = t.Fields()[static_cast<std::size_t>(f)];
    std::string bytes, error;
    const std::string fitted =
        fi.type == 'C' ? text.substr(0, static_cast<std::size_t>(fi.width)) : text;
    ASSERT_TRUE(xbe::FieldBytesFromText(fi, fitted, bytes, &error)) << error;
    record.replace(static_cast<std::size_t>(fi.offset), bytes.size(), bytes);
  }
}

std::vector<std::pair<std::string, std::string>> RandomValues(Randomizer& rnd, bool fewNumbers) {
  return {
      {"KNT_NR", std::to_string(fewNumbers ? rnd.Int(1, 300) : rnd.Int(1, 99999999))},
      {"BEZ", rnd.Text(40)},
      {"TYP", std::string(1, static_cast<char>('A' + rnd.Int(0, 4)))},
      {"AKTIV", rnd.Int(0, 1) ? "T" : "F"},
      {"STR_ID2_AB", rnd.Date()},
      {"SALDO", std::to_string(rnd.Int(-100000, 100000)) + ".25"},
  };
}

void RunScript(const std::string& base, int operations, unsigned seed) {
  XBE_REQUIRE_FIXTURES();
  TempDir tmp;
  const std::string table = CopyTable(platform::JoinPath(FixturesDir(), "xbase"), base, tmp.Path());
  ASSERT_FALSE(table.empty());
  std::string error;
  auto wa = WorkArea::Open(table, "", xbe::OpenMode::Exclusive, xbe::Driver::Auto, &error);
  ASSERT_TRUE(wa) << error;
  const bool ntx = wa->ProductionIndexKind() == xbe::IndexKind::Ntx;
  const int memo = wa->Table().FindField("NOTIZ");
  Randomizer rnd(seed);
  for (int i = 0; i < operations; ++i) {
    const int kind = rnd.Int(0, 9);
    const std::uint32_t count = wa->RecCount();
    if (kind < 4 || count == 0) {
      std::string rec = wa->Table().BlankRecord();
      SetFields(wa->Table(), rec, RandomValues(rnd, rnd.Int(0, 1) == 0));
      ASSERT_TRUE(wa->AppendRecord(rec, &error)) << "op " << i << ": " << error;
      if (memo >= 0 && rnd.Int(0, 3) == 0) {
        ASSERT_TRUE(wa->MemoWrite(memo, rnd.Text(300) + "\r\n" + rnd.Text(50), &error)) << error;
      }
    } else {
      const auto r = static_cast<std::uint32_t>(rnd.Int(1, static_cast<int>(count)));
      ASSERT_TRUE(wa->Go(r, &error)) << error;
      if (kind < 8) {
        std::string rec = wa->Record();
        SetFields(wa->Table(), rec, RandomValues(rnd, true));
        ASSERT_TRUE(wa->PutRecord(rec, &error)) << "op " << i << ": " << error;
      } else {
        ASSERT_TRUE(wa->SetDeleted(kind == 8, &error)) << "op " << i << ": " << error;
      }
    }
    if ((i + 1) % (operations / 3) == 0) ExpectTagsMatchModel(*wa, ntx);
    if (::testing::Test::HasFatalFailure()) return;
  }
  ASSERT_TRUE(wa->Close(&error)) << error;
  wa.reset();

  // What reached the disk reads back the same, through a fresh open and
  // through the command-line tool.
  wa = WorkArea::Open(table, "", xbe::OpenMode::ReadOnly, xbe::Driver::Auto, &error);
  ASSERT_TRUE(wa) << error;
  ExpectTagsMatchModel(*wa, ntx);
  const std::string tool = platform::JoinPath(UST_BIN_DIR, "xbtool");
  if (platform::FileExists(tool)) {
    const std::string cmd = tool + " check '" + table + "'";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[4096];
    std::string out;
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    EXPECT_EQ(::pclose(p), 0) << out;
    EXPECT_EQ(out, "OK\n");
  }
}

TEST(RandomScript, CdxWithUniqueForAndDescendingTagsStaysInStep) { RunScript("konto", 4000, 1); }

TEST(RandomScript, SmallCdxGrowsFromOneLeaf) { RunScript("leer", 3000, 2); }

TEST(RandomScript, CdxTagsSearchedSideBySideStayInStep) {
  SideBySide sideBySide;
  RunScript("konto", 3000, 4);
}

TEST(RandomScript, NtxStaysInStep) { RunScript("kontontx", 4000, 3); }

}  // namespace
