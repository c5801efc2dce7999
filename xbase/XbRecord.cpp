#include "xbase/XbRecord.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>

#include "platform/Time.h"

namespace xbrec {
namespace {

// Every number text goes through charconv: printf and strtod follow the
// process locale, which the toolkit sets from the user's environment.

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string_view TrimTrailingBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool AllBlank(std::string_view s) { return TrimBlanks(s).empty(); }

// A decimal number: optional sign, digits with at most one `sep`, optional
// exponent. Anything else (inner blanks, "inf", hex) is not a number.
std::optional<double> ParseNumber(std::string_view text, char sep) {
  std::string_view s = TrimBlanks(text);
  std::string plain;
  plain.reserve(s.size());
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') plain += '-';
    ++i;
  }
  bool digits = false, point = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      digits = true;
      plain += c;
    } else if (c == sep && !point) {
      point = true;
      plain += '.';
    } else {
      break;
    }
  }
  if (!digits) return std::nullopt;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    plain += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) plain += s[i++];
    bool expDigits = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      plain += s[i];
      expDigits = true;
    }
    if (!expDigits) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;
  double v = 0;
  const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), v);
  if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

// `v` as fixed-point text with `decimals` digits after ".", rounded half away
// from zero on its shortest decimal form, so 1.005 gives "1.01" as it reads.
std::string FixedText(double v, int decimals) {
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  std::string s(buf, r.ptr);
  bool negative = false;
  if (!s.empty() && s[0] == '-') {
    negative = true;
    s.erase(0, 1);
  }
  std::string intPart = s, frac;
  if (const auto dot = s.find('.'); dot != std::string::npos) {
    intPart = s.substr(0, dot);
    frac = s.substr(dot + 1);
  }
  bool roundUp = false;
  if (static_cast<int>(frac.size()) > decimals) {
    roundUp = frac[static_cast<std::size_t>(decimals)] >= '5';
    frac.resize(static_cast<std::size_t>(decimals));
  }
  frac.append(static_cast<std::size_t>(decimals) - frac.size(), '0');
  std::string digits = intPart + frac;
  if (roundUp) {
    int k = static_cast<int>(digits.size()) - 1;
    for (; k >= 0; --k) {
      if (digits[static_cast<std::size_t>(k)] == '9') {
        digits[static_cast<std::size_t>(k)] = '0';
      } else {
        ++digits[static_cast<std::size_t>(k)];
        break;
      }
    }
    if (k < 0) digits.insert(digits.begin(), '1');
  }
  const std::size_t intLen = digits.size() - static_cast<std::size_t>(decimals);
  std::string out = digits.substr(0, intLen);
  if (decimals > 0) out += '.' + digits.substr(intLen);
  if (negative && out.find_first_not_of("0.") != std::string::npos) out.insert(out.begin(), '-');
  return out;
}

void PutRightAligned(std::string& raw, int offset, int width, std::string_view text) {
  const auto w = static_cast<std::size_t>(width);
  std::string cell(w - text.size(), ' ');
  cell += text;
  raw.replace(static_cast<std::size_t>(offset), w, cell);
}

void PutLeftAligned(std::string& raw, int offset, int width, std::string_view text) {
  const auto w = static_cast<std::size_t>(width);
  std::string cell(text.substr(0, w));
  cell.append(w - cell.size(), ' ');
  raw.replace(static_cast<std::size_t>(offset), w, cell);
}

std::string TwoDigits(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

}  // namespace

std::optional<TFieldKind> KindFromType(char letter, int width, int decimals) {
  switch (letter) {
    case 'C':
      return fkString;
    case 'N':
      return (decimals > 0 || width > 4) ? fkFloat : fkSmallint;
    case 'I':
      return fkInteger;
    case 'D':
      return fkDate;
    case 'L':
      return fkBoolean;
    case 'M':
      return fkMemo;
    case 'B':
    case 'G':
    case 'P':
      return fkBlob;
    default:
      return std::nullopt;
  }
}

std::optional<std::int32_t> DayFromDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || !platform::IsValidDate(year, month, day)) return std::nullopt;
  return static_cast<std::int32_t>(platform::DaysFromCivil(year, month, day) -
                                   platform::DaysFromCivil(1899, 12, 30));
}

void DateFromDay(std::int32_t serial, int& year, int& month, int& day) {
  platform::CivilFromDays(serial + platform::DaysFromCivil(1899, 12, 30), year, month, day);
}

std::optional<std::int32_t> ParseInteger(std::string_view text) {
  std::string_view s = TrimBlanks(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty() || s.front() == '+') return std::nullopt;
  std::int32_t v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return v;
}

std::optional<double> ParseFloat(std::string_view text) { return ParseNumber(text, ','); }

std::optional<std::int32_t> RoundToInt(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  const double r = std::nearbyint(value);  // default rounding: halves to even
  if (r < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      r > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    return std::nullopt;
  return static_cast<std::int32_t>(r);
}

std::string FormatFloat(double value) {
  if (value == 0 || !std::isfinite(value)) return "0";
  // 15 significant digits, trailing zeros dropped.
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  std::string sci(buf, r.ptr);
  const auto e = sci.find('e');
  const int exponent = std::stoi(sci.substr(e + 1));
  std::string mantissa = sci.substr(0, e);
  const bool negative = mantissa[0] == '-';
  if (negative) mantissa.erase(0, 1);
  std::string digits;
  for (char c : mantissa)
    if (c != '.') digits += c;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out;
  if (exponent >= 15 || exponent < -5) {
    out = digits.substr(0, 1);
    if (digits.size() > 1) out += ',' + digits.substr(1);
    out += 'E' + std::to_string(exponent);
  } else if (exponent < 0) {
    out = "0," + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    const auto intLen = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= intLen) {
      out = digits + std::string(intLen - digits.size(), '0');
    } else {
      out = digits.substr(0, intLen) + ',' + digits.substr(intLen);
    }
  }
  return negative ? '-' + out : out;
}

