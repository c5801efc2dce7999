#include "cdx/CdxTree.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#if defined(_MSC_VER)
#include <stdlib.h>
#endif

namespace xbe::cdx {

namespace {

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

// Asks for a node's record numbers at once: a binary search would otherwise
// wait for each of their cache lines in turn. (The store asked for its keys
// when it handed the node out.)
inline void FetchKeys(const Node& n) {
  const std::size_t recBytes = std::min<std::size_t>(n.recs.size() * 4, 256);
  for (std::size_t at = 0; at < recBytes; at += 64)
    PrefetchLine(reinterpret_cast<const char*>(n.recs.data()) + at);
  if (!n.children.empty()) PrefetchLine(n.children.data() + n.children.size() / 2);
  // A leaf's counts of shared and trailing bytes, which a change to it
  // moves and reads next.
  if (!n.dups.empty()) {
    PrefetchLine(n.dups.data());
    PrefetchLine(n.trails.data());
  }
}

// The keys and record numbers of leaf `n` from entry `i` on, which an
// insertion or removal there moves.
inline void AskForTail(const Node& n, std::size_t i) {
  const std::size_t len = static_cast<std::size_t>(n.keyLen);
  const char* keys = n.keys.data();
  for (std::size_t at = i * len & ~std::size_t{63}; at < n.keys.size(); at += 64) PrefetchLine(keys + at);
  PrefetchLine(n.recs.data() + std::min(i, n.recs.size()));
}

// Up to the first eight bytes at `p` as a number whose order is their
// unsigned byte order: the first byte highest, missing bytes zero.
inline std::uint64_t KeyHead(const char* p, std::size_t bytes) {
  std::uint64_t v = 0;
  if (bytes >= 8) {
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little) {
#if defined(_MSC_VER)
      v = _byteswap_uint64(v);
#else
      v = __builtin_bswap64(v);
#endif
    }
    return v;
  }
  for (std::size_t i = 0; i < bytes; ++i)
    v |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (56 - 8 * i);
  return v;
}

// Index of the first entry >= (key, rec) in `n`.
std::size_t LowerIndex(const Node& n, std::string_view key, std::uint32_t rec) {
  FetchKeys(n);
  std::size_t lo = 0, hi = n.Count();
  const auto len = static_cast<std::size_t>(n.keyLen);
  if (len >= 8 && key.size() == len) {
    // The first eight bytes as one number; the rest and the record number
    // only where those are equal.
    const std::uint64_t want = KeyHead(key.data(), 8);
    const std::string_view rest = key.substr(8);
    const char* keys = n.keys.data();
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      const char* entry = keys + mid * len;
      const std::uint64_t have = KeyHead(entry, 8);
      const bool less =
          have != want ? have < want
                       : CompareEntry(std::string_view(entry + 8, len - 8), n.recs[mid], rest, rec) < 0;
      if (less)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  }
  while (lo < hi) {
    std::size_t mid = (lo + hi) / 2;
    if (CompareEntry(n.Key(mid), n.recs[mid], key, rec) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

int CompareKey(std::string_view entry, std::string_view key, bool prefix) {
  if (prefix) entry = entry.substr(0, std::min(entry.size(), key.size()));
  return CompareKeys(entry, key);
}

// Index of the first entry whose key >= key (prefix-wise when asked).
std::size_t KeyIndex(const Node& n, std::string_view key, bool prefix) {
  // The cache lines of a leaf's record numbers at once, one of which is read
  // next (an interior node's are never read here; the store asked for the
  // keys when it handed the node out).
  if (n.leaf) {
    const std::size_t recBytes = std::min<std::size_t>(n.recs.size() * 4, 256);
    for (std::size_t at = 0; at < recBytes; at += 64)
      PrefetchLine(reinterpret_cast<const char*>(n.recs.data()) + at);
  }
  std::size_t lo = 0, hi = n.Count();
  const auto len = static_cast<std::size_t>(n.keyLen);
  const std::size_t m = key.size();
  if (m > len || (!prefix && m != len)) {
    // A key of another length than the tree's (no caller of this engine
    // makes one): byte by byte.
    while (lo < hi) {
      std::size_t mid = (lo + hi) / 2;
      if (CompareKey(n.Key(mid), key, prefix) < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  }
  // Either way the first m bytes of each entry are compared with the key:
  // the first eight of them as one number, the rest only when those match.
  const std::size_t head = std::min<std::size_t>(m, 8);
  const std::uint64_t mask = head == 8 ? ~std::uint64_t{0} : ~(~std::uint64_t{0} >> (8 * head));
  const std::uint64_t want = KeyHead(key.data(), head);
  const std::string_view wantRest = key.substr(head);
  const char* keys = n.keys.data();
  if (wantRest.empty() && len >= 8) {
    // Numbers, dates and short prefixes: one comparison of numbers a step.
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      if ((KeyHead(keys + mid * len, 8) & mask) < want)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  }
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    const char* entry = keys + mid * len;
    const std::uint64_t have = (len >= 8 ? KeyHead(entry, 8) : KeyHead(entry, head)) & mask;
    const bool less = have < want ||
                      (have == want && !wantRest.empty() &&
                       CompareKeys(std::string_view(entry + head, m - head), wantRest) < 0);
    if (less)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

Node Slice(const Node& n, std::size_t from, std::size_t to) {
  Node s;
  s.leaf = n.leaf;
  s.keyLen = n.keyLen;
  s.attr = n.leaf ? 2 : 0;
  const std::size_t len = static_cast<std::size_t>(n.keyLen);
  s.keys = n.keys.substr(from * len, (to - from) * len);
  s.recs.assign(n.recs.begin() + static_cast<std::ptrdiff_t>(from),
                n.recs.begin() + static_cast<std::ptrdiff_t>(to));
  if (!n.leaf)
    s.children.assign(n.children.begin() + static_cast<std::ptrdiff_t>(from),
                      n.children.begin() + static_cast<std::ptrdiff_t>(to));
  if (n.leaf && n.dups.size() == n.Count() && n.trails.size() == n.Count()) {
    // The counts stay right inside the slice; its first key shares nothing.
    s.dups.assign(n.dups.begin() + static_cast<std::ptrdiff_t>(from),
                  n.dups.begin() + static_cast<std::ptrdiff_t>(to));
    s.trails.assign(n.trails.begin() + static_cast<std::ptrdiff_t>(from),
                    n.trails.begin() + static_cast<std::ptrdiff_t>(to));
    if (!s.dups.empty()) s.dups[0] = 0;
  }
  return s;
}

// Split point that lets both halves fit, as close to the middle as
// possible; with `packLeft` (keys arriving in ascending order at the right
// edge, as appends do) the left node is filled instead, so that such a
// tree ends up with full pages. Leaf sizes come from running sums of each
// entry's pool bytes, so every candidate costs the same few steps.
std::size_t SplitPoint(const Node& n, char fill, bool packLeft) {
  const std::size_t count = n.Count();
  if (count < 2) return 0;
  std::function<bool(std::size_t)> fits;
  std::vector<int> pool;                   // pool[k]: pool bytes of entries [0, k)
  std::vector<std::uint32_t> maxLeft, maxRight;
  const int page = static_cast<int>(kPageSize);
  if (n.leaf) {
    FillLeafCounts(n, fill);
    pool.assign(count + 1, 0);
    maxLeft.assign(count + 1, 0);
    maxRight.assign(count + 1, 0);
    for (std::size_t i = 0; i < count; ++i) {
      pool[i + 1] = pool[i] + n.keyLen - n.dups[i] - n.trails[i];
      maxLeft[i + 1] = std::max(maxLeft[i], n.recs[i]);
    }
    for (std::size_t i = count; i-- > 0;) maxRight[i] = std::max(maxRight[i + 1], n.recs[i]);
    fits = [&](std::size_t k) {
      const int el = LeafEntryBytes(maxLeft[k], n.keyLen);
      const int er = LeafEntryBytes(maxRight[k], n.keyLen);
      if (el == 0 || er == 0) return false;
      const int left = 24 + static_cast<int>(k) * el + pool[k];
      // The right half's first key is stored whole (less its trail).
      const int right = 24 + static_cast<int>(count - k) * er + (n.keyLen - n.trails[k]) +
                        (pool[count] - pool[k + 1]);
      return left <= page && right <= page;
    };
  } else {
    const auto cap = static_cast<std::size_t>(InteriorCapacity(n.keyLen));
    fits = [cap, count](std::size_t k) { return k <= cap && count - k <= cap; };
  }
  if (packLeft) {
    // The largest left part that fits, if the rest fits too.
    for (std::size_t k = count - 1; k >= 1; --k) {
      bool leftFits;
      if (n.leaf) {
        const int el = LeafEntryBytes(maxLeft[k], n.keyLen);
        leftFits = el != 0 && 24 + static_cast<int>(k) * el + pool[k] <= page;
      } else {
        leftFits = k <= static_cast<std::size_t>(InteriorCapacity(n.keyLen));
      }
      if (leftFits) {
        if (fits(k)) return k;
        break;
      }
    }
  }
  for (std::size_t d = 0; d < count; ++d) {
    for (int sign : {1, -1}) {
      std::ptrdiff_t k = static_cast<std::ptrdiff_t>(count / 2) + sign * static_cast<std::ptrdiff_t>(d);
      if (k < 1 || k >= static_cast<std::ptrdiff_t>(count)) continue;
      if (fits(static_cast<std::size_t>(k))) return static_cast<std::size_t>(k);
    }
  }
  return 0;
}

}  // namespace

// Both run at every level of every descent: as calls of their own they
// cost a descent about a fifth more, so they are always inlined.
[[gnu::always_inline]] inline Tree::Level Tree::LoadLevel(int depth, std::uint32_t offset,
                                                         NodePtr<const Node>& node,
                                                         std::string* error, bool asked) {
  if (depth > kMaxDepth) {
    Fail(error, "tree deeper than " + std::to_string(kMaxDepth) + " levels (a loop between nodes)");
    return Level::Failed;
  }
  node = store_.Load(offset, keyLen_, fill_, error, asked);
  return node ? Level::Down : Level::Failed;
}

[[gnu::always_inline]] inline Tree::Level Tree::SearchLevel(NodePtr<const Node>&& node,
                                                           std::string_view key, std::uint32_t rec,
                                                           std::vector<Step>& path,
                                                           std::uint32_t& offset,
                                                           std::string* error) {
  std::size_t i = LowerIndex(*node, key, rec);
  if (node->leaf) {
    path.push_back({std::move(node), i, nullptr});
    return Level::Leaf;
  }
  if (node->Count() == 0) {
    Fail(error, "interior node " + Hex(offset) + " has no keys");
    return Level::Failed;
  }
  if (i == node->Count()) i = node->Count() - 1;
  offset = node->children[i];
  path.push_back({std::move(node), i, nullptr});
  return Level::Down;
}

bool Tree::Descend(std::string_view key, std::uint32_t rec, std::vector<Step>& path,
                   std::string* error) {
  path.clear();
  std::uint32_t offset = root_;
  for (int depth = 0;; ++depth) {
    NodePtr<const Node> node;
    if (LoadLevel(depth, offset, node, error) == Level::Failed) return false;
    const Level next = SearchLevel(std::move(node), key, rec, path, offset, error);
    if (next != Level::Down) return next == Level::Leaf;
  }
}

bool Tree::Relink(std::uint32_t offset, bool leftPointer, std::uint32_t to, std::string* error) {
  auto sib = LoadNode(offset, error);
  if (!sib) return false;
  Node copy = *sib;
  (leftPointer ? copy.left : copy.right) = to;
  return store_.WriteNode(std::move(copy), fill_, error);
}

bool Tree::Propagate(std::vector<Step>& path, std::string* error) {
  for (std::size_t level = path.size() - 1;; --level) {
    Node& cur = path[level].Mut();
    if (level == 0) return FixRoot(cur, path[0].index, error);
    cur.attr = cur.leaf ? 2 : 0;
    struct Repl {
      std::string key;
      std::uint32_t rec, child;
    };
    std::vector<Repl> repl;
    if (cur.Count() == 0) {
      if (cur.left != kNoPage && !Relink(cur.left, false, cur.right, error)) return false;
      if (cur.right != kNoPage && !Relink(cur.right, true, cur.left, error)) return false;
      if (!store_.FreePage(cur.offset, error)) return false;
    } else if (Repl last{std::string(cur.Key(cur.Count() - 1)), cur.recs.back(), cur.offset};
               store_.TryWriteNode(cur, fill_)) {
      repl.push_back(std::move(last));
    } else {
      const bool atRightEdge = cur.right == kNoPage && path[level].index + 2 >= cur.Count();
      std::size_t k = SplitPoint(cur, fill_, atRightEdge);
      if (k == 0) return Fail(error, "node " + Hex(cur.offset) + " cannot be split");
      Node left = Slice(cur, 0, k), right = Slice(cur, k, cur.Count());
      left.offset = cur.offset;
      if (!store_.AllocPage(right.offset, error)) return false;
      left.left = cur.left;
      right.right = cur.right;
      left.right = right.offset;
      right.left = left.offset;
      if (cur.right != kNoPage && !Relink(cur.right, true, right.offset, error)) return false;
      repl.push_back({std::string(left.Key(left.Count() - 1)), left.recs.back(), left.offset});
      repl.push_back({std::string(right.Key(right.Count() - 1)), right.recs.back(), right.offset});
      if (!store_.WriteNode(std::move(left), fill_, error) ||
          !store_.WriteNode(std::move(right), fill_, error))
        return false;
    }
    const Node& before = path[level - 1].Get();
    std::size_t idx = path[level - 1].index;
    if (repl.size() == 1 && before.Key(idx) == repl[0].key && before.recs[idx] == repl[0].rec &&
        before.children[idx] == repl[0].child)
      return true;  // the parent still describes this node exactly
    Node& parent = path[level - 1].Mut();
    parent.Erase(idx);
    for (std::size_t r = 0; r < repl.size(); ++r)
      parent.Insert(idx + r, repl[r].key, repl[r].rec, repl[r].child);
  }
}

bool Tree::FixRoot(Node& root, std::size_t changed, std::string* error) {
  root.left = root.right = kNoPage;
  for (int guard = 0; !root.leaf && root.Count() <= 1 && guard < kMaxDepth; ++guard) {
    if (root.Count() == 0) {
      root.leaf = true;
      root.children.clear();
      root.ForgetSizes();
      break;
    }
    // One child left: pull it up so that the tree gets lower again.
    auto child = LoadNode(root.children[0], error);
    if (!child) return false;
    std::uint32_t childOffset = child->offset;
    root.leaf = child->leaf;
    root.keys = child->keys;
    root.recs = child->recs;
    root.dups = child->dups;
    root.trails = child->trails;
    root.children = child->children;
    root.ForgetSizes();
    if (!store_.FreePage(childOffset, error)) return false;
  }
  root.attr = root.leaf ? 3 : 1;
  if (store_.TryWriteNode(root, fill_)) return true;
  // The root keeps its offset: its entries move to two new nodes below it.
  std::size_t k = SplitPoint(root, fill_, changed + 2 >= root.Count());
  if (k == 0) return Fail(error, "root " + Hex(root.offset) + " cannot be split");
  Node a = Slice(root, 0, k), b = Slice(root, k, root.Count());
  if (!store_.AllocPage(a.offset, error) || !store_.AllocPage(b.offset, error)) return false;
  a.right = b.offset;
  b.left = a.offset;
  Node top;
  top.offset = root.offset;
  top.keyLen = keyLen_;
  top.leaf = false;
  top.attr = 1;
  top.Insert(0, a.Key(a.Count() - 1), a.recs.back(), a.offset);
  top.Insert(1, b.Key(b.Count() - 1), b.recs.back(), b.offset);
  if (!store_.WriteNode(std::move(a), fill_, error) || !store_.WriteNode(std::move(b), fill_, error))
    return false;
  return store_.WriteNode(std::move(top), fill_, error);
}

void Tree::UpdateParents(std::vector<Step>& path) {
  const auto len = static_cast<std::size_t>(keyLen_);
  for (std::size_t level = path.size() - 1; level > 0; --level) {
    const Node& child = *path[level].node;
    const std::string_view last = child.Key(child.Count() - 1);
    const std::uint32_t lastRec = child.recs.back();
    const std::size_t idx = path[level - 1].index;
    Node& parent = Mutable(path[level - 1].node);
    if (parent.Key(idx) == last && parent.recs[idx] == lastRec) return;
    std::copy(last.begin(), last.end(), parent.keys.begin() + static_cast<std::ptrdiff_t>(idx * len));
    parent.recs[idx] = lastRec;
    store_.Changed(path[level - 1].node, fill_);
  }
}

bool Tree::InsertInPlace(std::vector<Step>& path, std::string_view key, std::uint32_t rec) {
  if (!store_.InPlace()) return false;
  Step& step = path.back();
  Node& leaf = Mutable(step.node);
  leaf.Insert(step.index, key, rec);
  if (LeafBytes(leaf, fill_) > static_cast<int>(kPageSize)) {
    leaf.Erase(step.index);
    return false;
  }
  store_.Changed(step.node, fill_);
  if (step.index + 1 == leaf.Count()) UpdateParents(path);
  return true;
}

bool Tree::RemoveInPlace(std::vector<Step>& path) {
  if (!store_.InPlace()) return false;
  Step& step = path.back();
  Node& leaf = Mutable(step.node);
  if (leaf.Count() == 1 && path.size() > 1) return false;  // the node goes
  removed_.assign(leaf.Key(step.index));
  const std::uint32_t rec = leaf.recs[step.index];
  leaf.Erase(step.index);
  // Rarely, the key after the removed one shares less with its new
  // neighbour and the page overflows.
  if (LeafBytes(leaf, fill_) > static_cast<int>(kPageSize)) {
    leaf.Insert(step.index, removed_, rec);
    return false;
  }
  store_.Changed(step.node, fill_);
  if (step.index == leaf.Count() && leaf.Count() > 0) UpdateParents(path);
  return true;
}

bool Tree::WayForChange(std::string_view key, std::uint32_t rec, bool found, std::string* error) {
  Way& way = found ? lookupWay_ : insertWay_;
  const bool held = WayHolds(way, key, rec, found);
  ++changes_;
  if (!held) return Descend(key, rec, path_, error);
  path_.swap(way.steps);
  return true;
}

bool Tree::Insert(std::string_view key, std::uint32_t rec, std::string* error) {
  if (key.size() != static_cast<std::size_t>(keyLen_))
    return Fail(error, "key of " + std::to_string(key.size()) + " bytes for a key length of " +
                           std::to_string(keyLen_));
  if (rec == 0) return Fail(error, "record number 0");
  ClearWays clear{*this};
  if (!WayForChange(key, rec, false, error)) return false;
  std::vector<Step>& path = path_;
  Step& leaf = path.back();
  if (leaf.index < leaf.node->Count() &&
      CompareEntry(leaf.node->Key(leaf.index), leaf.node->recs[leaf.index], key, rec) == 0)
    return Fail(error, "the entry is already present");
  if (InsertInPlace(path, key, rec)) return true;
  leaf.Mut().Insert(leaf.index, key, rec);
  store_.Begin();
  if (!Propagate(path, error)) {
    store_.Abort();
    return false;
  }
  store_.Commit();
  return true;
}

bool Tree::Remove(std::string_view key, std::uint32_t rec, std::string* error) {
  if (key.size() != static_cast<std::size_t>(keyLen_)) return Fail(error, "the entry is not present");
  ClearWays clear{*this};
  const std::uint64_t changesBefore = changes_;
  if (!WayForChange(key, rec, true, error)) return false;
  std::vector<Step>& path = path_;
  Step& leaf = path.back();
  if (leaf.index >= leaf.node->Count() ||
      CompareEntry(leaf.node->Key(leaf.index), leaf.node->recs[leaf.index], key, rec) != 0)
    return Fail(error, "the entry is not present");
  if (RemoveInPlace(path)) {
    clear.keepInsertWay = CarryInsertWay(leaf.node.get(), leaf.index, changesBefore);
    return true;
  }
  leaf.Mut().Erase(leaf.index);
  store_.Begin();
  if (!Propagate(path, error)) {
    store_.Abort();
    return false;
  }
  store_.Commit();
  return true;
}

bool Tree::CarryInsertWay(const Node* leaf, std::size_t index, std::uint64_t changesBefore) {
  Way& way = insertWay_;
  // Only a way that held up to this removal: nothing else may have changed
  // the tree since it was found.
  if (way.steps.empty() || way.changes != changesBefore) return false;
  // Every entry left of the place stays left of it and every entry right
  // of it stays right: the place moves only within the changed leaf.
  Step& end = way.steps.back();
  if (end.node.get() == leaf && end.index > index) --end.index;
  way.changes = changes_;
  return true;
}

bool Tree::WayHolds(const Way& way, std::string_view key, std::uint32_t rec, bool found) const {
  if (!store_.InPlace() || !way.Kept(key, rec, changes_, store_.Epoch())) return false;
  // Other trees of the file may have changed since; in a sound file they
  // share no node with this one. Whatever the file, the way down must
  // still be the cached nodes, linked as they were, ending at the entry.
  const bool held = way.swapsKnown && way.swaps == store_.Swaps();
  const std::vector<Step>& steps = way.steps;
  for (std::size_t level = 0; level < steps.size(); ++level) {
    const Step& step = steps[level];
    if (!held && !store_.Holds(step.node.get())) return false;
    if (level + 1 < steps.size() &&
        (step.node->leaf || step.index >= step.node->Count() ||
         step.node->children[step.index] != steps[level + 1].node->offset))
      return false;
  }
  const Step& leaf = steps.back();
  const Node& n = *leaf.node;
  if (!n.leaf) return false;
  if (found)
    return leaf.index < n.Count() && CompareEntry(n.Key(leaf.index), n.recs[leaf.index], key, rec) == 0;
  // Where the entry goes: after every smaller entry of the leaf, before
  // every larger one.
  return leaf.index <= n.Count() &&
         (leaf.index == 0 || CompareEntry(n.Key(leaf.index - 1), n.recs[leaf.index - 1], key, rec) < 0) &&
         (leaf.index == n.Count() || CompareEntry(n.Key(leaf.index), n.recs[leaf.index], key, rec) > 0);
}

bool Tree::BeginWay(Way& way, std::string_view key) {
  way.steps.clear();
  if (key.size() != static_cast<std::size_t>(keyLen_)) return false;
  // Outside a transaction every node a descent loads is put in the cache.
  way.swapsKnown = store_.InPlace();
  way.swaps = store_.Swaps();
  return true;
}

bool Tree::Contains(std::string_view key, std::uint32_t rec, std::string* error) {
  if (!BeginWay(lookupWay_, key)) return false;
  if (!Descend(key, rec, lookupWay_.steps, error)) {
    lookupWay_.steps.clear();
    return false;
  }
  return EndWay(lookupWay_, key, rec, true);
}

void Tree::DescendTogether(Tree* const* trees, const std::string_view* keys,
                           const std::uint32_t* recs, const bool* lookup, std::size_t n,
                           bool* found, std::string* errors) {
  constexpr std::size_t kMost = kMostTogether;
  if (n > kMost) {
    DescendTogether(trees, keys, recs, lookup, kMost, found, errors);
    DescendTogether(trees + kMost, keys + kMost, recs + kMost, lookup + kMost, n - kMost,
                    found + kMost, errors + kMost);
    return;
  }
  std::uint32_t offsets[kMost];
  NodePtr<const Node> nodes[kMost];
  Way* ways[kMost];
  bool active[kMost];
  std::size_t left = 0;
  for (std::size_t i = 0; i < n; ++i) {
    found[i] = false;
    ways[i] = lookup[i] ? &trees[i]->lookupWay_ : &trees[i]->insertWay_;
    active[i] = trees[i]->BeginWay(*ways[i], keys[i]);
    offsets[i] = trees[i]->root_;
    left += active[i];
  }
  // Level by level: every descent asks for its node and its keys (the
  // node's cache slot was asked for when the level above was searched),
  // then loads it, and only then do the searches run, each on a node that
  // has been on its way for a while.
  for (int depth = 0; left > 0; ++depth) {
    for (std::size_t i = 0; i < n; ++i)
      if (active[i]) trees[i]->store_.PrefetchNode(offsets[i]);
    auto finish = [&](std::size_t i) {
      active[i] = false;
      --left;
    };
    for (std::size_t i = 0; i < n; ++i) {
      if (!active[i]) continue;
      if (trees[i]->LoadLevel(depth, offsets[i], nodes[i], &errors[i], true) == Level::Failed) {
        ways[i]->steps.clear();
        finish(i);
        continue;
      }
      FetchKeys(*nodes[i]);
    }
    for (std::size_t i = 0; i < n; ++i) {
      if (!active[i]) continue;
      Tree& t = *trees[i];
      Way& way = *ways[i];
      switch (t.SearchLevel(std::move(nodes[i]), keys[i], recs[i], way.steps, offsets[i],
                            &errors[i])) {
        case Level::Down:
          t.store_.PrefetchSlot(offsets[i]);  // the child's, asked for a level ahead
          continue;
        case Level::Leaf: {
          const bool hit = t.EndWay(way, keys[i], recs[i], lookup[i]);
          if (lookup[i]) found[i] = hit;
          // The removal or insertion that follows moves the leaf's keys
          // from here on: asked for now, they come while the other
          // descents finish.
          if (hit) AskForTail(*way.steps.back().node, way.steps.back().index);
          break;
        }
        case Level::Failed:
          way.steps.clear();
          break;
      }
      finish(i);
    }
  }
}

bool Tree::EndWay(Way& way, std::string_view key, std::uint32_t rec, bool lookup) {
  const Step& leaf = way.steps.back();
  const bool found = leaf.index < leaf.node->Count() &&
                     CompareEntry(leaf.node->Key(leaf.index), leaf.node->recs[leaf.index], key, rec) == 0;
  if (found != lookup) {
    way.steps.clear();
    return false;
  }
  // A removal of this entry (or its insertion) before this tree changes
  // can start from here.
  way.changes = changes_;
  way.epoch = store_.Epoch();
  way.key.assign(key);
  way.rec = rec;
  return true;
}

bool Tree::LowerBound(std::string_view key, std::uint32_t rec, Pos& pos, std::string* error) {
  pos = Pos();
  std::uint32_t offset = root_;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) return Fail(error, "tree deeper than " + std::to_string(kMaxDepth) + " levels (a loop between nodes)");
    auto node = LoadNode(offset, error);
    if (!node) return false;
    // No fetch of the children's slots, as in SeekKey.
    std::size_t i = LowerIndex(*node, key, rec);
    if (i == node->Count()) {
      if (!node->leaf || node->Count() == 0) return false;
      pos = {node, i - 1};
      return Next(pos, error);
    }
    if (node->leaf) {
      pos = {node, i};
      return true;
    }
    offset = node->children[i];
  }
}

bool Tree::SeekKey(std::string_view key, bool prefix, Pos& pos, std::string* error) {
  pos = Pos();
  std::uint32_t offset = root_;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) return Fail(error, "tree deeper than " + std::to_string(kMaxDepth) + " levels (a loop between nodes)");
    auto node = LoadNode(offset, error);
    if (!node) return false;
    // No fetch of the children's cache slots here: for one descent the
    // loop over every child costs more than the slot it saves waiting for.
    std::size_t i = KeyIndex(*node, key, prefix);
    if (i == node->Count()) {
      if (!node->leaf || node->Count() == 0) return false;
      pos = {node, i - 1};
      return Next(pos, error);
    }
    if (node->leaf) {
      pos = {node, i};
      return true;
    }
    offset = node->children[i];
  }
}

bool Tree::First(Pos& pos, std::string* error) {
  pos = Pos();
  std::uint32_t offset = root_;
  for (int depth = 0; depth <= kMaxDepth; ++depth) {
    auto node = LoadNode(offset, error);
    if (!node) return false;
    if (node->Count() == 0) return false;
    if (node->leaf) {
      pos = {node, 0};
      return true;
    }
    offset = node->children.front();
  }
  return Fail(error, "tree deeper than " + std::to_string(kMaxDepth) + " levels (a loop between nodes)");
}

bool Tree::Last(Pos& pos, std::string* error) {
  pos = Pos();
  std::uint32_t offset = root_;
  for (int depth = 0; depth <= kMaxDepth; ++depth) {
    auto node = LoadNode(offset, error);
    if (!node) return false;
    if (node->Count() == 0) return false;
    if (node->leaf) {
      pos = {node, node->Count() - 1};
      return true;
    }
    offset = node->children.back();
  }
  return Fail(error, "tree deeper than " + std::to_string(kMaxDepth) + " levels (a loop between nodes)");
}

// A step to a neighbour leaf takes it only when it lies wholly beyond the
// entry left and its first entry does not exceed its last. Then the last
// entries of the leaves met going forwards only rise, and the first ones
// going backwards only fall, so a walk ends even in a chain of leaves that
// leads back and holds entries out of order.
namespace {
bool Ordered(const NodePtr<const Node>& leaf) {
  return leaf->leaf && leaf->Count() > 0 &&
         CompareEntry(leaf->Key(0), leaf->recs[0], leaf->Key(leaf->Count() - 1), leaf->recs.back()) <= 0;
}
}  // namespace

bool Tree::Next(Pos& pos, std::string* error) {
  if (!pos.leaf) return false;
  if (pos.index + 1 < pos.leaf->Count()) {
    ++pos.index;
    return true;
  }
  std::uint32_t offset = pos.leaf->right;
  if (offset == kNoPage) {
    pos = Pos();
    return false;
  }
  auto next = LoadNode(offset, error);
  if (next && (!Ordered(next) || CompareEntry(next->Key(0), next->recs[0], pos.leaf->Key(pos.index),
                                              pos.leaf->recs[pos.index]) <= 0)) {
    Fail(error, "leaf chain broken at node " + Hex(offset));
    next = nullptr;
  }
  pos = Pos();
  if (!next) return false;
  pos = {next, 0};
  return true;
}

bool Tree::Prev(Pos& pos, std::string* error) {
  if (!pos.leaf) return false;
  if (pos.index > 0 && pos.index <= pos.leaf->Count()) {
    --pos.index;
    return true;
  }
  std::uint32_t offset = pos.leaf->left;
  if (offset == kNoPage) {
    pos = Pos();
    return false;
  }
  auto prev = LoadNode(offset, error);
  if (prev && (!Ordered(prev) || CompareEntry(prev->Key(prev->Count() - 1), prev->recs.back(),
                                              pos.leaf->Key(pos.index), pos.leaf->recs[pos.index]) >= 0)) {
    Fail(error, "leaf chain broken at node " + Hex(offset));
    prev = nullptr;
  }
  pos = Pos();
  if (!prev) return false;
  pos = {prev, prev->Count() - 1};
  return true;
}

bool Tree::CollectPages(std::vector<std::uint32_t>& pages, std::string* error) {
  std::set<std::uint32_t> seen;
  std::vector<std::pair<std::uint32_t, int>> todo{{root_, 0}};
  while (!todo.empty()) {
    auto [offset, depth] = todo.back();
    todo.pop_back();
    if (depth > kMaxDepth || !seen.insert(offset).second)
      return Fail(error, "node " + Hex(offset) + " is reached twice");
    auto node = LoadNode(offset, error);
    if (!node) return false;
    pages.push_back(offset);
    if (!node->leaf)
      for (auto c : node->children) todo.push_back({c, depth + 1});
  }
  return true;
}

bool Tree::CheckStructure(const std::string& label, std::vector<Entry>& entries,
                          std::set<std::uint32_t>& pages, std::string* report) {
  return CheckStructure(
      label, [&](std::string_view key, std::uint32_t rec) { entries.push_back({std::string(key), rec}); },
      [&](std::uint32_t offset) { return pages.insert(offset).second; }, report);
}

bool Tree::CheckStructure(const std::string& label, const EntrySink& entry, const PageSink& page,
                          std::string* report) {
  bool ok = true;
  int findings = 0;
  auto finding = [&](const std::string& text) {
    ok = false;
    if (++findings <= 50 && report) *report += label + text + "\n";
  };
  // Sibling links are checked level by level as the walk meets the nodes
  // (left to right on every level), holding only the last node of each
  // level. Their findings come after those of the nodes, level by level;
  // no more than are ever shown wait for that.
  struct Level {
    bool any = false, leftWrong = false;
    std::uint32_t offset = 0, right = 0;  // of the last node met
    std::vector<std::uint32_t> wrong;     // nodes whose links are wrong
    std::uint64_t wrongCount = 0;
    void Settle(std::uint32_t nextOffset) {
      if (any && (leftWrong || right != nextOffset)) {
        if (wrong.size() < 50) wrong.push_back(offset);
        ++wrongCount;
      }
    }
  };
  std::vector<Level> levels;
  int leafDepth = -1;
  // The entries in walk order must rise: the first fall is a finding.
  std::string prevKey;
  std::uint32_t prevRec = 0;
  std::uint64_t seen = 0;
  bool fell = false;
  std::uint32_t fellAt = 0;

  // Recursion: returns the last entry of the subtree in *last.
  std::function<bool(std::uint32_t, int, Entry*)> visit = [&](std::uint32_t offset, int depth,
                                                              Entry* last) -> bool {
    if (depth > kMaxDepth) {
      finding("tree deeper than " + std::to_string(kMaxDepth) + " levels at node " + Hex(offset));
      return false;
    }
    if (!page(offset)) {
      finding("node " + Hex(offset) + " is used twice");
      return false;
    }
    std::string err;
    auto node = LoadNode(offset, &err);
    if (!node) {
      finding(err);
      return false;
    }
    const std::string at = "node " + Hex(offset) + ": ";
    if (depth == 0 && !node->IsRoot()) finding(at + "root without the root flag");
    if (depth > 0 && node->IsRoot()) finding(at + "root flag on a node below the root");
    if (static_cast<int>(levels.size()) <= depth) levels.resize(static_cast<std::size_t>(depth) + 1);
    Level& lv = levels[static_cast<std::size_t>(depth)];
    lv.Settle(offset);
    lv.leftWrong = node->left != (lv.any ? lv.offset : kNoPage);
    lv.any = true;
    lv.offset = offset;
    lv.right = node->right;
    for (std::size_t i = 1; i < node->Count(); ++i)
      if (CompareEntry(node->Key(i - 1), node->recs[i - 1], node->Key(i), node->recs[i]) >= 0)
        finding(at + "entries " + std::to_string(i) + " and " + std::to_string(i + 1) +
                " out of order");
    if (node->Count() == 0 && (depth > 0 || !node->leaf)) finding(at + "empty node");
    if (node->leaf) {
      if (leafDepth < 0) leafDepth = depth;
      if (leafDepth != depth) finding(at + "leaf at depth " + std::to_string(depth) + ", others at " + std::to_string(leafDepth));
      const LeafLayout& l = node->layout;
      std::uint32_t recMask = l.recBits >= 32 ? 0xFFFFFFFFu : ((1u << l.recBits) - 1);
      if (l.recMask != recMask || l.dupMask != ((1u << l.dupBits) - 1) ||
          l.trailMask != ((1u << l.trailBits) - 1))
        finding(at + "masks do not match the bit counts");
      if (l.storedFree != l.computedFree)
        finding(at + "free space " + std::to_string(l.storedFree) + ", entries leave " + std::to_string(l.computedFree));
      for (std::size_t i = 0; i < node->Count(); ++i) {
        const std::string_view key = node->Key(i);
        const std::uint32_t rec = node->recs[i];
        if (seen++ > 0 && !fell && CompareEntry(prevKey, prevRec, key, rec) >= 0) {
          fell = true;
          fellAt = rec;
        }
        prevKey.assign(key);
        prevRec = rec;
        entry(key, rec);
      }
    } else {
      for (std::size_t i = 0; i < node->Count(); ++i) {
        Entry childLast;
        if (!visit(node->children[i], depth + 1, &childLast)) return false;
        if (childLast.key != node->Key(i) || childLast.rec != node->recs[i])
          finding(at + "entry " + std::to_string(i + 1) + " is not the last key of node " + Hex(node->children[i]));
      }
    }
    if (last && node->Count()) *last = {std::string(node->Key(node->Count() - 1)), node->recs.back()};
    return true;
  };
  if (!visit(root_, 0, nullptr)) return false;
  for (std::size_t d = 0; d < levels.size(); ++d) {
    Level& lv = levels[d];
    lv.Settle(kNoPage);
    for (std::uint32_t offset : lv.wrong)
      finding("node " + Hex(offset) + ": sibling links do not match level " + std::to_string(d));
    // Those beyond what is ever shown still count.
    if (lv.wrongCount > lv.wrong.size()) {
      ok = false;
      findings += static_cast<int>(lv.wrongCount - lv.wrong.size());
    }
  }
  if (fell) finding("entries out of order at record " + std::to_string(fellAt));
  if (findings > 50 && report) *report += label + std::to_string(findings - 50) + " more findings\n";
  return ok;
}

}  // namespace xbe::cdx
