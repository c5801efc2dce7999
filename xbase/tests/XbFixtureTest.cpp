// The fixture tables, read in place through the table component, give the
// values and orders their manifests list.
#include <gtest/gtest.h>

#include <charconv>
#include <string>

#include "TableTestUtil.h"
#include "platform/Encoding.h"
#include "xbase/XbDSet.h"

using namespace xbtest;

namespace {

double Number(const std::string& text) {
  double v = 0;
  std::from_chars(text.data(), text.data() + text.size(), v);
  return v;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == 'r' || s[i + 1] == 'n')) {
      out += s[i + 1] == 'r' ? '\r' : '\n';
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

// Compares the current record with the manifest's record; empty when equal.
std::string Mismatch(TXbTable& t, const Manifest& m, const ManifestRecord& r) {
  if (t.RecNo() != r.recNo) return "record number " + std::to_string(t.RecNo());
  if (t.Deleted() != r.deleted) return "deletion mark";
  for (std::size_t i = 0; i < m.fields.size(); ++i) {
    const ManifestField& f = m.fields[i];
    TField& field = t.FieldByName(f.name);
    const std::string& want = r.values[i];
    const std::string wantUtf8 = platform::Win1252ToUtf8(want);
    bool ok = true;
    switch (f.type) {
      case 'C':
        ok = field.AsString() == wantUtf8 && t.GetTrimString(f.name) == wantUtf8;
        break;
      case 'N':
        ok = want.empty() ? field.IsNull() : field.AsFloat() == Number(want);
        break;
      case 'D':
        ok = want.empty() ? field.IsNull()
                          : field.AsString() == want.substr(6, 2) + "." + want.substr(4, 2) + "." + want.substr(0, 4);
        break;
      case 'L':
        ok = want.empty() ? field.IsNull() : field.AsBoolean() == (want == "T");
        break;
      case 'M':
        ok = field.AsString() == platform::Win1252ToUtf8(Unescape(want));
        break;
    }
    if (!ok) return "field " + f.name + ": '" + field.AsString() + "', manifest '" + wantUtf8 + "'";
  }
  return {};
}

void CheckTable(const std::string& name) {
  const Manifest m = ReadManifest(name);
  TXbTable t;
  t.SetDatabaseName(FixturesDir());
  t.SetTableName(name + ".dbf");
  t.SetReadOnly(true);
  t.Open();
  try {
    t.Append();
    ADD_FAILURE() << "a read-only table took an append";
  } catch (const EXbError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot modify a read-only data set\r\n\r\n" + FixturesDir() + "/" + name + ".dbf");
  }
  ASSERT_EQ(static_cast<int>(t.IndexDefs().size()), static_cast<int>(m.tags.size()));

  // Natural order: every record with every value.
  std::size_t n = 0;
  for (t.GoTop(); !t.Eof(); t.Skip()) {
    ASSERT_LT(n, m.recs.size());
    const std::string diff = Mismatch(t, m, m.recs[n]);
    ASSERT_EQ(diff, "") << name << " record " << m.recs[n].recNo;
    ++n;
  }
  EXPECT_EQ(static_cast<std::int32_t>(n), m.records);

  // Every order, forwards and backwards.
  for (const ManifestTag& tag : m.tags) {
    EXPECT_NE(t.SetOrder(static_cast<std::int16_t>(tag.order)), 0);
    // An NTX order is named by its index file.
    std::string orderName = platform::AsciiUpper(t.IndexName());
    if (t.TableType() == ttXBNTX) orderName = orderName.substr(0, orderName.rfind(".NTX"));
    EXPECT_EQ(orderName, tag.name);
    std::vector<std::int32_t> forward, backward;
    for (t.GoTop(); !t.Eof(); t.Skip()) forward.push_back(t.RecNo());
    EXPECT_EQ(forward, tag.recNos) << name << " order " << tag.name;
    if (!forward.empty()) {
      backward.push_back(t.RecNo());
      while (true) {
        t.Skip(-1);
        if (t.Bof()) break;
        backward.insert(backward.begin(), t.RecNo());
      }
      EXPECT_EQ(backward, tag.recNos) << name << " order " << tag.name << " backwards";
    }
  }
  t.Close();
}

}  // namespace

TEST(XbFixture, FoxTableWithSixTagsAndMemos) {
  REQUIRE_ENGINE();
  CheckTable("konto");
}

TEST(XbFixture, TaxKeyTableWithoutMemo) {
  REQUIRE_ENGINE();
  CheckTable("steuersatz");
}

TEST(XbFixture, NtxTable) {
  REQUIRE_ENGINE();
  CheckTable("kontontx");
}

TEST(XbFixture, EmptyTable) {
  REQUIRE_ENGINE();
  CheckTable("leer");
}
