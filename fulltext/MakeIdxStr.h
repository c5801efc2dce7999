#pragma once
// The index text of a label: upper case, German umlauts spelt out, each run
// of digits enclosed in "n" markers, the punctuation of numbers and dates
// turned into letters, runs of blanks shrunk to one and trailing blanks
// dropped, so that "19" never matches inside "190" and "1.200,50" stays one
// searchable word. Works on Windows-1252 bytes, as the tables store them.
#include <cstddef>
#include <string>
#include <string_view>

namespace fulltext {

inline constexpr std::size_t kIdxStrBufferSize = 1024;

// Writes the NUL-ended index text of the NUL-ended `Src` into `Dest`, which
// holds kIdxStrBufferSize bytes. With `AWildcard` a "*" becomes a blank and
// does not close or open a digit run (for queries), else it stays a "*".
// A text whose index text would not fit ends before the first source
// character whose whole rendering (up to three bytes) no longer fits, and
// loses a blank it would then end with.
void MakeIdxStr(char* Dest, const char* Src, bool AWildcard);

// The same for a text that may hold NUL bytes (the text ends at the first).
std::string MakeIdxStr(std::string_view Src, bool AWildcard);

}  // namespace fulltext
