#pragma once
// A record image seen through the Expression interface: the table's layout
// plus one record's bytes. Cheap to make; it only points at both.
#include <cstdint>
#include <string>
#include <string_view>

#include "Dbf.h"
#include "Expression.h"
#include "Index.h"

namespace xbe {

class RecordView : public RecordAccess {
 public:
  RecordView(const DbfTable& table, std::string_view alias) : table_(table), alias_(alias) {}
  void Point(const char* record, std::uint32_t recno) {
    record_ = record;
    recno_ = recno;
  }

  int FieldCount() const override { return static_cast<int>(table_.Fields().size()); }
  int FindField(std::string_view name) const override { return table_.FindField(name); }
  char FieldType(int field) const override { return table_.Fields()[field].type; }
  int FieldWidth(int field) const override { return table_.Fields()[field].width; }
  int FieldDecimals(int field) const override { return table_.Fields()[field].decimals; }
  std::string_view FieldBytes(int field) const override {
    const FieldInfo& f = table_.Fields()[field];
    if (!record_) return {};
    return std::string_view(record_ + f.offset, static_cast<std::size_t>(f.width));
  }
  std::uint32_t RecNo() const override { return recno_; }
  bool Deleted() const override { return record_ && record_[0] == '*'; }
  std::string_view Alias() const override { return alias_; }

 private:
  const DbfTable& table_;
  std::string alias_;
  const char* record_ = nullptr;
  std::uint32_t recno_ = 0;
};

// Reads the records of a table one by one for index builds and checks.
class DbfScan : public TableScan {
 public:
  DbfScan(DbfTable& table, std::string_view alias)
      : table_(table), view_(table, alias), buffer_(table.BlankRecord()) {
    view_.Point(buffer_.data(), 0);
  }
  std::uint32_t RecordCount() const override { return table_.RecordCount(); }
  bool Load(std::uint32_t recno, std::string* error) override {
    if (!table_.ReadRecord(recno, buffer_.data(), error)) return false;
    view_.Point(buffer_.data(), recno);
    return true;
  }
  const RecordAccess& Record() const override { return view_; }

 private:
  DbfTable& table_;
  RecordView view_;
  std::string buffer_;
};

}  // namespace xbe
