#pragma once
// NTX file layout.
//
//   +------------+------------+------------+-----
//   | header     | page       | page       | ...      every page 1024 bytes,
//   | (page 0)   |            |            |          pointers are byte offsets,
//   +------------+------------+------------+-----     integers little-endian
//
// Header (offset 0):
//   0  u16  flags: 0x0006 normal, | 0x0001 with FOR condition (0x0003 older)
//   2  u16  update counter, raised on every header write
//   4  u32  root page offset
//   8  u32  first free page offset, 0 = none
//  12  u16  item size = key length + 8
//  14  u16  key length L
//  16  u16  key decimals (numeric keys)
//  18  u16  max keys per page
//  20  u16  half page = max / 2
//  22  256  key expression, NUL-terminated
// 278  u8   unique      280  u8  descending
// 282  256  FOR expression, NUL-terminated
// 538  12   order name (optional)
//
// Page:
//   0  u16  key count k
//   2  u16[max+1]  in-page offsets of item slots 0..max
//   items: u32 left child (0 in leaves), u32 record number, L key bytes
// Slots 0..k-1 are the keys in order; slot k holds only the right-most
// child. The tree is a B-tree: every key is stored exactly once, leaf or
// interior. A free page keeps the next free page in slot 0's child field.
#include <cstdint>
#include <string>
#include <vector>

namespace xbe::ntx {

inline constexpr std::uint32_t kPageSize = 1024;
inline constexpr int kMaxKeyLength = 256;

struct Header {
  std::uint16_t flags = 0x0006;
  std::uint16_t version = 1;
  std::uint32_t root = 0;
  std::uint32_t freeHead = 0;
  std::uint16_t keyLength = 0;
  std::uint16_t decimals = 0;
  std::uint16_t maxKeys = 0;
  std::uint16_t halfPage = 0;
  std::string keyExpr;
  std::string forExpr;
  std::string name;
  bool unique = false;
  bool descending = false;
};

// Max keys per page for key length L: floor(1022 / (L + 10)) - 1, even.
int MaxKeysFor(int keyLength);

// False with *error when the header is damaged or of a variant this code
// does not write.
bool DecodeHeader(const std::uint8_t* page, std::uint64_t fileSize, Header& out, std::string* error);
// Writes the header fields over `page` (other bytes kept as they are).
void EncodeHeader(const Header& h, std::uint8_t* page);

struct Entry {
  std::string key;
  std::uint32_t recno = 0;
};

struct Page {
  std::vector<Entry> keys;
  std::vector<std::uint32_t> kids;  // keys.size() + 1 children, all 0 in a leaf
  bool Leaf() const { return kids.empty() || kids[0] == 0; }
};

bool DecodePage(const std::uint8_t* raw, const Header& h, Page& out, std::string* error);
void EncodePage(const Page& page, const Header& h, std::uint8_t* raw);
void EncodeFreePage(std::uint32_t next, const Header& h, std::uint8_t* raw);
// The next-free link of a free page; false when the slot table is damaged.
bool FreePageLink(const std::uint8_t* raw, const Header& h, std::uint32_t& next);

// Numeric key text: STR(v, L, dec) with leading blanks as '0'; a negative
// number has its '-' as '0' and each digit d as the byte 0x2C - d, so that
// byte order is number order.
std::string NumericKey(double v, int keyLength, int decimals);

}  // namespace xbe::ntx
