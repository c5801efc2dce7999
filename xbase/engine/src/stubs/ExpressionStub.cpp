// Stand-in used only while src/expr/ holds no sources: every expression is
// refused, so tables open and read but no index can be built or kept.
#include "Expression.h"

#include <cstdio>

namespace xbe {

std::unique_ptr<Expression> Expression::Compile(std::string_view, const RecordAccess&,
                                                std::string* error) {
  if (error) *error = "expressions are not available in this build";
  return nullptr;
}

std::string ValueToText(const Value& v) {
  switch (v.type) {
    case ValueType::Character: return v.str;
    case ValueType::Logical: return v.logical ? "T" : "F";
    case ValueType::Date: {
      if (v.jdn == 0) return "        ";
      int y, m, d;
      YmdFromJdn(v.jdn, y, m, d);
      char buf[16];
      std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
      return buf;
    }
    case ValueType::Numeric: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%10.0f", v.num);
      return buf;
    }
  }
  return {};
}

std::int64_t JdnFromYmd(int y, int m, int d) {
  std::int64_t a = (14 - m) / 12, yy = y + 4800 - a, mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

void YmdFromJdn(std::int64_t jdn, int& y, int& m, int& d) {
  std::int64_t a = jdn + 32044, b = (4 * a + 3) / 146097, c = a - 146097 * b / 4;
  std::int64_t dd = (4 * c + 3) / 1461, e = c - 1461 * dd / 4, mm = (5 * e + 2) / 153;
  d = static_cast<int>(e - (153 * mm + 2) / 5 + 1);
  m = static_cast<int>(mm + 3 - 12 * (mm / 10));
  y = static_cast<int>(100 * b + dd - 4800 + mm / 10);
}

}  // namespace xbe
