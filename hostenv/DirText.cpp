#include "hostenv/DirText.h"

#include "platform/Paths.h"

namespace hostenv {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::string TrimText(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 0x20) --e;
  return std::string(text.substr(b, e - b));
}

std::string AddBackslash(std::string_view text) {
  std::string s = TrimText(text);
  if (s.empty() || !IsSeparator(s.back())) s += platform::kPathSep;
  return s;
}

std::string DelBackslash(std::string_view text) {
  std::string s = TrimText(text);
  if (s.size() > 1 && IsSeparator(s.back())) s.pop_back();
  return s;
}

}  // namespace hostenv
