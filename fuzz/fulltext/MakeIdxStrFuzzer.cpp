// Arbitrary source texts: the index text must fit the buffer, be
// NUL-ended, and hold no lower-case ASCII letter.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fulltext/MakeIdxStr.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool wildcard = data[0] & 1;
  const std::string src(reinterpret_cast<const char*>(data) + 1, size - 1);
  char dest[fulltext::kIdxStrBufferSize + 16];
  std::memset(dest, 0x5A, sizeof dest);
  fulltext::MakeIdxStr(dest, src.c_str(), wildcard);
  const std::size_t len = ::strnlen(dest, sizeof dest);
  if (len >= fulltext::kIdxStrBufferSize) __builtin_trap();
  for (std::size_t i = fulltext::kIdxStrBufferSize; i < sizeof dest; ++i) {
    if (dest[i] != 0x5A) __builtin_trap();
  }
  for (std::size_t i = 0; i < len; ++i) {
    if (dest[i] >= 'a' && dest[i] <= 'z' && dest[i] != 'n' && dest[i] != 'p' && dest[i] != 's') {
      __builtin_trap();
    }
  }
  if (fulltext::MakeIdxStr(src, wildcard) != std::string(dest)) __builtin_trap();
  return 0;
}
