#pragma once
// Small text helpers shared by the rules, with the host's semantics.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace conversion {

// Removes leading and trailing blanks and control characters (every byte up
// to and with the blank).
std::string TrimText(std::string_view s);

// A decimal integer with optional sign, blanks around it not allowed;
// `ADefault` for anything else, an empty text or a value outside 32 bits.
std::int32_t TextToInt(std::string_view s, std::int32_t ADefault = 0);

// At least two digits: 7 -> "07", 105 -> "105".
std::string TwoDigits(int AValue);

// Every occurrence of `from` replaced by `to`, left to right.
std::string ReplaceAll(std::string s, std::string_view from, std::string_view to);

// The text of a definition file as UTF-8: a UTF-8 or UTF-16 (LE or BE)
// byte-order mark selects that encoding, otherwise Windows-1252. Bytes that
// are not valid in the selected encoding do not fail the read: invalid
// UTF-8 bytes are taken as Windows-1252, broken UTF-16 becomes U+FFFD.
std::string DecodeTextFile(std::string_view raw);

// Splits at CR LF, CR or LF. A line end after the last line does not start
// another (empty) line; an empty text has no lines.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace conversion
