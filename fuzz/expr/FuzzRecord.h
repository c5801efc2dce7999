#pragma once
// A fixed record with one field of each type the expressions read.
#include <array>
#include <string>

#include "Expression.h"

namespace fuzz {

class FuzzRecord final : public xbe::RecordAccess {
 public:
  int FieldCount() const override { return static_cast<int>(kFields.size()); }
  int FindField(std::string_view name) const override {
    for (std::size_t i = 0; i < kFields.size(); ++i) {
      const std::string_view n = kFields[i].name;
      if (n.size() != name.size()) continue;
      bool same = true;
      for (std::size_t k = 0; k < n.size(); ++k) {
        char c = name[k];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != n[k]) same = false;
      }
      if (same) return static_cast<int>(i);
    }
    return -1;
  }
  char FieldType(int f) const override { return kFields[static_cast<std::size_t>(f)].type; }
  int FieldWidth(int f) const override { return static_cast<int>(kFields[static_cast<std::size_t>(f)].bytes.size()); }
  int FieldDecimals(int f) const override { return kFields[static_cast<std::size_t>(f)].decimals; }
  std::string_view FieldBytes(int f) const override { return kFields[static_cast<std::size_t>(f)].bytes; }
  std::uint32_t RecNo() const override { return 7; }
  bool Deleted() const override { return false; }
  std::string_view Alias() const override { return "KONTO"; }

 private:
  struct Field {
    const char* name;
    char type;
    std::string_view bytes;
    int decimals;
  };
  static constexpr std::array<Field, 8> kFields = {{
      {"KNT_NR", 'N', "    8400", 0},
      {"BEZ", 'C', "Erl\xF6se 19 %        ", 0},
      {"BETRAG", 'N', "  -1234.56", 2},
      {"AB", 'D', "20200701", 0},
      {"AKTIV", 'L', "T", 0},
      {"NOTIZ", 'M', "        16", 0},
      {"ZAHL", 'I', std::string_view("\xF9\xFF\xFF\xFF", 4), 0},
      {"LEER", 'D', "        ", 0},
  }};
};

}  // namespace fuzz
