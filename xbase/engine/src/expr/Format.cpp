#include "Format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace xbe {

std::int64_t JdnFromYmd(int y, int m, int d) {
  const std::int64_t a = (14 - m) / 12;
  const std::int64_t yy = static_cast<std::int64_t>(y) + 4800 - a;
  const std::int64_t mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

void YmdFromJdn(std::int64_t jdn, int& y, int& m, int& d) {
  if (jdn <= 0 || jdn > 100000000) {
    y = m = d = 0;
    return;
  }
  std::int64_t l = jdn + 68569;
  const std::int64_t n = 4 * l / 146097;
  l -= (146097 * n + 3) / 4;
  const std::int64_t i = 4000 * (l + 1) / 1461001;
  l = l - 1461 * i / 4 + 31;
  const std::int64_t j = 80 * l / 2447;
  d = static_cast<int>(l - 2447 * j / 80);
  l = j / 11;
  m = static_cast<int>(j + 2 - 12 * l);
  y = static_cast<int>(100 * (n - 49) + i + l);
}

std::string ValueToText(const Value& v) {
  switch (v.type) {
    case ValueType::Character: return v.str;
    case ValueType::Numeric: return expr::FormatStr(v.num, expr::DefaultStrWidth(v), v.decimals);
    case ValueType::Date: return expr::DtosFromJdn(v.jdn);
    case ValueType::Logical: return v.logical ? "T" : "F";
  }
  return {};
}

namespace expr {
namespace {

constexpr int kSignificantDigits = 15;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

// Whole numbers of up to 15 digits, the usual content of a numeric field,
// are exact in a double: they are summed up without the general parser.
bool SmallWholeNumber(std::string_view digits, double& out) {
  if (digits.empty() || digits.size() > 15) return false;
  std::int64_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  out = static_cast<double>(n);
  return true;
}

bool ToDouble(std::string_view unsignedText, bool negative, double& out) {
  double v = 0;
  if (SmallWholeNumber(unsignedText, v)) {
    out = negative && v != 0 ? -v : v;
    return true;
  }
  const char* end = unsignedText.data() + unsignedText.size();
  auto r = std::from_chars(unsignedText.data(), end, v, std::chars_format::fixed);
  if (r.ec == std::errc::result_out_of_range) return false;
  if (r.ec != std::errc() || r.ptr != end) return false;
  out = negative ? -v : v;
  if (out == 0) out = 0;  // no negative zero
  return true;
}

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
  return kDays[m - 1];
}

std::int64_t CheckedJdn(int y, int m, int d) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return 0;
  return JdnFromYmd(y, m, d);
}

}  // namespace

