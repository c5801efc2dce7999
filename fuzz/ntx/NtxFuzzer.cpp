// Arbitrary bytes as an NTX file: open, walk both ways, seek, check and
// change it. Every damage must end in an error, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "Index.h"
#include "ntx/NtxIndex.h"
#include "platform/Files.h"

namespace {

// KNT_NR N(8,0) and BEZ C(10); record r holds (r * 37) % 100 and a label.
class FuzzTable final : public xbe::TableScan, public xbe::RecordAccess {
 public:
  std::uint32_t RecordCount() const override { return 60; }
  bool Load(std::uint32_t recno, std::string*) override {
    recno_ = recno;
    std::string n = std::to_string((recno * 37) % 100);
    num_ = std::string(8 - n.size(), ' ') + n;
    bez_ = "LABEL " + std::to_string(recno % 7);
    bez_.resize(10, ' ');
    return recno >= 1 && recno <= 60;
  }
  const xbe::RecordAccess& Record() const override { return *this; }
  int FieldCount() const override { return 2; }
  int FindField(std::string_view name) const override {
    auto is = [&](std::string_view want) {
      if (name.size() != want.size()) return false;
      for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != want[i]) return false;
      }
      return true;
    };
    return is("KNT_NR") ? 0 : is("BEZ") ? 1 : -1;
  }
  char FieldType(int f) const override { return f == 0 ? 'N' : 'C'; }
  int FieldWidth(int f) const override { return f == 0 ? 8 : 10; }
  int FieldDecimals(int) const override { return 0; }
  std::string_view FieldBytes(int f) const override { return f == 0 ? num_ : bez_; }
  std::uint32_t RecNo() const override { return recno_; }
  bool Deleted() const override { return false; }
  std::string_view Alias() const override { return "KONTO"; }

 private:
  std::uint32_t recno_ = 0;
  std::string num_ = "        ", bez_ = "          ";
};

const std::string& FuzzPath() {
  static const std::string path = [] {
    std::random_device rd;
    return (std::filesystem::temp_directory_path() / ("fuzz-ntx-" + std::to_string(rd()) + ".ntx")).string();
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FuzzTable table;
  const std::string& path = FuzzPath();
  if (!platform::WriteFileAtomic(path, std::string_view(reinterpret_cast<const char*>(data), size))) return 0;
  std::string error;
  auto file = xbe::OpenNtx(path, table, true, &error);
  if (!file) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  xbe::IndexTag& tag = file->Tag(0);
  auto cur = tag.NewCursor();
  int steps = 0;
  for (bool ok = cur->First(); ok && steps < 5000; ok = cur->Next()) ++steps;
  steps = 0;
  for (bool ok = cur->Last(); ok && steps < 5000; ok = cur->Prev()) ++steps;
  for (const char* text : {"37", "LABEL 3", "", "20200701", "-1"}) {
    std::string key;
    bool prefix = false, found = false;
    if (tag.SeekKey(text, key, prefix)) cur->Seek(key, prefix, found);
  }
  std::string report;
  file->Check(table, &report);
  for (std::uint32_t r = 1; r <= 3; ++r) {
    std::string key;
    bool included = false;
    if (!table.Load(r, &error) || !tag.KeyFor(table, key, included, &error)) continue;
    if (key.size() != static_cast<std::size_t>(tag.KeyLength())) __builtin_trap();
    tag.Remove({key, r}, &error);
    tag.Insert({key, r + 100}, &error);
    tag.Contains({key, r});
  }
  for (bool ok = cur->First(); ok && steps < 10000; ok = cur->Next()) ++steps;
  file->Flush(&error);
  return 0;
}
