// Every fixture table reads exactly as its manifest says: layout, tags,
// records in physical order and in every tag's order, and a clean index check.
// The fixtures were written by other programs; they are the ground truth.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "TestUtil.h"
#include "ValueText.h"
#include "WorkArea.h"

namespace {

using namespace xbetest;
using xbe::WorkArea;

std::vector<std::string> DumpOrder(WorkArea& wa, int order) {
  std::vector<std::string> lines;
  std::string error;
  wa.SetOrder(order);
  EXPECT_TRUE(wa.GoTop(&error)) << error;
  while (!wa.Eof()) {
    std::string line;
    EXPECT_TRUE(xbe::RecordLine(wa, line, &error)) << error;
    lines.push_back(line);
    if (!wa.Skip(1, &error)) {
      ADD_FAILURE() << error;
      break;
    }
    if (lines.size() > 10'000'000) break;
  }
  return lines;
}

std::uint32_t RecnoOf(const std::string& line) {
  return static_cast<std::uint32_t>(std::stoul(line.substr(0, line.find('\t'))));
}

TEST(FixtureManifest, EveryTableReadsAsItsManifestSays) {
  XBE_REQUIRE_FIXTURES();
  const auto tables = ManifestTables();
  ASSERT_FALSE(tables.empty());
  for (const auto& [dir, base] : tables) {
    SCOPED_TRACE(base);
    Manifest m;
    ASSERT_TRUE(ParseManifest(platform::JoinPath(dir, base + ".manifest"), m));
    std::string error;
    auto wa = WorkArea::Open(platform::JoinPath(dir, base + ".dbf"), "", xbe::OpenMode::ReadOnly,
                             xbe::Driver::Auto, &error);
    ASSERT_TRUE(wa) << error;
    EXPECT_EQ(wa->RecCount(), m.records);
    EXPECT_EQ(wa->Alias(), m.alias.substr(0, 8));  // aliases keep 8 characters

    const auto& fields = wa->Table().Fields();
    ASSERT_EQ(fields.size(), m.fields.size());
    // The writer of the manifests looked fields up by name, so a column whose
    // name repeats shows another column's value: those are not compared.
    std::set<std::size_t> ambiguous;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const auto& f = m.fields[i];
      EXPECT_TRUE(platform::EqualsNoCase(fields[i].name, f[1])) << fields[i].name;
      const char type = fields[i].type == 'T' ? '@' : fields[i].type;  // the manifests write T as @
      EXPECT_EQ(std::string(1, type), f[2]) << f[1];
      EXPECT_EQ(std::to_string(fields[i].width), f[3]) << f[1];
      EXPECT_EQ(std::to_string(fields[i].decimals), f[4]) << f[1];
      for (std::size_t j = 0; j < fields.size(); ++j)
        if (j != i && platform::EqualsNoCase(fields[i].name, fields[j].name)) ambiguous.insert(i);
    }

    ASSERT_EQ(wa->OrderCount(), static_cast<int>(m.tags.size()));
    for (const auto& t : m.tags) {
      const int order = std::stoi(t[1]);
      xbe::IndexTag* tag = wa->OrderTag(order);
      ASSERT_NE(tag, nullptr);
      EXPECT_EQ(wa->FindOrder(t[2]), order) << t[2];
      EXPECT_EQ(tag->KeyExpression(), t[3]);
      EXPECT_EQ(tag->ForExpression(), t[4]);
      EXPECT_EQ(tag->Descending(), t[5] == "DESCENDING") << t[2];
      EXPECT_EQ(tag->Unique(), t[6] == "UNIQUE") << t[2];
    }

    const auto lines = DumpOrder(*wa, 0);
    ASSERT_EQ(lines.size(), m.recs.size());
    for (std::size_t r = 0; r < lines.size(); ++r) {
      const auto got = Split(lines[r], '\t');
      const auto want = Split(m.recs[r], '\t');
      ASSERT_EQ(got.size(), want.size()) << "record " << r + 1;
      for (std::size_t c = 0; c < got.size(); ++c) {
        if (c >= 2 && ambiguous.count(c - 2)) continue;
        // The manifests end a memo at its first TAB, which their format cannot hold.
        const std::size_t tab = got[c].find("\\t");
        EXPECT_EQ(tab == std::string::npos ? got[c] : got[c].substr(0, tab), want[c])
            << "record " << r + 1 << ", column " << c;
      }
    }

    for (const auto& [name, recnos] : m.orders) {
      SCOPED_TRACE(name);
      const int order = wa->FindOrder(name);
      ASSERT_GT(order, 0);
      const auto walked = DumpOrder(*wa, order);
      std::vector<std::uint32_t> got;
      for (const auto& l : walked) got.push_back(RecnoOf(l));
      EXPECT_EQ(got, recnos);
      // Each line in tag order is the record's physical line.
      for (const auto& l : walked) EXPECT_EQ(l, lines[RecnoOf(l) - 1]);
    }
    std::string report;
    EXPECT_TRUE(wa->CheckIndexes(&report)) << report;
  }
}

