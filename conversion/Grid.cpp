#include "Grid.h"

#include <charconv>

namespace conversion {

int TGrid::CellAsInteger(int ACol, int ARow, int ADefault) const {
  const std::string text = Cell(ACol, ARow);
  std::size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  int value = 0;
  const char* first = text.data() + b;
  const char* last = text.data() + e;
  if (first != last && *first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || ptr != last || first == last) return ADefault;
  return value;
}

}  // namespace conversion
