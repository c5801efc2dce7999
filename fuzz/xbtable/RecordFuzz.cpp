#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "xbase/XbRecord.h"

namespace {

bool SameValue(const xbrec::TFieldValue& a, const xbrec::TFieldValue& b) {
  return a.HasValue == b.HasValue && a.Text == b.Text && a.Int == b.Int && a.Day == b.Day &&
         a.Bool == b.Bool && (a.Float == b.Float || (a.Float != a.Float && b.Float != b.Float));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  static constexpr char kLetters[] = {'C', 'N', 'I', 'D', 'L', 'M', 'B'};
  xbrec::TFieldInfo f;
  f.Letter = kLetters[data[0] % sizeof kLetters];
  f.Width = f.Letter == 'D' ? 8 : 1 + data[1] % 24;
  f.Decimals = f.Letter == 'N' ? data[2] % 6 : 0;
  f.Kind = *xbrec::KindFromType(f.Letter, f.Width, f.Decimals);
  f.XBEOffset = 1;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 3, size - 3);

  std::string raw(static_cast<std::size_t>(f.Width) + 1, ' ');
  raw.replace(1, std::min(rest.size(), static_cast<std::size_t>(f.Width)), rest.substr(0, static_cast<std::size_t>(f.Width)));
  const xbrec::TFieldValue first = xbrec::ReadField(f, raw);

  std::string written(raw.size(), '#');
  std::string overflow;
  if (xbrec::WriteField(f, first, written, &overflow)) {
    if (written[0] != '#') std::abort();  // the deletion mark is not a field's byte
    const xbrec::TFieldValue second = xbrec::ReadField(f, written);
    // Floats are rounded to the field's decimals once, and a date with a
    // two-digit year moves into the 1980 window once; after that the bytes
    // are stable.
    if (f.Kind != fkFloat && f.Kind != fkDate && !SameValue(first, second)) std::abort();
    std::string again(raw.size(), '#');
    if (!xbrec::WriteField(f, second, again, &overflow) || again != written) std::abort();
  } else if (f.Kind != fkFloat) {
    std::abort();  // a value read from the field always fits it again
  }

  // The accessor texts: parsing and formatting never fail hard.
  if (const auto d = xbrec::ParseFloat(rest)) {
    const std::string text = xbrec::FormatFloat(*d);
    if (!xbrec::ParseFloat(text)) std::abort();
  }
  if (const auto day = xbrec::ParseDate(rest)) {
    if (xbrec::ParseDate(xbrec::FormatDate(*day)) != day) std::abort();
  }
  (void)xbrec::ParseInteger(rest);
  return 0;
}