std::string FormatDate(std::int32_t serial) {
  int y = 0, m = 0, d = 0;
  DateFromDay(serial, y, m, d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", d, m, y);
  return buf;
}

std::string FormatDateTime(double value) {
  if (!std::isfinite(value)) return {};
  const double whole = std::trunc(value);
  auto ms = static_cast<std::int64_t>(std::llround(std::fabs(value - whole) * 86400000.0));
  if (ms >= 86400000) ms = 86399999;
  std::string out;
  if (whole != 0) out = FormatDate(static_cast<std::int32_t>(whole));
  if (ms / 1000 != 0) {
    const auto secs = ms / 1000;
    if (!out.empty()) out += ' ';
    out += TwoDigits(static_cast<int>(secs / 3600)) + ':' + TwoDigits(static_cast<int>(secs / 60 % 60)) +
           ':' + TwoDigits(static_cast<int>(secs % 60));
  }
  if (out.empty()) out = FormatDate(0);
  return out;
}

std::optional<std::int32_t> ParseDate(std::string_view text) {
  const std::string_view s = TrimBlanks(text);
  int parts[3] = {0, 0, 0};
  int lengths[3] = {0, 0, 0};
  int part = 0;
  for (char c : s) {
    if (c >= '0' && c <= '9') {
      if (++lengths[part] > 4) return std::nullopt;
      parts[part] = parts[part] * 10 + (c - '0');
    } else if (c == '.' && part < 2 && lengths[part] > 0) {
      ++part;
    } else {
      return std::nullopt;
    }
  }
  if (part != 2 || lengths[2] == 0 || lengths[0] > 2 || lengths[1] > 2) return std::nullopt;
  int year = parts[2];
  if (lengths[2] <= 2) {
    // Two-digit years fall into the hundred years from 1980, as the table's epoch.
    year += 1900;
    if (year < 1980) year += 100;
  }
  return DayFromDate(year, parts[1], parts[0]);
}

TFieldValue ReadField(const TFieldInfo& info, std::string_view raw) {
  TFieldValue v;
  const std::string_view bytes = raw.substr(static_cast<std::size_t>(info.XBEOffset),
                                            static_cast<std::size_t>(info.Width));
  switch (info.Kind) {
    case fkString: {
      // The value is NUL-ended text, as the record buffer always held it.
      std::string_view s = bytes.substr(0, bytes.find('\0'));
      v.Text = std::string(TrimTrailingBlanks(s));
      v.HasValue = true;
      break;
    }
    case fkSmallint:
    case fkInteger: {
      const std::string_view s = TrimBlanks(bytes);
      if (s.empty()) break;
      v.HasValue = true;
      v.Int = ParseInteger(s).value_or(0);
      if (info.Kind == fkSmallint && (v.Int < -32768 || v.Int > 32767)) v.Int = 0;
      break;
    }
    case fkBoolean:
      if (bytes.empty() || bytes[0] == ' ') break;
      v.HasValue = true;
      v.Bool = bytes[0] == 'T' || bytes[0] == 'Y';
      break;
    case fkFloat: {
      if (AllBlank(bytes)) break;
      // "." is the stored decimal point; a "," in a stored number is no
      // separator at all.
      std::string s(bytes);
      for (char& c : s) {
        if (c == '.')
          c = ',';
        else if (c == ',')
          c = ' ';
      }
      v.HasValue = true;
      v.Float = ParseFloat(s).value_or(0.0);
      break;
    }
    case fkDate: {
      if (bytes.size() < 8 || bytes.substr(0, 4) == "    ") break;
      const int y = ParseInteger(bytes.substr(0, 4)).value_or(0);
      const int m = ParseInteger(bytes.substr(4, 2)).value_or(0);
      const int d = ParseInteger(bytes.substr(6, 2)).value_or(0);
      if (const auto day = DayFromDate(y, m, d)) {
        v.HasValue = true;
        v.Day = *day;
      }
      break;
    }
    case fkMemo:
    case fkBlob:
      if (AllBlank(bytes)) break;
      v.HasValue = true;
      v.Text = std::string(bytes);
      break;
  }
  return v;
}

bool WriteField(const TFieldInfo& info, const TFieldValue& value, std::string& raw, std::string* overflow) {
  const int off = info.XBEOffset;
  const int width = info.Width;
  if (!value.HasValue) {
    PutLeftAligned(raw, off, width, "");
    return true;
  }
  std::string text;
  switch (info.Kind) {
    case fkString:
    case fkMemo:
    case fkBlob:
      PutLeftAligned(raw, off, width, value.Text);
      return true;
    case fkBoolean:
      PutLeftAligned(raw, off, width, value.Bool ? "T" : "F");
      return true;
    case fkDate: {
      int y = 0, m = 0, d = 0;
      DateFromDay(value.Day, y, m, d);
      if (y < 100) {
        y += 1900;
        if (y < 1980) y += 100;
      }
      char buf[32];
      std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
      PutLeftAligned(raw, off, width, buf);
      return true;
    }
    case fkSmallint:
    case fkInteger:
      text = std::to_string(value.Int);
      break;
    case fkFloat:
      if (!std::isfinite(value.Float)) {
        if (overflow) *overflow = FormatFloat(value.Float);
        return false;
      }
      text = FixedText(value.Float, info.Decimals);
      break;
  }
  if (static_cast<int>(text.size()) > width) {
    if (overflow) *overflow = text;
    return false;
  }
  PutRightAligned(raw, off, width, text);
  return true;
}

}  // namespace xbrec
