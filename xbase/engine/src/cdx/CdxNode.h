#pragma once
// One 512-byte node of a compact B+-tree, decoded.
//
//   interior node                    leaf node ("compact")
//   +0  attr   u16 LE (bit 0 root)   +0  attr   u16 LE (bit 1 leaf, bit 0 root)
//   +2  count  u16 LE                +2  count  u16 LE
//   +4  left   u32 LE (-1 = none)    +4  left / +8 right as interior
//   +8  right  u32 LE                +12 free bytes u16 LE
//   +12 count x [key L bytes,        +14 record mask u32, +18 dup mask u8,
//        recno u32 BE,               +19 trail mask u8, +20 RB, +21 DB,
//        child u32 BE]               +22 TB, +23 E (bytes per entry)
//                                    +24 count x E-byte LE entries:
//                                        recno | dup << RB | trail << (RB+DB)
//                                    ... gap ...
//                                    key pool, packed down from byte 511
//
// An interior entry carries the last (key, recno) of its child's subtree.
// Leaf keys drop the bytes shared with the previous (fully expanded) key and
// their trailing fill bytes (blank for character keys, 0 otherwise).
#include <bit>
#include <cstdint>
#include <cstring>
#if defined(_MSC_VER)
#include <stdlib.h>
#endif
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "Prefetch.h"

