#include "Ust2020Text.h"

#include <charconv>

#include "platform/Encoding.h"

namespace conversion {

std::string TrimText(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

std::int32_t TextToInt(std::string_view s, std::int32_t ADefault) {
  if (s.empty()) return ADefault;
  const char* first = s.data();
  const char* last = s.data() + s.size();
  if (*first == '+') ++first;
  if (first == last) return ADefault;
  std::int32_t value = 0;
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || ptr != last) return ADefault;
  return value;
}

std::string TwoDigits(int AValue) {
  std::string s = std::to_string(AValue < 0 ? -AValue : AValue);
  if (s.size() < 2) s.insert(0, 2 - s.size(), '0');
  return AValue < 0 ? "-" + s : s;
}

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
  if (from.empty()) return s;
  std::size_t pos = 0;
  while ((pos = s.find(from, pos)) != std::string::npos) {
    s.replace(pos, from.size(), to);
    pos += to.size();
  }
  return s;
}

namespace {

std::string DecodeUtf16(std::string_view s, bool bigEndian) {
  std::string out;
  out.reserve(s.size());
  auto unit = [&](std::size_t i) -> char16_t {
    const auto a = static_cast<unsigned char>(s[i]);
    const auto b = static_cast<unsigned char>(s[i + 1]);
    return static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  };
  const std::size_t n = s.size() & ~std::size_t{1};  // a lone last byte is dropped
  for (std::size_t i = 0; i < n; i += 2) {
    const char16_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 2 < n) {
      const char16_t v = unit(i + 2);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        platform::AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (v - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF)
      platform::AppendUtf8(out, 0xFFFD);
    else
      platform::AppendUtf8(out, u);
  }
  return out;
}

// Valid UTF-8 sequences are kept; every other byte is read as Windows-1252.
std::string DecodeUtf8Lenient(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool ok = len > 0 && i + len <= s.size();
    for (std::size_t k = 1; ok && k < len; ++k)
      ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    if (ok && len > 1) {
      // Reject overlong forms and surrogates so the output stays valid UTF-8.
      char32_t cp = c & (0x7F >> len);
      for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
      static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
      ok = cp >= kMin[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    }
    if (ok) {
      out.append(s.substr(i, len));
      i += len;
    } else {
      out += platform::Win1252ToUtf8(s.substr(i, 1));
      ++i;
    }
  }
  return out;
}

}  // namespace

std::string DecodeTextFile(std::string_view raw) {
  if (raw.size() >= 3 && raw.substr(0, 3) == "\xEF\xBB\xBF") return DecodeUtf8Lenient(raw.substr(3));
  if (raw.size() >= 2 && raw.substr(0, 2) == "\xFF\xFE") return DecodeUtf16(raw.substr(2), false);
  if (raw.size() >= 2 && raw.substr(0, 2) == "\xFE\xFF") return DecodeUtf16(raw.substr(2), true);
  return platform::Win1252ToUtf8(raw);
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

}  // namespace conversion
