#include "cdx/CdxKeys.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#if defined(_MSC_VER)
#include <stdlib.h>
#endif

#include "Expression.h"
#include "expr/Format.h"

namespace xbe::cdx {

namespace {

std::uint64_t ByteSwap64(std::uint64_t v) {
#if defined(_MSC_VER)
  return _byteswap_uint64(v);
#else
  return __builtin_bswap64(v);
#endif
}

}  // namespace

void EncodeDoubleTo(double v, char* out) {
  if (v == 0) v = 0;  // -0.0 sorts as +0.0
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  if (bits >> 63)
    bits = ~bits;
  else
    bits |= 1ull << 63;
  if constexpr (std::endian::native == std::endian::little) {
    bits = ByteSwap64(bits);  // the key is big-endian: it sorts under memcmp
    std::memcpy(out, &bits, 8);
  } else {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(bits >> (56 - 8 * i));
  }
}

std::string EncodeDouble(double v) {
  std::string out(8, '\0');
  EncodeDoubleTo(v, out.data());
  return out;
}

bool DecodeDouble(std::string_view key, double& v) {
  if (key.size() != 8) return false;
  std::uint64_t bits = 0;
  for (char c : key) bits = (bits << 8) | static_cast<std::uint8_t>(c);
  if (bits >> 63)
    bits &= ~(1ull << 63);
  else
    bits = ~bits;
  std::memcpy(&v, &bits, sizeof v);
  return true;
}

std::string EncodeInt4(std::int32_t v) {
  std::uint32_t u = static_cast<std::uint32_t>(v) ^ 0x80000000u;
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(i)] = static_cast<char>(u >> (24 - 8 * i));
  return out;
}

bool DecodeInt4(std::string_view key, std::int32_t& v) {
  if (key.size() != 4) return false;
  std::uint32_t u = 0;
  for (char c : key) u = (u << 8) | static_cast<std::uint8_t>(c);
  v = static_cast<std::int32_t>(u ^ 0x80000000u);
  return true;
}

bool ParseNumber(std::string_view text, double& v) {
  if (expr::PlainWholeNumber(text, v)) return true;
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  for (char c : text)
    if (!(c == '-' || c == '.' || (c >= '0' && c <= '9'))) return false;
  auto res = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
  return res.ec == std::errc() && res.ptr == text.data() + text.size() && std::isfinite(v);
}

std::string ShowKey(std::string_view key, char type) {
  char buf[64];
  double d;
  std::int32_t i;
  if (type == 'N' && key.size() == 8 && DecodeDouble(key, d)) {
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
  }
  if (type == 'N' && DecodeInt4(key, i)) return std::to_string(i);
  if (type == 'D' && DecodeDouble(key, d)) {
    if (d == 0) return "(empty date)";
    int y, m, dd;
    YmdFromJdn(static_cast<std::int64_t>(d), y, m, dd);
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, dd);
    return buf;
  }
  std::string out = "\"";
  for (char c : key) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    } else {
      out += c;
    }
  }
  while (out.size() > 1 && out.back() == ' ') out.pop_back();
  return out + "\"";
}

}  // namespace xbe::cdx
