#include "cdx/CdxNode.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace xbe::cdx {

namespace {

bool Fail(std::string* error, std::uint32_t offset, const std::string& what) {
  if (error) *error = "node " + Hex(offset) + ": " + what;
  return false;
}

// Both run a word at a time: every insert re-encodes its leaf, so these
// two loops are the hot spot of index maintenance.
int TrailCount(std::string_view key, char fill) {
  std::size_t n = key.size();
  std::uint64_t pattern;
  std::memset(&pattern, static_cast<unsigned char>(fill), sizeof pattern);
  while (n >= 8) {
    std::uint64_t w;
    std::memcpy(&w, key.data() + n - 8, 8);
    if (w != pattern) {
      if constexpr (std::endian::native == std::endian::little)
        n -= static_cast<std::size_t>(std::countl_zero(w ^ pattern) / 8);
      else
        while (key[n - 1] == fill) --n;
      return static_cast<int>(key.size() - n);
    }
    n -= 8;
  }
  while (n > 0 && key[n - 1] == fill) --n;
  return static_cast<int>(key.size() - n);
}

int CommonPrefix(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i + 8 <= n) {
    std::uint64_t x, y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) {
      if constexpr (std::endian::native == std::endian::little)
        return static_cast<int>(i + static_cast<std::size_t>(std::countr_zero(x ^ y) / 8));
      break;
    }
    i += 8;
  }
  while (i < n && a[i] == b[i]) ++i;
  return static_cast<int>(i);
}

// Smallest entry size whose record field holds `maxRec`; 0 when none does
// without a record mask wider than 32 bits.
int EntryBytesFor(std::uint32_t maxRec, int dupTrailBits) {
  int need = std::max(1, BitLength(maxRec));
  for (int e = 1; e <= 8; ++e) {
    int rb = 8 * e - dupTrailBits;
    if (rb >= need && rb <= 32) return e;
  }
  return 0;
}

}  // namespace

void Node::Insert(std::size_t i, std::string_view key, std::uint32_t rec, std::uint32_t child) {
  const bool cached = dups.size() == Count();
  // The known pool loses what the entry now at `i` added; LeafBytes adds
  // it back, and the new key's share, once their counts are known again.
  const bool keepSizes = leaf && cached && poolBytes >= 0 && freshCount == 0 && i <= Count();
  if (keepSizes) {
    if (i < Count()) poolBytes -= keyLen - trails[i] - dups[i];
    maxRec = std::max(maxRec, rec);
    freshCount = i < Count() ? 2 : 1;
    fresh[0] = static_cast<std::uint32_t>(i);
    fresh[1] = static_cast<std::uint32_t>(i + 1);
  } else {
    poolBytes = -1;
  }
  // A node holds at most a page's worth of entries: grow by a quarter
  // rather than doubling, which would double the memory of every cached
  // node that takes one more key.
  if (recs.size() == recs.capacity()) {
    const std::size_t want = recs.size() + std::max<std::size_t>(4, recs.size() / 4);
    // A string's reserve would round up to double; a fresh one takes the
    // size asked for.
    std::string grown;
    grown.reserve(want * static_cast<std::size_t>(keyLen));
    grown.assign(keys);
    keys.swap(grown);
    recs.reserve(want);
    if (!leaf) children.reserve(want);
    if (cached) {
      dups.reserve(want);
      trails.reserve(want);
    }
  }
  {
    // The string's general insert costs more than the move itself.
    const std::size_t len = static_cast<std::size_t>(keyLen), at = i * len, old = keys.size();
    keys.resize(old + len);
    char* k = keys.data();
    std::memmove(k + at + len, k + at, old - at);
    std::memcpy(k + at, key.data(), len);
  }
  recs.insert(recs.begin() + static_cast<std::ptrdiff_t>(i), rec);
  if (!leaf) children.insert(children.begin() + static_cast<std::ptrdiff_t>(i), child);
  if (!cached) {
    dups.clear();
    trails.clear();
    return;
  }
  dups.insert(dups.begin() + static_cast<std::ptrdiff_t>(i), kUnknown);
  trails.insert(trails.begin() + static_cast<std::ptrdiff_t>(i), kUnknown);
  if (i + 1 < dups.size()) dups[i + 1] = kUnknown;  // its predecessor changed
}

