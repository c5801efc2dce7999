#pragma once
// Windows-1252 <-> UTF-8. Tables, settings files and the log are
// Windows-1252; inside the program text is UTF-8.
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Every byte maps to one code point. The five bytes Windows-1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 control
// characters of the same number, as Windows converts them.
std::string Win1252ToUtf8(std::string_view ansi);

// Nullopt when the text is not valid UTF-8 or holds a character that
// Windows-1252 cannot represent.
std::optional<std::string> Utf8ToWin1252(std::string_view utf8);

// As above, but characters without a Windows-1252 form become '?'
// (invalid UTF-8 bytes are taken as Windows-1252 bytes).
std::string Utf8ToWin1252Lossy(std::string_view utf8);

// Appends the UTF-8 form of one code point (up to U+10FFFF).
void AppendUtf8(std::string& out, char32_t cp);

// ASCII-only case mapping, as the host's file names and keys use it.
std::string AsciiUpper(std::string_view s);
std::string AsciiLower(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace platform
