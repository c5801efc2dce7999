#pragma once
// A table's layout with a blank record: the record key lengths are taken
// from (an expression evaluated on a freshly appended record).
#include <string>
#include <vector>

#include "../Expression.h"

namespace xbe::expr {

class BlankRecord final : public RecordAccess {
 public:
  explicit BlankRecord(const RecordAccess& layout) : layout_(layout) {
    for (int i = 0; i < layout.FieldCount(); ++i) {
      const char t = layout.FieldType(i);
      const int w = layout.FieldWidth(i) > 0 ? layout.FieldWidth(i) : 0;
      // Binary fields are blank as zero bytes, text fields as spaces.
      const bool binary = t == 'I' || t == 'B' || t == 'Y' || t == 'T' || ((t == 'M' || t == 'G') && w == 4);
      bytes_.emplace_back(static_cast<std::size_t>(w), binary ? '\0' : ' ');
    }
  }
  int FieldCount() const override { return layout_.FieldCount(); }
  int FindField(std::string_view name) const override { return layout_.FindField(name); }
  char FieldType(int f) const override { return layout_.FieldType(f); }
  int FieldWidth(int f) const override { return layout_.FieldWidth(f); }
  int FieldDecimals(int f) const override { return layout_.FieldDecimals(f); }
  std::string_view FieldBytes(int f) const override {
    return f >= 0 && f < static_cast<int>(bytes_.size()) ? std::string_view(bytes_[static_cast<std::size_t>(f)])
                                                         : std::string_view();
  }
  std::uint32_t RecNo() const override { return 0; }
  bool Deleted() const override { return false; }
  std::string_view Alias() const override { return layout_.Alias(); }

 private:
  const RecordAccess& layout_;
  std::vector<std::string> bytes_;
};

}  // namespace xbe::expr
