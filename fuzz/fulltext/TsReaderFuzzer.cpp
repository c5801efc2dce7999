// Arbitrary bytes as an index file: decode, then search and change what was
// read. Must never crash, leak or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Crc32.h"
#include "TsFormat.h"
#include "WordIndex.h"

namespace {

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Random bytes almost never pass the checksums; with them set right, the
// fuzzer reaches the parsing and replay behind them.
std::string WithChecksums(std::string s) {
  if (s.size() < fts::kHeaderSize) return s;
  std::uint64_t baseSize = 0;
  for (int i = 7; i >= 0; --i) baseSize = (baseSize << 8) | static_cast<unsigned char>(s[24 + i]);
  if (baseSize > s.size() - fts::kHeaderSize) return s;
  Put32(s, 32, fts::Crc32(std::string_view(s).substr(fts::kHeaderSize, baseSize)));
  Put32(s, 60, fts::Crc32(std::string_view(s).substr(0, 60)));
  std::size_t at = fts::kHeaderSize + baseSize;
  while (s.size() - at >= fts::kRecordHeaderSize) {
    const std::size_t len = static_cast<unsigned char>(s[at + 9]) |
                            (static_cast<std::size_t>(static_cast<unsigned char>(s[at + 10])) << 8);
    if (len > s.size() - at - fts::kRecordHeaderSize) break;
    Put32(s, at, fts::Crc32(std::string_view(s).substr(at + 4, fts::kRecordHeaderSize - 4 + len)));
    at += fts::kRecordHeaderSize + len;
  }
  return s;
}

void Exercise(std::string_view bytes) {
  const std::size_t size = bytes.size();
  fts::Decoded d;
  if (!fts::DecodeFile(bytes, d, nullptr)) return;
  // Dump: every entry must be in range.
  std::size_t total = 0;
  for (std::size_t i = 0; i < d.entries.Count(); ++i) total += d.entries.Text(i).size();
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
      const std::string first(d.entries.Text(0));
      const auto hits = words.Find(first.substr(0, 3), static_cast<fts::SearchKind>(kind));
      (void)fts::TextMatches(first, tail, static_cast<fts::SearchKind>(kind), caseSensitive);
      (void)hits;
    }
  }
  // Re-encoding what was read must decode to the same entries.
  const std::string again = fts::EncodeFile(d.entries, d.header.flags, d.header.sizeHint);
  fts::Decoded d2;
  if (!fts::DecodeFile(again, d2, nullptr) || !(d2.entries == d.entries)) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  Exercise(raw);
  Exercise(WithChecksums(raw));
  return 0;
}
