#include "Crc32.h"

#include <array>

namespace fts {
namespace {

using Table = std::array<std::uint32_t, 256>;

// kTables[0] is the classic byte-at-a-time table; kTables[k] advances a byte
// through k further zero bytes, so eight bytes are folded in per step.
constexpr std::array<Table, 8> MakeTables() {
  std::array<Table, 8> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (std::size_t k = 1; k < 8; ++k)
    for (std::uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

constexpr auto kTables = MakeTables();

std::uint32_t Le32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

}  // namespace

std::uint32_t Crc32(std::string_view data) {
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t n = data.size();
  std::uint32_t c = 0xFFFFFFFFu;
  for (; n >= 8; p += 8, n -= 8) {
    const std::uint32_t one = Le32(p) ^ c;
    const std::uint32_t two = Le32(p + 4);
    c = kTables[7][one & 0xFF] ^ kTables[6][(one >> 8) & 0xFF] ^ kTables[5][(one >> 16) & 0xFF] ^
        kTables[4][one >> 24] ^ kTables[3][two & 0xFF] ^ kTables[2][(two >> 8) & 0xFF] ^
        kTables[1][(two >> 16) & 0xFF] ^ kTables[0][two >> 24];
  }
  for (; n > 0; ++p, --n) c = kTables[0][(c ^ *p) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

}  // namespace fts