void Node::Erase(std::size_t i) {
  const bool cached = dups.size() == Count();
  const bool keepSizes = leaf && cached && poolBytes >= 0 && freshCount == 0 && i < Count();
  bool highest = false;
  if (keepSizes) {
    poolBytes -= keyLen - trails[i] - dups[i];
    if (i + 1 < Count()) poolBytes -= keyLen - trails[i + 1] - dups[i + 1];
    highest = recs[i] == maxRec;
    freshCount = i + 1 < Count() ? 1 : 0;
    fresh[0] = static_cast<std::uint32_t>(i);
  } else {
    poolBytes = -1;
  }
  keys.erase(i * static_cast<std::size_t>(keyLen), static_cast<std::size_t>(keyLen));
  recs.erase(recs.begin() + static_cast<std::ptrdiff_t>(i));
  if (!leaf) children.erase(children.begin() + static_cast<std::ptrdiff_t>(i));
  if (!cached) {
    dups.clear();
    trails.clear();
    return;
  }
  dups.erase(dups.begin() + static_cast<std::ptrdiff_t>(i));
  trails.erase(trails.begin() + static_cast<std::ptrdiff_t>(i));
  if (i < dups.size()) dups[i] = kUnknown;
  if (highest) maxRec = recs.empty() ? 0 : *std::max_element(recs.begin(), recs.end());
}

int LeafEntryBytes(std::uint32_t maxRec, int keyLen) {
  return EntryBytesFor(maxRec, 2 * BitLength(static_cast<std::uint32_t>(keyLen)));
}

int PoolCost(std::string_view prev, std::string_view key, char fill) {
  int len = static_cast<int>(key.size());
  int trail = TrailCount(key, fill);
  int dup = prev.empty() ? 0 : std::min(CommonPrefix(prev, key), len - trail);
  return len - dup - trail;
}

std::string Hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

int InteriorCapacity(int keyLen) { return static_cast<int>((kPageSize - 12) / (keyLen + 8)); }

int BitLength(std::uint32_t v) { return static_cast<int>(std::bit_width(v)); }

namespace {

// Copies a key's few bytes without a call: whole words, the last one
// overlapping the one before (source and target do not overlap).
inline void CopyShort(char* d, const void* source, std::size_t n) {
  const auto* s = static_cast<const char*>(source);
  if (n >= 8) {
    std::uint64_t w;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      std::memcpy(&w, s + i, 8);
      std::memcpy(d + i, &w, 8);
    }
    if (i < n) {
      std::memcpy(&w, s + n - 8, 8);
      std::memcpy(d + n - 8, &w, 8);
    }
  } else if (n >= 4) {
    std::uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + n - 4, &b, 4);
  } else if (n > 0) {
    d[0] = s[0];
    d[n / 2] = s[n / 2];
    d[n - 1] = s[n - 1];
  }
}

}  // namespace