void AppendStr(std::string& out, double v, int width, int decimals) {
  if (width < 1) width = 10;
  if (width > static_cast<int>(kMaxStringLength)) width = static_cast<int>(kMaxStringLength);
  if (decimals < 0) decimals = 0;
  if (decimals > width) decimals = width;
  if (!std::isfinite(v)) {
    out.append(static_cast<std::size_t>(width), '*');  // does not fit
    return;
  }

  // Whole numbers (record numbers, account numbers in keys) need no
  // rounding: their digits are exact, and they are the common case.
  if (v == std::floor(v) && std::fabs(v) < 1e15) {
    char digitsBuf[24];
    auto whole = static_cast<std::int64_t>(std::fabs(v));
    char* end = digitsBuf + sizeof digitsBuf;
    char* p = end;
    do {
      *--p = static_cast<char>('0' + whole % 10);
      whole /= 10;
    } while (whole > 0);
    const bool negative = v < 0;
    const std::size_t digits = static_cast<std::size_t>(end - p);
    const std::size_t len = (negative ? 1u : 0u) + digits +
                            (decimals > 0 ? 1u + static_cast<std::size_t>(decimals) : 0u);
    if (len > static_cast<std::size_t>(width)) {
      out.append(static_cast<std::size_t>(width), '*');
      return;
    }
    // Blanks, sign, digits, then the decimal zeros, written into place.
    const std::size_t base = out.size();
    out.append(static_cast<std::size_t>(width), ' ');
    char* o = out.data() + base + (static_cast<std::size_t>(width) - len);
    if (negative) *o++ = '-';
    std::memcpy(o, p, digits);
    o += digits;
    if (decimals > 0) {
      *o++ = '.';
      std::memset(o, '0', static_cast<std::size_t>(decimals));
    }
    return;
  }

  // The rounding works on the decimal digits a user would see, so that
  // 1.005 rounds to 1.01 although its binary value lies just below.
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific,
                         kSignificantDigits - 1);
  std::string digits;
  int exponent = 0;
  {
    const char* p = buf;
    for (; p < r.ptr && *p != 'e'; ++p)
      if (*p >= '0' && *p <= '9') digits.push_back(*p);
    if (p < r.ptr) {
      ++p;
      bool neg = false;
      if (p < r.ptr && (*p == '+' || *p == '-')) neg = *p++ == '-';
      std::from_chars(p, r.ptr, exponent);
      if (neg) exponent = -exponent;
    }
  }
  const int pointPos = exponent + 1;  // digits before the decimal point
  if (pointPos > width + 1) {
    out.append(static_cast<std::size_t>(width), '*');  // does not fit
    return;
  }
  const int keep = pointPos + decimals;  // digits of value * 10^decimals
  std::string all;
  if (keep <= 0) {
    all = (keep == 0 && digits[0] >= '5') ? "1" : "0";
  } else {
    const int have = static_cast<int>(digits.size());
    all = digits.substr(0, std::min(keep, have));
    if (keep < have && digits[keep] >= '5') {
      int i = static_cast<int>(all.size()) - 1;
      while (i >= 0 && all[i] == '9') all[i--] = '0';
      if (i < 0)
        all.insert(all.begin(), '1');
      else
        ++all[i];
    }
    if (keep > have) all.append(keep - have, '0');
  }
  const auto firstNonZero = all.find_first_not_of('0');
  const bool zero = firstNonZero == std::string::npos;
  all = zero ? "0" : all.substr(firstNonZero);
  if (static_cast<int>(all.size()) < decimals + 1) all.insert(0, decimals + 1 - all.size(), '0');

  std::string text;
  if (v < 0 && !zero) text.push_back('-');
  text.append(all, 0, all.size() - decimals);
  if (decimals > 0) {
    text.push_back('.');
    text.append(all, all.size() - decimals, std::string::npos);
  }
  if (static_cast<int>(text.size()) > width) {
    out.append(static_cast<std::size_t>(width), '*');  // does not fit
    return;
  }
  out.append(static_cast<std::size_t>(width) - text.size(), ' ');
  out += text;
}

std::string FormatStr(double v, int width, int decimals) {
  std::string text;
  AppendStr(text, v, width, decimals);
  return text;
}

int DefaultStrWidth(const Value& v) {
  if (v.width > 0) return v.width;
  return 10 + (v.decimals > 0 ? v.decimals + 1 : 0);
}

bool ParseNumber(std::string_view text, double& out) {
  if (PlainWholeNumber(text, out)) return true;
  text = Trim(text);
  out = 0;
  if (text.empty()) return true;
  bool negative = false;
  if (text.front() == '-' || text.front() == '+') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.front() == '-' || text.front() == '+') return false;
  return ToDouble(text, negative, out);
}

double ParsePrefixNumber(std::string_view text, int& decimals) {
  decimals = 0;
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  const std::size_t start = i;
  std::size_t intDigits = 0, fracDigits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++intDigits;
  if (i < text.size() && text[i] == '.') {
    std::size_t j = i + 1;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j, ++fracDigits;
    if (fracDigits > 0 || intDigits > 0) i = j;
  }
  if (intDigits + fracDigits == 0) return 0;
  decimals = static_cast<int>(std::min<std::size_t>(fracDigits, 18));
  double v = 0;
  if (!ToDouble(text.substr(start, i - start), negative, v)) return 0;
  return v;
}

bool ValidJdn(std::int64_t jdn) {
  static const std::int64_t kFirst = JdnFromYmd(1, 1, 1);
  static const std::int64_t kLast = JdnFromYmd(9999, 12, 31);
  return jdn >= kFirst && jdn <= kLast;
}

