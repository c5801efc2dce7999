// Feeds arbitrary bytes to the CDX reader as a whole index file, kept in
// memory so that each run is cheap, and uses it every way the engine can.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cdx/CdxFile.h"

namespace {

// A table of 40 records with a character, a numeric and a logical field:
// enough for keys of every kind to be computed and checked.
class Table : public xbe::RecordAccess, public xbe::TableScan {
 public:
  int FieldCount() const override { return 3; }
  int FindField(std::string_view name) const override {
    if (name == "NAME" || name == "name") return 0;
    if (name == "NR" || name == "nr") return 1;
    if (name == "OK" || name == "ok") return 2;
    return -1;
  }
  char FieldType(int f) const override { return "CNL"[f]; }
  int FieldWidth(int f) const override { return f == 0 ? 10 : f == 1 ? 8 : 1; }
  int FieldDecimals(int) const override { return 0; }
  std::string_view FieldBytes(int f) const override {
    static const int at[] = {0, 10, 18};
    return std::string_view(rec_).substr(static_cast<std::size_t>(at[f]),
                                         static_cast<std::size_t>(FieldWidth(f)));
  }
  std::uint32_t RecNo() const override { return recno_; }
  bool Deleted() const override { return false; }
  std::string_view Alias() const override { return "T"; }
  std::uint32_t RecordCount() const override { return 40; }
  bool Load(std::uint32_t recno, std::string*) override {
    recno_ = recno;
    rec_ = "NAME" + std::to_string(recno % 7);
    rec_.resize(10, ' ');
    std::string nr = std::to_string(recno * 3);
    rec_ += std::string(8 - nr.size(), ' ') + nr + (recno % 2 ? "T" : "F");
    return true;
  }
  const xbe::RecordAccess& Record() const override { return *this; }

 private:
  std::uint32_t recno_ = 1;
  std::string rec_ = std::string(19, ' ');
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Table table;
  table.Load(1, nullptr);
  xbe::cdx::CdxFile file;
  file.GetStore().OpenImage(std::string(reinterpret_cast<const char*>(data), size));
  std::string err;
  if (!file.Load(table, &err)) return 0;
  for (int i = 0; i < file.TagCount(); ++i) {
    xbe::IndexTag& tag = file.Tag(i);
    auto c = tag.NewCursor();
    for (bool ok = c->First(); ok; ok = c->Next()) {
    }
    for (bool ok = c->Last(); ok; ok = c->Prev()) {
    }
    bool found;
    std::string key(static_cast<std::size_t>(tag.KeyLength()), 'N');
    if (c->Seek(key, false, found)) c->Next();
    c->Seek("NA", true, found);
    xbe::IndexEntry e{key, 7};
    if (tag.Insert(e, &err)) {
      c->Prev();
      tag.Remove(e, &err);
    }
  }
  std::string report;
  file.Check(table, &report);
  return 0;
}
