#pragma once
// Tables for index tests: a read-only DBF file loaded whole, and an
// in-memory table whose records tests change at will.
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ExprTestRecord.h"
#include "Index.h"

namespace xbe::test {

class DbfTable final : public TableScan, public RecordAccess {
 public:
  bool Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    data_ = ss.str();
    if (data_.size() < 32) return false;
    count_ = U32(4);
    headerLen_ = U16(8);
    recordLen_ = U16(10);
    int offset = 1;
    for (std::size_t p = 32; p + 32 <= headerLen_ && data_[p] != '\r'; p += 32) {
      Field f;
      f.name = data_.substr(p, 11).c_str();
      f.type = data_[p + 11];
      f.width = static_cast<unsigned char>(data_[p + 16]);
      f.decimals = static_cast<unsigned char>(data_[p + 17]);
      f.offset = offset;
      offset += f.width;
      fields_.push_back(f);
    }
    return true;
  }

  // TableScan
  std::uint32_t RecordCount() const override { return count_; }
  bool Load(std::uint32_t recno, std::string* error) override {
    const std::size_t at = headerLen_ + std::size_t(recno - 1) * recordLen_;
    if (recno == 0 || recno > count_ || at + recordLen_ > data_.size()) {
      if (error) *error = "no such record";
      return false;
    }
    recno_ = recno;
    record_ = std::string_view(data_).substr(at, recordLen_);
    return true;
  }
  const RecordAccess& Record() const override { return *this; }

  // RecordAccess
  int FieldCount() const override { return static_cast<int>(fields_.size()); }
  int FindField(std::string_view name) const override {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      const std::string& n = fields_[i].name;
      bool same = n.size() == name.size();
      for (std::size_t k = 0; same && k < n.size(); ++k)
        same = std::toupper(static_cast<unsigned char>(n[k])) == std::toupper(static_cast<unsigned char>(name[k]));
      if (same) return static_cast<int>(i);
    }
    return -1;
  }
  char FieldType(int f) const override { return fields_[static_cast<std::size_t>(f)].type; }
  int FieldWidth(int f) const override { return fields_[static_cast<std::size_t>(f)].width; }
  int FieldDecimals(int f) const override { return fields_[static_cast<std::size_t>(f)].decimals; }
  std::string_view FieldBytes(int f) const override {
    const Field& fd = fields_[static_cast<std::size_t>(f)];
    if (record_.empty()) return {};
    return record_.substr(static_cast<std::size_t>(fd.offset), static_cast<std::size_t>(fd.width));
  }
  std::uint32_t RecNo() const override { return recno_; }
  bool Deleted() const override { return !record_.empty() && record_[0] == '*'; }
  std::string_view Alias() const override { return "KONTONTX"; }

 private:
  struct Field {
    std::string name;
    char type;
    int width, decimals, offset;
  };
  std::uint32_t U32(std::size_t p) const {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data_[p + static_cast<std::size_t>(i)]);
    return v;
  }
  std::uint16_t U16(std::size_t p) const {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(data_[p]) | (static_cast<unsigned char>(data_[p + 1]) << 8));
  }
  std::string data_;
  std::vector<Field> fields_;
  std::uint32_t count_ = 0, recno_ = 0;
  std::size_t headerLen_ = 0, recordLen_ = 0;
  std::string_view record_;
};

// Records of one layout held as field texts; Load makes one current.
class MemoryTable final : public TableScan {
 public:
  explicit MemoryTable(std::vector<TestField> fields) : fields_(fields), current_(std::move(fields)) {}
  std::uint32_t Append(const std::vector<std::pair<std::string, std::string>>& values) {
    rows_.push_back(values);
    return static_cast<std::uint32_t>(rows_.size());
  }
  void Set(std::uint32_t recno, const std::string& field, const std::string& text) {
    for (auto& [f, v] : rows_.at(recno - 1))
      if (f == field) v = text;
  }
  std::uint32_t RecordCount() const override { return static_cast<std::uint32_t>(rows_.size()); }
  bool Load(std::uint32_t recno, std::string* error) override {
    if (recno == 0 || recno > rows_.size()) {
      if (error) *error = "no such record";
      return false;
    }
    current_ = TestRecord(fields_);
    for (const auto& [f, v] : rows_[recno - 1]) current_.Set(f, v);
    current_.SetRecNo(recno);
    return true;
  }
  const RecordAccess& Record() const override { return current_; }
  TestRecord& Current() { return current_; }

 private:
  std::vector<TestField> fields_;
  std::vector<std::vector<std::pair<std::string, std::string>>> rows_;
  TestRecord current_;
};

}  // namespace xbe::test