bool DecodeNode(const std::uint8_t* page, std::uint32_t offset, int keyLen, char fill, Node& out,
                std::string* error) {
  out = Node();
  out.offset = offset;
  out.keyLen = keyLen;
  out.attr = Get16(page);
  out.leaf = (out.attr & 2) != 0;
  out.left = Get32(page + 4);
  out.right = Get32(page + 8);
  const std::size_t count = Get16(page + 2);
  const std::size_t len = static_cast<std::size_t>(keyLen);
  if (out.attr > 7) return Fail(error, offset, "unknown node attribute " + std::to_string(out.attr));
  if (!out.leaf) {
    if (12 + count * (len + 8) > kPageSize)
      return Fail(error, offset, std::to_string(count) + " keys do not fit an interior node");
    out.keys.resize(count * len);
    out.recs.resize(count);
    out.children.resize(count);
    const std::uint8_t* p = page + 12;
    for (std::size_t i = 0; i < count; ++i, p += len + 8) {
      std::memcpy(out.keys.data() + i * len, p, len);
      out.recs[i] = Get32BE(p + len);
      out.children[i] = Get32BE(p + len + 4);
    }
    return true;
  }

  LeafLayout& lay = out.layout;
  lay.storedFree = Get16(page + 12);
  lay.recMask = Get32(page + 14);
  lay.dupMask = page[18];
  lay.trailMask = page[19];
  lay.recBits = page[20];
  lay.dupBits = page[21];
  lay.trailBits = page[22];
  lay.entryBytes = page[23];
  const int e = lay.entryBytes;
  if (e < 1 || e > 8 || lay.recBits + lay.dupBits + lay.trailBits != 8 * e || lay.recBits < 1 ||
      lay.dupBits > 16 || lay.trailBits > 16)
    return Fail(error, offset,
                "bad entry layout (E=" + std::to_string(e) + " RB=" + std::to_string(lay.recBits) +
                    " DB=" + std::to_string(lay.dupBits) + " TB=" + std::to_string(lay.trailBits) +
                    ")");
  const std::size_t entriesEnd = 24 + count * static_cast<std::size_t>(e);
  if (entriesEnd > kPageSize)
    return Fail(error, offset, std::to_string(count) + " keys do not fit a leaf");
  const std::uint64_t recMask =
      lay.recBits >= 64 ? ~0ull : ((1ull << lay.recBits) - 1);
  const std::uint64_t dupMask = (1ull << lay.dupBits) - 1;
  const std::uint64_t trailMask = (1ull << lay.trailBits) - 1;
  // Room for a few more entries: the first insert into a leaf read from
  // disk would otherwise move all its arrays to new memory, a cache miss
  // per line of keys on a large index.
  const std::size_t room = count + std::max<std::size_t>(4, count / 8);
  out.keys.reserve(room * len);
  out.recs.reserve(room);
  out.dups.reserve(room);
  out.trails.reserve(room);
  // Every key starts as fill bytes: what each entry then copies is only its
  // shared and its own bytes.
  out.keys.resize(count * len, fill);
  out.recs.resize(count);
  out.dups.resize(count);
  out.trails.resize(count);
  std::size_t pos = kPageSize;
  int poolBytes = 0;
  const std::uint64_t entryMask = e == 8 ? ~0ull : (1ull << (8 * e)) - 1;
  // Locals, not members: the key bytes written below may alias anything.
  // A field that ends at bit 64 leaves nothing for the fields after it: their
  // masks are empty, and their shifts stay below the word's width.
  const int dupShift = lay.recBits < 64 ? lay.recBits : 0;
  const int trailShift = lay.recBits + lay.dupBits < 64 ? lay.recBits + lay.dupBits : 0;
  char* keys = out.keys.data();
  std::uint32_t* recs = out.recs.data();
  std::uint8_t* dups = out.dups.data();
  std::uint8_t* trails = out.trails.data();
  std::uint32_t maxRec = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = 24 + i * static_cast<std::size_t>(e);
    const std::uint8_t* ent = page + at;
    std::uint64_t v = 0;
    if (std::endian::native == std::endian::little && at + 8 <= kPageSize) {
      std::memcpy(&v, ent, 8);  // entries are little-endian
      v &= entryMask;
    } else {
      for (int b = e - 1; b >= 0; --b) v = (v << 8) | ent[b];
    }
    const std::uint64_t rec = v & recMask;
    std::size_t dup = static_cast<std::size_t>((v >> dupShift) & dupMask);
    const std::size_t trail = static_cast<std::size_t>((v >> trailShift) & trailMask);
    if (i == 0) dup = 0;
    if (rec > 0xFFFFFFFFull) return Fail(error, offset, "record number too large");
    if (dup + trail > len)
      return Fail(error, offset, "key " + std::to_string(i + 1) + " shares more bytes than it has");
    const std::size_t fresh = len - dup - trail;
    if (pos < entriesEnd + fresh)
      return Fail(error, offset, "key pool overlaps the entries");
    pos -= fresh;
    poolBytes += static_cast<int>(fresh);
    char* key = keys + i * len;
    CopyShort(key, key - len, dup);
    CopyShort(key + dup, page + pos, fresh);
    recs[i] = static_cast<std::uint32_t>(rec);
    maxRec = std::max(maxRec, recs[i]);
    dups[i] = static_cast<std::uint8_t>(dup);
    trails[i] = static_cast<std::uint8_t>(trail);
  }
  lay.computedFree = static_cast<int>(kPageSize) - static_cast<int>(entriesEnd) - poolBytes;
  // The counts as stored are the ones a fit check goes by.
  out.poolBytes = poolBytes;
  out.maxRec = maxRec;
  return true;
}

