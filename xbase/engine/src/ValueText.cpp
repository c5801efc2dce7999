#include "ValueText.h"

#include <bit>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Expression.h"

namespace xbe {
namespace {

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string r = "0x";
  for (unsigned char c : bytes) {
    r.push_back(digits[c >> 4]);
    r.push_back(digits[c & 15]);
  }
  return r;
}

// Plain decimal text ("-12", "3.5") in a field of `width` and `decimals`,
// written right-aligned without a trip through double: the bytes printf
// would give for the parsed value whenever the digits it prints are at most
// 15 (so the double round-trips). False when the text is anything else; the
// general path then decides.
bool PlainNumberBytes(std::string_view s, int width, int decimals, std::string& bytes) {
  bool negative = false;
  if (!s.empty() && s[0] == '-') {
    negative = true;
    s.remove_prefix(1);
  }
  std::size_t dot = s.find('.');
  std::string_view whole = s.substr(0, dot);
  std::string_view frac = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
  if (whole.empty() || (dot != std::string_view::npos && frac.empty())) return false;
  for (char c : whole)
    if (c < '0' || c > '9') return false;
  for (char c : frac)
    if (c < '0' || c > '9') return false;
  if (frac.size() > static_cast<std::size_t>(decimals)) return false;
  while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
  if (whole.size() + static_cast<std::size_t>(decimals) > 15) return false;
  bool zero = whole == "0";
  for (char c : frac) zero = zero && c == '0';
  if (negative && zero) return false;  // printf's "-0" is left to the general path
  const std::size_t len = (negative ? 1 : 0) + whole.size() +
                          (decimals > 0 ? 1 + static_cast<std::size_t>(decimals) : 0);
  if (len > static_cast<std::size_t>(width)) return false;
  bytes.assign(static_cast<std::size_t>(width) - len, ' ');
  if (negative) bytes.push_back('-');
  bytes.append(whole);
  if (decimals > 0) {
    bytes.push_back('.');
    bytes.append(frac);
    bytes.append(static_cast<std::size_t>(decimals) - frac.size(), '0');
  }
  return true;
}

}  // namespace

bool IsMemoField(const DbfTable& table, const FieldInfo& f) {
  switch (f.type) {
    case 'M':
    case 'G':
    case 'P':
    case 'W':
      return true;
    case 'B':
      return !table.IsVfp();  // dBASE binary memo; in VFP tables B is a double
    default:
      return false;
  }
}

std::string FieldText(const FieldInfo& f, std::string_view b) {
  std::string_view text;
  if (FieldTextView(f, b, text)) return std::string(text);
  return Hex(b);
}

std::string EscapeMemo(std::string_view memo) {
  std::string r;
  r.reserve(memo.size());
  for (char c : memo) {
    if (c == '\r')
      r += "\\r";
    else if (c == '\n')
      r += "\\n";
    else if (c == '\t')
      r += "\\t";
    else
      r.push_back(c);
  }
  return r;
}

std::string UnescapeMemo(std::string_view text) {
  std::string r;
  r.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'r' || text[i + 1] == 'n' || text[i + 1] == 't')) {
      r.push_back(text[i + 1] == 'r' ? '\r' : text[i + 1] == 'n' ? '\n' : '\t');
      ++i;
    } else {
      r.push_back(text[i]);
    }
  }
  return r;
}

bool RecordLine(WorkArea& wa, std::string& line, std::string* error) {
  const DbfTable& t = wa.Table();
  const std::string& rec = wa.Record();
  line = std::to_string(wa.RecNo());
  line += '\t';
  line += rec[0] == '*' ? '*' : ' ';
  for (std::size_t i = 0; i < t.Fields().size(); ++i) {
    const FieldInfo& f = t.Fields()[i];
    line += '\t';
    if (IsMemoField(t, f)) {
      std::string memo;
      if (!wa.MemoRead(static_cast<int>(i), memo, error)) return false;
      line += EscapeMemo(memo);
    } else {
      line += FieldText(f, std::string_view(rec.data() + f.offset, static_cast<std::size_t>(f.width)));
    }
  }
  return true;
}

bool FieldBytesFromText(const FieldInfo& f, std::string_view text, std::string& bytes,
                        std::string* error) {
  const std::size_t w = static_cast<std::size_t>(f.width);
  bytes.assign(w, ' ');
  switch (f.type) {
    case 'C':
      if (text.size() > w)
        return Fail(error, "field " + f.name + ": the value is longer than " + std::to_string(w) +
                               " characters");
      bytes.replace(0, text.size(), text);
      return true;
    case 'N':
    case 'F': {
      std::string_view t = text;
      while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
      while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
      if (t.empty()) return true;
      if (PlainNumberBytes(t, f.width, f.decimals, bytes)) return true;
      const std::string s(t);
      char* end = nullptr;
      const double v = std::strtod(s.c_str(), &end);
      if (end == s.c_str() || *end != '\0' || !std::isfinite(v))
        return Fail(error, "field " + f.name + ": '" + s + "' is not a number");
      char buf[64];
      std::snprintf(buf, sizeof buf, "%*.*f", f.width, f.decimals, v);
      const std::string out = buf;
      if (out.size() > w)
        return Fail(error, "field " + f.name + ": " + s + " does not fit width " +
                               std::to_string(w));
      bytes = out;
      return true;
    }
    case 'D': {
      if (text.empty()) return true;
      if (text.size() != 8) return Fail(error, "field " + f.name + ": a date is YYYYMMDD");
      for (char c : text)
        if (c < '0' || c > '9') return Fail(error, "field " + f.name + ": a date is YYYYMMDD");
      const int y = std::atoi(std::string(text.substr(0, 4)).c_str());
      const int m = std::atoi(std::string(text.substr(4, 2)).c_str());
      const int d = std::atoi(std::string(text.substr(6, 2)).c_str());
      int y2, m2, d2;
      YmdFromJdn(JdnFromYmd(y, m, d), y2, m2, d2);
      if (y2 != y || m2 != m || d2 != d)
        return Fail(error, "field " + f.name + ": " + std::string(text) + " is not a date");
      bytes.assign(text);
      return true;
    }
    case 'L':
      if (text.empty()) return true;
      if (text == "T" || text == "F") {
        bytes.assign(1, text[0]);
        return true;
      }
      return Fail(error, "field " + f.name + ": a logical value is T, F or empty");
    default: {
      if (text.size() != 2 + 2 * w || text.substr(0, 2) != "0x")
        return Fail(error, "field " + f.name + ": give 0x and " + std::to_string(w) +
                               " bytes in hex");
      for (std::size_t i = 0; i < w; ++i) {
        auto nib = [](char c) -> int {
          if (c >= '0' && c <= '9') return c - '0';
          if (c >= 'a' && c <= 'f') return c - 'a' + 10;
          if (c >= 'A' && c <= 'F') return c - 'A' + 10;
          return -1;
        };
        const int hi = nib(text[2 + 2 * i]), lo = nib(text[3 + 2 * i]);
        if (hi < 0 || lo < 0) return Fail(error, "field " + f.name + ": not hexadecimal");
        bytes[i] = static_cast<char>(hi * 16 + lo);
      }
      return true;
    }
  }
}

}  // namespace xbe