// Tables whose tags name fields of their database container that the table
// itself lacks: readable in physical order, never written.
TEST(FixtureManifest, TablesWithUnresolvableTagsReadButRefuseWrites) {
  XBE_REQUIRE_FIXTURES();
  const std::string src = platform::JoinPath(FixturesDir(), "foxpro");
  for (const char* base : {"contacts", "types"}) {
    SCOPED_TRACE(base);
    TempDir tmp;
    const std::string table = CopyTable(src, base, tmp.Path());
    ASSERT_FALSE(table.empty());
    const auto before = Snapshot(tmp.Path());
    std::string error;
    {
      auto wa = WorkArea::Open(table, "", xbe::OpenMode::ReadOnly, xbe::Driver::Auto, &error);
      ASSERT_TRUE(wa) << error;
      EXPECT_GT(wa->RecCount(), 0u);
      const auto lines = DumpOrder(*wa, 0);
      EXPECT_EQ(lines.size(), wa->RecCount());
    }
    for (auto mode : {xbe::OpenMode::Shared, xbe::OpenMode::Exclusive}) {
      error.clear();
      auto wa = WorkArea::Open(table, "", mode, xbe::Driver::Auto, &error);
      EXPECT_FALSE(wa);
      EXPECT_NE(error.find(".CDX"), std::string::npos) << error;
    }
    EXPECT_EQ(Snapshot(tmp.Path()), before);
  }
}

// Numbers seek as numbers, characters as prefixes; among equal keys the
// first in tag order wins, which for a descending tag is the highest recno.
TEST(FixtureManifest, SeekLandsOnTheFirstRecordInTagOrder) {
  XBE_REQUIRE_FIXTURES();
  const std::string dir = platform::JoinPath(FixturesDir(), "xbase");
  Manifest m;
  ASSERT_TRUE(ParseManifest(platform::JoinPath(dir, "konto.manifest"), m));
  std::string error;
  auto wa = WorkArea::Open(platform::JoinPath(dir, "konto.dbf"), "", xbe::OpenMode::ReadOnly,
                           xbe::Driver::Auto, &error);
  ASSERT_TRUE(wa) << error;
  auto column = [&](std::uint32_t recno, std::size_t col) {
    return Split(m.recs[recno - 1], '\t')[col + 2];
  };
  auto orderOf = [&](const std::string& name) {
    for (auto& o : m.orders)
      if (o.first == name) return o.second;
    return std::vector<std::uint32_t>{};
  };
  for (const char* tagName : {"KNT_NR", "NRDESC"}) {
    SCOPED_TRACE(tagName);
    ASSERT_TRUE(wa->SetOrder(wa->FindOrder(tagName)));
    std::map<std::string, std::uint32_t> firstByValue;
    for (std::uint32_t r : orderOf(tagName)) firstByValue.emplace(column(r, 0), r);
    int checked = 0;
    for (const auto& [value, recno] : firstByValue) {
      if (++checked % 7 != 0) continue;
      bool found = false;
      ASSERT_TRUE(wa->Seek(value, found, &error)) << error;
      EXPECT_TRUE(found) << value;
      EXPECT_EQ(wa->RecNo(), recno) << value;
      ASSERT_TRUE(wa->Seek(" " + value + ".00 ", found, &error));
      EXPECT_TRUE(found) << value;
      ASSERT_TRUE(wa->Seek(value + ".5", found, &error));
      EXPECT_FALSE(found) << value;
      EXPECT_TRUE(wa->Eof());
    }
    bool found = true;
    ASSERT_TRUE(wa->Seek("abc", found, &error));
    EXPECT_FALSE(found);
  }
  ASSERT_TRUE(wa->SetOrder(wa->FindOrder("BEZ")));
  int checked = 0;
  for (std::uint32_t r : orderOf("BEZ")) {
    if (++checked % 97 != 0) continue;
    const std::string prefix = platform::AsciiUpper(column(r, 1)).substr(0, 4);
    std::uint32_t expected = 0;
    for (std::uint32_t q : orderOf("BEZ"))
      if (platform::AsciiUpper(column(q, 1)).compare(0, prefix.size(), prefix) == 0 ||
          (column(q, 1).size() < prefix.size() &&
           platform::AsciiUpper(column(q, 1) + std::string(60, ' ')).compare(0, prefix.size(), prefix) == 0)) {
        expected = q;
        break;
      }
    bool found = false;
    ASSERT_TRUE(wa->Seek(prefix, found, &error));
    EXPECT_TRUE(found) << prefix;
    EXPECT_EQ(wa->RecNo(), expected) << prefix;
  }
  bool found = false;
  ASSERT_TRUE(wa->Seek("", found, &error));
  EXPECT_TRUE(found);
  EXPECT_EQ(wa->RecNo(), orderOf("BEZ").front());
}

}  // namespace