namespace {

// Works out entry i's counts where they are not known.
inline void SettleCounts(const Node& n, std::size_t i, char fill) {
  if (n.trails[i] == Node::kUnknown) {
    n.trails[i] = static_cast<std::uint8_t>(TrailCount(n.Key(i), fill));
    n.dups[i] = Node::kUnknown;
  }
  if (i == 0)
    n.dups[i] = 0;  // the first key shares nothing
  else if (n.dups[i] == Node::kUnknown)
    n.dups[i] = static_cast<std::uint8_t>(
        std::min(CommonPrefix(n.Key(i - 1), n.Key(i)), n.keyLen - n.trails[i]));
}

}  // namespace

int LeafBytes(const Node& n, char fill) {
  // Key pool: each key less the bytes it shares with the previous one
  // (taken fully expanded) and its trailing fill, the shared part capped by
  // the key's own trail. Counts not known yet are worked out on the way.
  const std::size_t count = n.Count();
  if (n.dups.size() != count || n.trails.size() != count) {
    n.dups.assign(count, Node::kUnknown);
    n.trails.assign(count, Node::kUnknown);
    n.poolBytes = -1;
  }
  if (n.poolBytes >= 0) {
    // One insert or erase since the last count: only its entries are new.
    for (std::uint8_t k = 0; k < n.freshCount; ++k) {
      const std::size_t i = n.fresh[k];
      if (i >= count) continue;
      SettleCounts(n, i, fill);
      n.poolBytes += n.keyLen - n.trails[i] - n.dups[i];
    }
  } else {
    std::uint32_t maxRec = 0;
    int pool = 0;
    for (std::size_t i = 0; i < count; ++i) {
      SettleCounts(n, i, fill);
      maxRec = std::max(maxRec, n.recs[i]);
      pool += n.keyLen - n.trails[i] - n.dups[i];
    }
    n.poolBytes = pool;
    n.maxRec = maxRec;
  }
  n.freshCount = 0;
  const int e = EntryBytesFor(n.maxRec, 2 * BitLength(static_cast<std::uint32_t>(n.keyLen)));
  if (e == 0) return static_cast<int>(kPageSize) + 1;
  return 24 + static_cast<int>(count) * e + n.poolBytes;
}

bool NodeFits(const Node& n, char fill) {
  if (!n.leaf) return static_cast<int>(n.Count()) <= InteriorCapacity(n.keyLen);
  return LeafBytes(n, fill) <= static_cast<int>(kPageSize);
}

void FillLeafCounts(const Node& n, char fill) {
  const std::size_t count = n.Count();
  if (n.dups.size() != count || n.trails.size() != count) {
    n.dups.assign(count, Node::kUnknown);
    n.trails.assign(count, Node::kUnknown);
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (n.trails[i] == Node::kUnknown) {
      n.trails[i] = static_cast<std::uint8_t>(TrailCount(n.Key(i), fill));
      n.dups[i] = Node::kUnknown;
    }
    if (n.dups[i] == Node::kUnknown)
      n.dups[i] = static_cast<std::uint8_t>(
          i == 0 ? 0 : std::min(CommonPrefix(n.Key(i - 1), n.Key(i)), n.keyLen - n.trails[i]));
  }
  if (count > 0) n.dups[0] = 0;
}

