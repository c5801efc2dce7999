// Arbitrary bytes as an index file: decode, then search and change what was
// read. Must never crash, leak or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "TsFormat.h"
#include "WordIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  fts::Decoded d;
  if (!fts::DecodeFile(bytes, d, nullptr)) return 0;
  // Dump: every entry must be in range.
  std::size_t total = 0;
  for (std::size_t i = 0; i < d.entries.Count(); ++i) total += d.entries.text[i].size();
  (void)total;
  const bool caseSensitive = (d.header.flags & fts::kFlagCaseSensitive) != 0;
  fts::WordIndex words(caseSensitive);
  words.Build(d.entries);
  // Queries from the entries themselves and from the file's last bytes.
  const std::string tail(bytes.substr(size > 16 ? size - 16 : 0));
  for (int kind = 1; kind <= 4; ++kind) {
    for (const auto& r : words.Find(tail, static_cast<fts::SearchKind>(kind))) {
      if (r < 1 || r > d.entries.Count()) __builtin_trap();
    }
    if (d.entries.Count() > 0) {
      const std::string& first = d.entries.text[0];
      const auto hits = words.Find(first.substr(0, 3), static_cast<fts::SearchKind>(kind));
      (void)fts::TextMatches(first, tail, static_cast<fts::SearchKind>(kind), caseSensitive);
      (void)hits;
    }
  }
  // Re-encoding what was read must decode to the same entries.
  const std::string again = fts::EncodeFile(d.entries, d.header.flags, d.header.sizeHint);
  fts::Decoded d2;
  if (!fts::DecodeFile(again, d2, nullptr) || d2.entries.text != d.entries.text ||
      d2.entries.deleted != d.entries.deleted) {
    __builtin_trap();
  }
  return 0;
}
