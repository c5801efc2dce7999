#pragma once
// Text forms of values and stored field bytes, shared by the expression
// evaluator and the index code (NTX numeric keys are STR() texts).
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "../Expression.h"

namespace xbe::expr {

// Strings longer than this are refused: no expression of a host index comes
// near it, and it keeps hostile input from allocating without bound.
inline constexpr std::size_t kMaxStringLength = 65535;

// STR(v, width, decimals): right-aligned, rounded half away from zero on the
// decimal digits a user sees (15 significant digits), asterisks when the
// text does not fit.
std::string FormatStr(double v, int width, int decimals);
// The same text appended to `out` (whose memory a caller keeps).
void AppendStr(std::string& out, double v, int width, int decimals);

// Flips the case bit of the bytes from `first` to `last` (ASCII letters
// only: the host's keys keep umlauts and every byte above 127 as they are),
// eight bytes at a time. Key expressions upper-case a name for every key.
template <char first, char last>
inline void FlipCase(char* s, std::size_t size) {
  constexpr std::uint64_t ones = 0x0101010101010101ull, high = 0x8080808080808080ull;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s + i, 8);
    // Per byte, without carries between bytes: the high bit of `atLeast`
    // is set where the low seven bits are >= first, that of `above` where
    // they are > last; bytes with the high bit set never count.
    const std::uint64_t low = w & ~high;
    const std::uint64_t atLeast = low + ones * static_cast<std::uint8_t>(0x80 - first);
    const std::uint64_t above = low + ones * static_cast<std::uint8_t>(0x7F - last);
    const std::uint64_t in = atLeast & ~above & ~w & high;
    w ^= in >> 2;  // 0x80 >> 2 is the case bit 0x20
    std::memcpy(s + i, &w, 8);
  }
  for (; i < size; ++i)
    if (s[i] >= first && s[i] <= last) s[i] = static_cast<char>(s[i] ^ 0x20);
}

// The width STR() uses when none is given: the declared width of a bare
// field, else 10 plus room for the decimals.
int DefaultStrWidth(const Value& v);

// Whole text as a number: blanks around, sign, digits, one point; blank
// text is 0. Correctly rounded and independent of the process locale.
bool ParseNumber(std::string_view text, double& out);

// The usual content of a numeric field: blanks, an optional minus, 1 to 15
// digits (exact in a double), blanks. False for anything else, which the
// general parsers then take.
inline bool PlainWholeNumber(std::string_view text, double& out) {
  const char* p = text.data();
  const char* e = p + text.size();
  while (p < e && *p == ' ') ++p;
  while (e > p && e[-1] == ' ') --e;
  const bool negative = p < e && *p == '-';
  if (negative) ++p;
  if (p == e || e - p > 15) return false;
  std::int64_t n = 0;
  for (; p < e; ++p) {
    const auto d = static_cast<unsigned>(static_cast<unsigned char>(*p) - '0');
    if (d > 9) return false;
    n = n * 10 + static_cast<std::int64_t>(d);
  }
  out = negative && n != 0 ? -static_cast<double>(n) : static_cast<double>(n);
  return true;
}

// VAL(): the longest numeric prefix after leading blanks, 0 when none.
double ParsePrefixNumber(std::string_view text, int& decimals);

// Dates. Invalid calendar dates and blank text give 0 (the empty date).
std::int64_t JdnFromDtos(std::string_view yyyymmdd);
std::string DtosFromJdn(std::int64_t jdn);  // 8 blanks for the empty date
std::string DtocFromJdn(std::int64_t jdn);  // DD.MM.YYYY, "  .  .    " when empty
std::int64_t JdnFromDtoc(std::string_view text);
bool ValidJdn(std::int64_t jdn);  // 0001-01-01 .. 9999-12-31

// The value of a field in the current record. Field types the evaluator
// cannot use make FieldUsable false.
bool FieldUsable(char type, int width);
ValueType FieldValueType(char type);
// `type` is the field type the expression was compiled against.
void ReadField(const RecordAccess& record, int field, char type, Value& out);

}  // namespace xbe::expr
