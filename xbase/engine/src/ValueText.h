#pragma once
// The text forms of field values that xbtool prints and reads and the
// fixture manifests use: C right-trimmed; N and F the stored text without
// leading blanks; D YYYYMMDD or empty; L T, F or empty; memo text with CR as
// \r, LF as \n and TAB as \t (so a line keeps one column per field); binary types (I, T, B, Y, _NullFlags and other letters
// this engine does not interpret) as 0x and the stored bytes in hex.
// All text is Windows-1252 bytes.
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "Dbf.h"
#include "WorkArea.h"

namespace xbe {

bool IsMemoField(const DbfTable& table, const FieldInfo& f);

// One line for the current record: recno, TAB, "*" or " ", then TAB and each
// field's value. False with *error when a memo cannot be read.
bool RecordLine(WorkArea& wa, std::string& line, std::string* error);

// The value of a non-memo field as text.
std::string FieldText(const FieldInfo& f, std::string_view bytes);
// The same without a copy for the types whose text lies in the stored bytes
// (C, N, F, D, L); false for the binary types, which need FieldText. Inline:
// a caller showing a table reads every field of every record through it.
inline bool FieldTextView(const FieldInfo& f, std::string_view bytes, std::string_view& text);

// The stored bytes (f.width of them) for `text` in the form above. False with
// *error when the text does not fit the field or is not of its form.
bool FieldBytesFromText(const FieldInfo& f, std::string_view text, std::string& bytes,
                        std::string* error);

std::string EscapeMemo(std::string_view memo);
std::string UnescapeMemo(std::string_view text);

namespace valuetext {

// Length of `b` without its trailing blanks: sixteen bytes at a time where
// the processor compares that many at once, then eight, then one.
inline std::size_t TrimmedLength(std::string_view b) {
  std::size_t n = b.size();
  const char* p = b.data();
#if defined(__SSE2__) || defined(_M_X64)
  const __m128i blanks = _mm_set1_epi8(' ');
  while (n >= 16) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 16));
    const auto other =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(w, blanks))) ^ 0xFFFFu;
    if (other != 0) return n - 16 + static_cast<std::size_t>(std::bit_width(other));
    n -= 16;
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kBlanks = 0x2020202020202020ull;
    while (n >= 8) {
      std::uint64_t w;
      std::memcpy(&w, p + n - 8, 8);
      if (w != kBlanks) return n - static_cast<std::size_t>(std::countl_zero(w ^ kBlanks) / 8);
      n -= 8;
    }
  }
  while (n > 0 && p[n - 1] == ' ') --n;
  return n;
}

// Leading blanks of `b`, eight at a time.
inline std::size_t LeadingBlanks(std::string_view b) {
  std::size_t s = 0;
  if constexpr (std::endian::native == std::endian::little) {
    while (s + 8 <= b.size()) {
      std::uint64_t w;
      std::memcpy(&w, b.data() + s, 8);
      const std::uint64_t other = w ^ 0x2020202020202020ull;
      if (other != 0) return s + static_cast<std::size_t>(std::countr_zero(other) / 8);
      s += 8;
    }
  }
  while (s < b.size() && b[s] == ' ') ++s;
  return s;
}

}  // namespace valuetext

inline bool FieldTextView(const FieldInfo& f, std::string_view b, std::string_view& text) {
  // Tested one after the other, the most common first: cheaper than a jump
  // through a table, which costs as much as trimming a short field.
  const char type = f.type;
  if (type == 'C') {
    text = std::string_view(b.data(), valuetext::TrimmedLength(b));
    return true;
  }
  if (type == 'N' || type == 'F') {
    const std::size_t s = valuetext::LeadingBlanks(b);
    text = std::string_view(b.data() + s, b.size() - s);
    return true;
  }
  if (type == 'D') {
    std::size_t n = b.size();
    while (n > 0 && (b[n - 1] == ' ' || b[n - 1] == '\0')) --n;
    text = std::string_view(b.data(), n);
    return true;
  }
  if (type == 'L') {
    // T, Y, F and N in either case; anything else is no value.
    const char c = b.empty() ? ' ' : static_cast<char>(b[0] | 0x20);
    if (c == 't' || c == 'y')
      text = "T";
    else if (c == 'f' || c == 'n')
      text = "F";
    else
      text = {};
    return true;
  }
  return false;
}

}  // namespace xbe
