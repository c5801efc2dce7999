// Definition files come from outside the program: any bytes must decode to
// valid UTF-8 lines, and a definition without an error must be usable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Ust2020Konto.h"
#include "Ust2020Text.h"

namespace {

bool ValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = conversion::DecodeTextFile(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!ValidUtf8(text)) std::abort();
  for (const std::string& line : conversion::SplitLines(text)) {
    if (line.find_first_of("\r\n") != std::string::npos) std::abort();
    const conversion::TQORUSt2020Konto konto(line);
    if (konto.FLastError.empty() && (konto.Nr == 0 || konto.SSL1 == 0)) std::abort();
    if (!ValidUtf8(konto.Bez) || !ValidUtf8(konto.FLastError)) std::abort();
  }
  return 0;
}