bool EncodeNode(const Node& n, char fill, std::uint8_t* page) {
  const std::size_t len = static_cast<std::size_t>(n.keyLen);
  const std::size_t count = n.Count();
  if (!n.leaf) {
    if (static_cast<int>(count) > InteriorCapacity(n.keyLen)) return false;
    std::memset(page, 0, kPageSize);
    Put16(page, n.IsRoot() ? 1 : 0);
    Put16(page + 2, static_cast<std::uint32_t>(count));
    Put32(page + 4, n.left);
    Put32(page + 8, n.right);
    std::uint8_t* p = page + 12;
    for (std::size_t i = 0; i < count; ++i, p += len + 8) {
      std::memcpy(p, n.Key(i).data(), len);
      Put32BE(p + len, n.recs[i]);
      Put32BE(p + len + 4, n.children[i]);
    }
    return true;
  }
  // Even one-byte entries leave room for at most 488 keys.
  if (count > kPageSize - 24) return false;
  if (n.dups.size() != count || n.trails.size() != count) {
    n.dups.assign(count, Node::kUnknown);
    n.trails.assign(count, Node::kUnknown);
  }
  std::uint8_t* dups = n.dups.data();
  std::uint8_t* trails = n.trails.data();
  std::uint32_t maxRec = 0;
  int pool = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (trails[i] == Node::kUnknown) {
      trails[i] = static_cast<std::uint8_t>(TrailCount(n.Key(i), fill));
      dups[i] = Node::kUnknown;
    }
    if (dups[i] == Node::kUnknown) {
      const int trail = trails[i];
      dups[i] = static_cast<std::uint8_t>(
          i == 0 ? 0 : std::min(CommonPrefix(n.Key(i - 1), n.Key(i)), n.keyLen - trail));
    }
    if (i == 0) dups[0] = 0;
    pool += n.keyLen - dups[i] - trails[i];
    maxRec = std::max(maxRec, n.recs[i]);
  }
  const int bits = BitLength(static_cast<std::uint32_t>(n.keyLen));
  const int e = EntryBytesFor(maxRec, 2 * bits);
  if (e == 0) return false;
  const int used = 24 + static_cast<int>(count) * e + pool;
  if (used > static_cast<int>(kPageSize)) return false;
  const int rb = 8 * e - 2 * bits;
  Put16(page, n.IsRoot() ? 3 : 2);
  Put16(page + 2, static_cast<std::uint32_t>(count));
  Put32(page + 4, n.left);
  Put32(page + 8, n.right);
  Put16(page + 12, kPageSize - static_cast<std::uint32_t>(used));
  Put32(page + 14, rb >= 32 ? 0xFFFFFFFFu : ((1u << rb) - 1));
  page[18] = static_cast<std::uint8_t>((1u << bits) - 1);
  page[19] = static_cast<std::uint8_t>((1u << bits) - 1);
  page[20] = static_cast<std::uint8_t>(rb);
  page[21] = static_cast<std::uint8_t>(bits);
  page[22] = static_cast<std::uint8_t>(bits);
  page[23] = static_cast<std::uint8_t>(e);
  std::size_t pos = kPageSize;
  std::uint8_t* ent = page + 24;
  for (std::size_t i = 0; i < count; ++i, ent += e) {
    const std::size_t dup = dups[i], trail = trails[i];
    const std::size_t fresh = len - dup - trail;
    pos -= fresh;
    std::memcpy(page + pos, n.Key(i).data() + dup, fresh);
    std::uint64_t v = n.recs[i] | (static_cast<std::uint64_t>(dup) << rb) |
                      (static_cast<std::uint64_t>(trail) << (rb + bits));
    for (int b = 0; b < e; ++b) ent[b] = static_cast<std::uint8_t>(v >> (8 * b));
  }
  std::memset(ent, 0, pos - static_cast<std::size_t>(ent - page));  // the gap
  return true;
}

}  // namespace xbe::cdx