namespace xbe::cdx {

constexpr std::uint32_t kPageSize = 512;
constexpr std::uint32_t kNoPage = 0xFFFFFFFFu;
constexpr int kMaxKeyLength = 240;

inline std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint32_t Get32BE(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put32BE(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// How a leaf was laid out on disk; Check compares it with the rules.
struct LeafLayout {
  int entryBytes = 0, recBits = 0, dupBits = 0, trailBits = 0;
  std::uint32_t recMask = 0;
  std::uint8_t dupMask = 0, trailMask = 0;
  int storedFree = 0, computedFree = 0;
};

struct Node {
  std::uint32_t offset = 0;
  std::uint16_t attr = 0;
  bool leaf = true;
  std::uint32_t left = kNoPage, right = kNoPage;
  int keyLen = 0;
  std::string keys;                     // Count() * keyLen bytes
  std::vector<std::uint32_t> recs;
  std::vector<std::uint32_t> children;  // interior nodes only
  LeafLayout layout;                    // leaves as read from disk
  // Leaves: each key's dup and trail counts as last encoded, so that a
  // change re-examines only the keys next to it. kUnknown = work it out.
  static constexpr std::uint8_t kUnknown = 0xFF;
  mutable std::vector<std::uint8_t> dups, trails;
  // Leaves: the key pool's bytes and the highest record number as LeafBytes
  // last found them, carried across one Insert or Erase (whose own entries
  // wait in `fresh`), so that a fit check after a single change looks at
  // the keys next to it only. poolBytes < 0: unknown, worked out anew.
  // Whoever changes keys, records or counts other than through Insert and
  // Erase calls ForgetSizes.
  mutable int poolBytes = -1;
  mutable std::uint32_t maxRec = 0;
  mutable std::uint8_t freshCount = 0;
  mutable std::uint32_t fresh[2] = {0, 0};
  void ForgetSizes() const { poolBytes = -1; }

  std::size_t Count() const { return recs.size(); }
  std::string_view Key(std::size_t i) const {
    return std::string_view(keys.data() + i * static_cast<std::size_t>(keyLen),
                            static_cast<std::size_t>(keyLen));
  }
  // No entries, keeping the allocations.
  void ClearEntries() {
    keys.clear();
    recs.clear();
    children.clear();
    dups.clear();
    trails.clear();
  }
  bool IsRoot() const { return (attr & 1) != 0; }
  void Insert(std::size_t i, std::string_view key, std::uint32_t rec, std::uint32_t child = 0);
  void Erase(std::size_t i);
};

// A counted reference to a decoded node, as the node cache and the trees
// hold them. The count is a plain integer, not an atomic one: an index file
// and its nodes belong to one work area, which one thread uses at a time,
// and a locked instruction at every step of every descent showed in the
// cost of an edit.
struct NodeBox {
  template <class... A>
  explicit NodeBox(A&&... a) : node(std::forward<A>(a)...) {}
  Node node;
  std::uint32_t refs = 1;
};

template <class T>  // Node or const Node
class NodePtr {
  using Box = NodeBox;

 public:
  NodePtr() = default;
  NodePtr(std::nullptr_t) {}
  NodePtr(const NodePtr& o) : box_(o.box_) { Retain(); }
  NodePtr(NodePtr&& o) noexcept : box_(o.box_) { o.box_ = nullptr; }
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  NodePtr(const NodePtr<U>& o) : box_(o.box_) {
    Retain();
  }
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  NodePtr(NodePtr<U>&& o) noexcept : box_(o.box_) {
    o.box_ = nullptr;
  }
  ~NodePtr() { Release(); }
  NodePtr& operator=(const NodePtr& o) {
    NodePtr(o).swap(*this);
    return *this;
  }
  NodePtr& operator=(NodePtr&& o) noexcept {
    NodePtr(std::move(o)).swap(*this);
    return *this;
  }
  void swap(NodePtr& o) noexcept { std::swap(box_, o.box_); }
  void reset() { NodePtr().swap(*this); }

  T* get() const { return box_ ? &box_->node : nullptr; }
  T& operator*() const { return box_->node; }
  T* operator->() const { return &box_->node; }
  explicit operator bool() const { return box_ != nullptr; }

  template <class... A>
  static NodePtr Make(A&&... a) {
    NodePtr p;
    p.box_ = new Box(std::forward<A>(a)...);
    return p;
  }

 private:
  template <class>
  friend class NodePtr;
  friend NodePtr<Node> ConstCast(const NodePtr<const Node>& p);
  void Retain() const {
    if (box_) ++box_->refs;
  }
  void Release() {
    if (box_ && --box_->refs == 0) delete box_;
  }
  Box* box_ = nullptr;
};

template <class... A>
NodePtr<Node> MakeNode(A&&... a) {
  return NodePtr<Node>::Make(std::forward<A>(a)...);
}

// The store creates every node it hands out as a mutable object.
inline NodePtr<Node> ConstCast(const NodePtr<const Node>& p) {
  NodePtr<Node> q;
  q.box_ = p.box_;
  q.Retain();
  return q;
}

// Unsigned byte order of two keys (the shorter first when one is the
// other's beginning): -1, 0 or 1. Eight bytes at a time, inline: every step
// of every search compares keys, most of them a few bytes long.
inline int CompareKeys(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  const char* p = a.data();
  const char* q = b.data();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t x, y;
    std::memcpy(&x, p + i, 8);
    std::memcpy(&y, q + i, 8);
    if (x != y) {
      if constexpr (std::endian::native == std::endian::little) {
#if defined(_MSC_VER)
        x = _byteswap_uint64(x);
        y = _byteswap_uint64(y);
#else
        x = __builtin_bswap64(x);
        y = __builtin_bswap64(y);
#endif
      }
      return x < y ? -1 : 1;
    }
  }
  for (; i < n; ++i) {
    const auto x = static_cast<unsigned char>(p[i]), y = static_cast<unsigned char>(q[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// (key, recno) order: unsigned bytes, then record number.
inline int CompareEntry(std::string_view a, std::uint32_t ra, std::string_view b,
                        std::uint32_t rb) {
  if (int c = CompareKeys(a, b)) return c;
  return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

// A page offset as messages show it: 0x and hexadecimal digits.
std::string Hex(std::uint32_t offset);

int InteriorCapacity(int keyLen);
int BitLength(std::uint32_t v);

// Decodes the page at `offset`. False with *error on any field that does
// not fit the page or the key length; never reads outside `page`.
bool DecodeNode(const std::uint8_t* page, std::uint32_t offset, int keyLen, char fill, Node& out,
                std::string* error);

// Entry size (E) a leaf needs for record numbers up to `maxRec`; 0 when
// none fits a 32-bit record mask.
int LeafEntryBytes(std::uint32_t maxRec, int keyLen);
// Key-pool bytes `key` takes after `prev` (empty for a node's first key).
int PoolCost(std::string_view prev, std::string_view key, char fill);

// Fills the leaf's dup and trail counts where they are not known.
void FillLeafCounts(const Node& n, char fill);

// Bytes a leaf with these entries needs, 24-byte header included.
int LeafBytes(const Node& n, char fill);
bool NodeFits(const Node& n, char fill);
// Encodes `n` (root flag from n.attr) into a zeroed page. False when it
// does not fit.
bool EncodeNode(const Node& n, char fill, std::uint8_t* page);

}  // namespace xbe::cdx
