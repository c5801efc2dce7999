#include "cdx/CdxBuild.h"

#include <algorithm>
#include <cstdio>

namespace xbe::cdx {

namespace {

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

const std::uint8_t* Bytes(const char* p) { return reinterpret_cast<const std::uint8_t*>(p); }

// Empty again, keeping the allocations.
void Reset(Node& n, bool leaf) {
  n.offset = 0;
  n.attr = 0;
  n.leaf = leaf;
  n.left = n.right = kNoPage;
  n.ClearEntries();
  n.ForgetSizes();
}

}  // namespace

TreeBuilder::TreeBuilder(Store& store, std::uint32_t root, int keyLen, char fill,
                         std::string beside)
    : store_(store), root_(root), keyLen_(keyLen), fill_(fill), beside_(std::move(beside)) {
  level_.open.keyLen = level_.waiting.keyLen = keyLen;
  StartLevel(true);
}

void TreeBuilder::StartLevel(bool leaf) {
  Reset(level_.open, leaf);
  Reset(level_.waiting, leaf);
  level_.closed = 0;
  // An entry per node of this level: a fraction of what the leaves hold.
  level_.up = std::make_unique<RecordSpool>(beside_, static_cast<std::size_t>(keyLen_) + 8,
                                            SortMemory() / 8);
}

bool TreeBuilder::Add(std::string_view key, std::uint32_t rec, std::string* error) {
  if (key.size() != static_cast<std::size_t>(keyLen_))
    return Fail(error, "key of " + std::to_string(key.size()) + " bytes for a key length of " +
                           std::to_string(keyLen_));
  Node& cur = level_.open;
  // A leaf takes entries while they fit its page less some room: entry
  // bytes for the largest record number so far, plus each key less what it
  // shares with the one before and its trailing fill. The room left lets
  // the first changes after a build go into their leaf instead of
  // splitting nearly every leaf they touch.
  constexpr int kLeafBudget = static_cast<int>(kPageSize) - kLeafRoom;
  const std::string_view prev = cur.Count() ? cur.Key(cur.Count() - 1) : std::string_view();
  const int cost = PoolCost(prev, key, fill_);
  const std::uint32_t m = std::max(maxRec_, rec);
  const int eb = LeafEntryBytes(m, keyLen_);
  if (eb == 0) return Fail(error, "record number " + std::to_string(rec) + " too large");
  if (cur.Count() && 24 + static_cast<int>(cur.Count() + 1) * eb + pool_ + cost > kLeafBudget) {
    if (!Close(error)) return false;
    maxRec_ = rec;
    pool_ = PoolCost({}, key, fill_);
  } else {
    maxRec_ = m;
    pool_ += cost;
  }
  level_.open.Insert(level_.open.Count(), key, rec);
  return true;
}

bool TreeBuilder::Close(std::string* error) {
  Level& l = level_;
  l.open.attr = l.open.leaf ? 2 : 0;
  if (l.closed > 0) {
    // Two nodes now: the waiting one learns its right neighbour.
    if (l.closed == 1 && !store_.AllocPage(l.waiting.offset, error)) return false;
    if (!store_.AllocPage(l.open.offset, error)) return false;
    l.waiting.right = l.open.offset;
    l.open.left = l.waiting.offset;
    if (!Write(l.waiting, error)) return false;
  }
  std::swap(l.open, l.waiting);
  Reset(l.open, l.waiting.leaf);
  ++l.closed;
  return true;
}

bool TreeBuilder::Write(Node& node, std::string* error) {
  Page page;
  if (!EncodeNode(node, fill_, page.data()))
    return Fail(error, "node " + Hex(node.offset) + " does not fit its page");
  store_.WritePage(node.offset, page);
  if (node.IsRoot()) return true;
  entry_.assign(node.Key(node.Count() - 1));
  entry_.resize(entry_.size() + 8);
  auto* tail = reinterpret_cast<std::uint8_t*>(entry_.data()) + keyLen_;
  Put32BE(tail, node.recs.back());
  Put32BE(tail + 4, node.offset);
  return level_.up->Append(entry_.data(), error);
}

bool TreeBuilder::EndLevel(bool& top, std::string* error) {
  if (!Close(error)) return false;
  Node& last = level_.waiting;
  top = level_.closed == 1;
  if (top) {
    last.offset = root_;
    last.attr = last.leaf ? 3 : 1;
    last.left = last.right = kNoPage;
  }
  return Write(last, error);
}

bool TreeBuilder::Finish(std::string* error) {
  const int cap = InteriorCapacity(keyLen_);
  if (cap < 2) return Fail(error, "key length " + std::to_string(keyLen_) + " too large");
  const auto len = static_cast<std::size_t>(keyLen_);
  bool top = false;
  if (!EndLevel(top, error)) return false;
  while (!top) {
    // The entries just spooled become the nodes of the next level.
    std::unique_ptr<RecordSpool> below = std::move(level_.up);
    if (!below->Finish(error)) return false;
    StartLevel(false);
    const char* e;
    while (below->Next(e)) {
      if (level_.open.Count() == static_cast<std::size_t>(cap) && !Close(error)) return false;
      level_.open.Insert(level_.open.Count(), std::string_view(e, len), Get32BE(Bytes(e + len)),
                         Get32BE(Bytes(e + len + 4)));
    }
    if (!below->Error().empty()) return Fail(error, below->Error());
    if (!EndLevel(top, error)) return false;
  }
  return true;
}

}  // namespace xbe::cdx
