#include "fulltext/MakeIdxStr.h"

#include <cstring>

namespace fulltext {
namespace {

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

}  // namespace

void MakeIdxStr(char* Dest, const char* Src, bool AWildcard) {
  const auto* src = reinterpret_cast<const unsigned char*>(Src);
  const std::size_t limit = kIdxStrBufferSize - 1;
  std::size_t out = 0;
  bool cut = false;
  for (std::size_t i = 0; src[i] != 0 && !cut; ++i) {
    const unsigned char c = src[i];
    const unsigned char prev = i == 0 ? 0 : src[i - 1];
    const unsigned char next = src[i + 1];
    char piece[3];
    std::size_t n = 0;
    if (c == ' ') {
      if (next != 0 && next != ' ') piece[n++] = ' ';
    } else if (c == '*') {
      piece[n++] = AWildcard ? ' ' : '*';
    } else if (c == ',' || c == '.' || c == ':') {
      piece[n++] = 'p';
    } else if (c == '-' || c == '/' || c == '\\') {
      piece[n++] = 's';
    } else if (IsDigit(c)) {
      if (!IsDigit(prev) && !(AWildcard && prev == '*')) piece[n++] = 'n';
      piece[n++] = static_cast<char>(c);
      if (!IsDigit(next) && !(AWildcard && next == '*')) piece[n++] = 'n';
    } else if (c == 0xC4 || c == 0xE4) {
      piece[n++] = 'A', piece[n++] = 'E';
    } else if (c == 0xD6 || c == 0xF6) {
      piece[n++] = 'O', piece[n++] = 'E';
    } else if (c == 0xDC || c == 0xFC) {
      piece[n++] = 'U', piece[n++] = 'E';
    } else if (c == 0xDF) {
      piece[n++] = 'S', piece[n++] = 'S';
    } else if (c >= 'a' && c <= 'z') {
      piece[n++] = static_cast<char>(c - 'a' + 'A');
    } else {
      piece[n++] = static_cast<char>(c);
    }
    if (out + n > limit) {
      cut = true;
      break;
    }
    std::memcpy(Dest + out, piece, n);
    out += n;
  }
  if (cut && out > 0 && Dest[out - 1] == ' ') --out;
  Dest[out] = '\0';
}

std::string MakeIdxStr(std::string_view Src, bool AWildcard) {
  const std::string src(Src.substr(0, Src.find('\0')));
  char dest[kIdxStrBufferSize];
  MakeIdxStr(dest, src.c_str(), AWildcard);
  return dest;
}

}  // namespace fulltext
