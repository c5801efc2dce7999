#pragma once
// CRC-32 (IEEE 802.3, reflected, as zlib computes it): guards the header, the
// base section and every change record of an index file.
#include <cstdint>
#include <string_view>

namespace fts {

std::uint32_t Crc32(std::string_view data);

}  // namespace fts
