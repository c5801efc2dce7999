#include "ntx/NtxPage.h"

#include <cstring>

#include "expr/Format.h"

namespace xbe::ntx {
namespace {

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::string CText(const std::uint8_t* p, std::size_t max) {
  std::size_t n = 0;
  while (n < max && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

void PutCText(std::uint8_t* p, std::size_t max, const std::string& s) {
  std::memset(p, 0, max);
  std::memcpy(p, s.data(), std::min(s.size(), max - 1));
}

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// Bits other writers use for variants (page numbers instead of offsets,
// several orders in one file, partial indexes) that this code cannot read.
constexpr std::uint16_t kKnownFlags = 0x0001 | 0x0002 | 0x0004 | 0x0010 | 0x0020;

std::size_t SlotTableEnd(int maxKeys) { return 2 + 2 * static_cast<std::size_t>(maxKeys + 1); }

}  // namespace

int MaxKeysFor(int keyLength) {
  int max = 1022 / (keyLength + 10) - 1;
  if (max % 2 != 0) --max;
  return max;
}

bool DecodeHeader(const std::uint8_t* p, std::uint64_t fileSize, Header& h, std::string* error) {
  h.flags = U16(p);
  h.version = U16(p + 2);
  h.root = U32(p + 4);
  h.freeHead = U32(p + 8);
  const std::uint16_t itemSize = U16(p + 12);
  h.keyLength = U16(p + 14);
  h.decimals = U16(p + 16);
  h.maxKeys = U16(p + 18);
  h.halfPage = U16(p + 20);
  h.keyExpr = CText(p + 22, 256);
  h.unique = p[278] != 0;
  h.descending = p[280] != 0;
  h.forExpr = CText(p + 282, 256);
  h.name = CText(p + 538, 12);
  if ((h.flags & ~kKnownFlags) != 0 || (h.flags & 0x0006) == 0)
    return Fail(error, "not an NTX index or an unsupported variant (flags " + std::to_string(h.flags) + ")");
  if (h.keyLength < 1 || h.keyLength > kMaxKeyLength || itemSize != h.keyLength + 8)
    return Fail(error, "damaged NTX header: key length " + std::to_string(h.keyLength));
  if (h.decimals > h.keyLength) return Fail(error, "damaged NTX header: key decimals");
  if (h.maxKeys < 2 ||
      SlotTableEnd(h.maxKeys) + static_cast<std::size_t>(h.maxKeys + 1) * itemSize > kPageSize)
    return Fail(error, "damaged NTX header: keys per page " + std::to_string(h.maxKeys));
  if (h.root < kPageSize || h.root % kPageSize != 0 || std::uint64_t(h.root) + kPageSize > fileSize)
    return Fail(error, "damaged NTX header: root page offset " + std::to_string(h.root));
  if (h.keyExpr.empty()) return Fail(error, "damaged NTX header: no key expression");
  return true;
}

void EncodeHeader(const Header& h, std::uint8_t* p) {
  Put16(p, h.flags);
  Put16(p + 2, h.version);
  Put32(p + 4, h.root);
  Put32(p + 8, h.freeHead);
  Put16(p + 12, h.keyLength + 8u);
  Put16(p + 14, h.keyLength);
  Put16(p + 16, h.decimals);
  Put16(p + 18, h.maxKeys);
  Put16(p + 20, h.halfPage);
  PutCText(p + 22, 256, h.keyExpr);
  p[278] = h.unique ? 1 : 0;
  p[280] = h.descending ? 1 : 0;
  PutCText(p + 282, 256, h.forExpr);
  PutCText(p + 538, 12, h.name);
}

bool DecodePage(const std::uint8_t* raw, const Header& h, Page& out, std::string* error) {
  const int k = U16(raw);
  if (k > h.maxKeys) return Fail(error, "key count " + std::to_string(k) + " above the page maximum");
  const std::size_t itemSize = h.keyLength + 8u;
  out.keys.resize(static_cast<std::size_t>(k));
  out.kids.resize(static_cast<std::size_t>(k) + 1);
  for (int i = 0; i <= k; ++i) {
    const std::size_t off = U16(raw + 2 + 2 * i);
    if (off < 2 || off + itemSize > kPageSize) return Fail(error, "item offset out of the page");
    out.kids[static_cast<std::size_t>(i)] = U32(raw + off);
    if (i < k) {
      Entry& e = out.keys[static_cast<std::size_t>(i)];
      e.recno = U32(raw + off + 4);
      e.key.assign(reinterpret_cast<const char*>(raw + off + 8), h.keyLength);
    }
  }
  const bool leaf = out.kids[0] == 0;
  for (std::uint32_t c : out.kids)
    if ((c == 0) != leaf) return Fail(error, "page mixes leaf and branch items");
  return true;
}

void EncodePage(const Page& page, const Header& h, std::uint8_t* raw) {
  std::memset(raw, 0, kPageSize);
  const std::size_t itemSize = h.keyLength + 8u;
  const std::size_t base = SlotTableEnd(h.maxKeys);
  Put16(raw, static_cast<std::uint32_t>(page.keys.size()));
  for (std::size_t i = 0; i <= static_cast<std::size_t>(h.maxKeys); ++i)
    Put16(raw + 2 + 2 * i, static_cast<std::uint32_t>(base + i * itemSize));
  for (std::size_t i = 0; i <= page.keys.size(); ++i) {
    std::uint8_t* item = raw + base + i * itemSize;
    Put32(item, i < page.kids.size() ? page.kids[i] : 0);
    if (i < page.keys.size()) {
      Put32(item + 4, page.keys[i].recno);
      std::memcpy(item + 8, page.keys[i].key.data(), std::min<std::size_t>(page.keys[i].key.size(), h.keyLength));
    }
  }
}

void EncodeFreePage(std::uint32_t next, const Header& h, std::uint8_t* raw) {
  Page empty;
  empty.kids.push_back(next);
  EncodePage(empty, h, raw);
}

bool FreePageLink(const std::uint8_t* raw, const Header& h, std::uint32_t& next) {
  const std::size_t off = U16(raw + 2);
  if (off < 2 || off + h.keyLength + 8u > kPageSize) return false;
  next = U32(raw + off);
  return true;
}

std::string NumericKey(double v, int keyLength, int decimals) {
  std::string s = expr::FormatStr(v, keyLength, decimals);
  bool negative = false;
  for (char& c : s) {
    if (c == ' ') c = '0';
    else if (c == '-') {
      c = '0';
      negative = true;
    }
  }
  if (negative)
    for (char& c : s)
      if (c >= '0' && c <= '9') c = static_cast<char>(0x2C - (c - '0'));
  return s;
}

}  // namespace xbe::ntx
