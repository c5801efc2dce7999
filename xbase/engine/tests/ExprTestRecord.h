#pragma once
// An in-memory record for expression and index tests.
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "Expression.h"

namespace xbe::test {

struct TestField {
  std::string name;
  char type;
  int width;
  int decimals;
};

class TestRecord : public RecordAccess {
 public:
  explicit TestRecord(std::vector<TestField> fields, std::string alias = "KONTO")
      : fields_(std::move(fields)), alias_(std::move(alias)) {
    for (const auto& f : fields_) bytes_.emplace_back(static_cast<std::size_t>(f.width), ' ');
  }
  // Stores `text` as the field's bytes, padded to the width: left-aligned
  // for C, right-aligned for N and F.
  void Set(const std::string& name, const std::string& text) {
    const int i = FindField(name);
    std::string& b = bytes_.at(static_cast<std::size_t>(i));
    const auto w = static_cast<std::size_t>(fields_[static_cast<std::size_t>(i)].width);
    const char t = fields_[static_cast<std::size_t>(i)].type;
    std::string v = text.substr(0, w);
    if (t == 'N' || t == 'F')
      b = std::string(w - v.size(), ' ') + v;
    else
      b = v + std::string(w - v.size(), ' ');
  }
  void SetRaw(const std::string& name, const std::string& raw) { bytes_.at(static_cast<std::size_t>(FindField(name))) = raw; }
  void SetRecNo(std::uint32_t r) { recno_ = r; }
  void SetDeleted(bool d) { deleted_ = d; }

  int FieldCount() const override { return static_cast<int>(fields_.size()); }
  int FindField(std::string_view name) const override {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      const std::string& n = fields_[i].name;
      if (n.size() != name.size()) continue;
      bool same = true;
      for (std::size_t k = 0; k < n.size(); ++k)
        if (std::toupper(static_cast<unsigned char>(n[k])) != std::toupper(static_cast<unsigned char>(name[k]))) same = false;
      if (same) return static_cast<int>(i);
    }
    return -1;
  }
  char FieldType(int f) const override { return fields_[static_cast<std::size_t>(f)].type; }
  int FieldWidth(int f) const override { return fields_[static_cast<std::size_t>(f)].width; }
  int FieldDecimals(int f) const override { return fields_[static_cast<std::size_t>(f)].decimals; }
  std::string_view FieldBytes(int f) const override { return bytes_[static_cast<std::size_t>(f)]; }
  std::uint32_t RecNo() const override { return recno_; }
  bool Deleted() const override { return deleted_; }
  std::string_view Alias() const override { return alias_; }

 private:
  std::vector<TestField> fields_;
  std::vector<std::string> bytes_;
  std::string alias_;
  std::uint32_t recno_ = 1;
  bool deleted_ = false;
};

}  // namespace xbe::test