std::int64_t JdnFromDtos(std::string_view s) {
  if (s.size() != 8) return 0;
  int parts[3] = {0, 0, 0};
  const int lens[3] = {4, 2, 2};
  std::size_t pos = 0;
  for (int k = 0; k < 3; ++k) {
    for (int n = 0; n < lens[k]; ++n, ++pos) {
      const char c = s[pos];
      if (c < '0' || c > '9') return 0;
      parts[k] = parts[k] * 10 + (c - '0');
    }
  }
  return CheckedJdn(parts[0], parts[1], parts[2]);
}

std::string DtosFromJdn(std::int64_t jdn) {
  if (!ValidJdn(jdn)) return std::string(8, ' ');
  int y, m, d;
  YmdFromJdn(jdn, y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}

std::string DtocFromJdn(std::int64_t jdn) {
  if (!ValidJdn(jdn)) return "  .  .    ";
  int y, m, d;
  YmdFromJdn(jdn, y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", d, m, y);
  return buf;
}

std::int64_t JdnFromDtoc(std::string_view text) {
  // German order, day first; two-digit years follow the host's epoch 1980.
  int parts[3] = {0, 0, 0};
  int lens[3] = {0, 0, 0};
  int k = 0;
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  for (; i < text.size() && k < 3; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      if (lens[k] >= 4) return 0;
      parts[k] = parts[k] * 10 + (c - '0');
      ++lens[k];
    } else if (c == '.' || c == '/' || c == '-') {
      if (lens[k] == 0) return 0;
      ++k;
    } else if (IsBlank(c)) {
      break;
    } else {
      return 0;
    }
  }
  if (k != 2 || lens[2] == 0) return 0;
  int year = parts[2];
  if (lens[2] <= 2) year += year >= 80 ? 1900 : 2000;
  return CheckedJdn(year, parts[1], parts[0]);
}

bool FieldUsable(char type, int width) {
  switch (type) {
    case 'C': case 'N': case 'F': case 'D': case 'L': case 'M': case 'G':
      return true;
    case 'I': return width == 4;
    case 'B': case 'Y': return width == 8;
    default: return false;
  }
}

ValueType FieldValueType(char type) {
  switch (type) {
    case 'N': case 'F': case 'I': case 'B': case 'Y': return ValueType::Numeric;
    case 'D': return ValueType::Date;
    case 'L': return ValueType::Logical;
    default: return ValueType::Character;
  }
}

void ReadField(const RecordAccess& record, int field, char type, Value& out) {
  const std::string_view bytes = record.FieldBytes(field);
  out.type = FieldValueType(type);
  out.width = 0;
  out.decimals = 0;
  switch (type) {
    case 'N':
    case 'F': {
      out.width = record.FieldWidth(field);
      out.decimals = record.FieldDecimals(field);
      if (!ParseNumber(bytes, out.num)) {
        int ignored;
        out.num = ParsePrefixNumber(bytes, ignored);
      }
      return;
    }
    case 'I': {
      std::uint32_t u = 0;
      for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i)
        u |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
      out.num = static_cast<double>(static_cast<std::int32_t>(u));
      out.width = 10;
      return;
    }
    case 'B':
    case 'Y': {
      std::uint64_t u = 0;
      for (std::size_t i = 0; i < 8 && i < bytes.size(); ++i)
        u |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
      if (type == 'B') {
        double d;
        std::memcpy(&d, &u, sizeof d);
        out.num = std::isfinite(d) ? d : 0;
        out.decimals = record.FieldDecimals(field);
      } else {
        out.num = static_cast<double>(static_cast<std::int64_t>(u)) / 10000.0;
        out.decimals = 4;
      }
      return;
    }
    case 'D':
      out.jdn = JdnFromDtos(bytes);
      return;
    case 'L':
      out.logical = !bytes.empty() &&
                    (bytes[0] == 'T' || bytes[0] == 't' || bytes[0] == 'Y' || bytes[0] == 'y');
      return;
    default:
      out.str.assign(bytes.data(), bytes.size());
      return;
  }
}

}  // namespace expr
}  // namespace xbe
