#pragma once
// Key bytes by type: character keys as they are (blank-padded), numbers and
// dates as sign-adjusted big-endian doubles that sort under memcmp, bare
// integer fields as 4-byte big-endian values with the sign bit flipped.
#include <cstdint>
#include <string>
#include <string_view>

namespace xbe::cdx {

std::string EncodeDouble(double v);          // 8 bytes
void EncodeDoubleTo(double v, char* out);    // the same 8 bytes into place
std::string EncodeInt4(std::int32_t v);      // 4 bytes
bool DecodeDouble(std::string_view key, double& v);
bool DecodeInt4(std::string_view key, std::int32_t& v);
// Decimal text (blanks around, sign, point) to a double, correctly
// rounded; false when anything else is in it.
bool ParseNumber(std::string_view text, double& v);
// Readable form of a stored key, for check reports.
std::string ShowKey(std::string_view key, char type);

}  // namespace xbe::cdx
