#include "cdx/CdxStore.h"

#include <cstdio>
#include <algorithm>
#include <cstring>

namespace xbe::cdx {

namespace {
// Both caches are bounded whatever the index size. The node cache holds
// what searches and walks use, and the changed nodes until they are written
// back; the page cache holds pages read ahead and the other pages (header,
// free list) until they are written back.
constexpr std::size_t kReadAheadPages = 256;                 // 128 KiB

// What a decoded node occupies, roughly (allocations included).
std::size_t NodeBytes(const Node& n) {
  return sizeof(Node) + 96 + n.keys.capacity() + 4 * n.recs.capacity() +
         4 * n.children.capacity() + n.dups.capacity() + n.trails.capacity();
}

}  // namespace

bool Store::OpenFile(const std::string& path, bool writable, std::string* error) {
  path_ = path;
  writable_ = writable;
  memory_ = false;
  if (!file_.Open(path, writable, error)) return false;
  std::int64_t size = file_.Size();
  if (size < 0) {
    if (error) *error = path + ": cannot determine the file size";
    return false;
  }
  size_ = static_cast<std::uint64_t>(size) / kPageSize * kPageSize;
  if (size_ > 0xFFFFFE00ull) size_ = 0xFFFFFE00ull;  // offsets are 32-bit
  onDisk_ = static_cast<std::uint64_t>(size);
  std::uint8_t head[12];
  if (size >= 12 && file_.ReadAt(0, head, sizeof head, nullptr)) {
    knownCounter_ = Get32BE(head + 8);
    knownFreeHead_ = Get32(head + 4);
    knownValid_ = true;
  }
  return true;
}

void Store::OpenImage(std::string image) {
  memory_ = true;
  writable_ = true;
  image_ = std::move(image);
  image_.resize(image_.size() / kPageSize * kPageSize);
  size_ = image_.size();
}

bool Store::ReadRaw(std::uint32_t offset, Page& out, std::string* error) {
  if (std::uint64_t(offset) + kPageSize > size_) {
    if (error) *error = "page " + Hex(offset) + " lies beyond the end of the file";
    return false;
  }
  if (memory_) {
    std::memcpy(out.data(), image_.data() + offset, kPageSize);
    return true;
  }
  if (const std::uint32_t slot = pages_.Find(offset); slot != PageCache::kNone) {
    pages_.Touch(slot);
    out = pages_.PageOf(slot);
    return true;
  }
  if (!file_.ReadAt(offset, out.data(), kPageSize, error)) return false;
  CachePage(offset, out, false);
  return true;
}

bool Store::ReadPage(std::uint32_t offset, Page& out, std::string* error) {
  if (inTxn_) {
    auto it = pending_.find(offset);
    if (it != pending_.end()) {
      out = it->second;
      return true;
    }
  }
  return ReadRaw(offset, out, error);
}

void Store::CachePage(std::uint32_t offset, const Page& page, bool dirty) {
  const auto [slot, added] = pages_.Insert(offset);
  if (!added) pages_.Touch(slot);
  pages_.PageOf(slot) = page;
  if (dirty && !pages_.Dirty(slot)) {
    pages_.Dirty(slot) = true;
    ++dirtyCount_;
  }
  TrimPages();
}

void Store::TrimPages() {
  while (pages_.Size() > maxPages_) {
    const std::uint32_t victim = pages_.Oldest();
    if (pages_.Dirty(victim)) {
      std::string err;
      if (!WriteBack(pages_.OffsetOf(victim), pages_.PageOf(victim), &err)) {
        if (deferredError_.empty()) deferredError_ = err;
        // Keep the page: dropping it would lose the change.
        pages_.Touch(victim);
        break;
      }
      --dirtyCount_;
    }
    pages_.Erase(victim);
  }
}

bool Store::WriteBack(std::uint32_t offset, const Page& page, std::string* error) {
  if (!file_.WriteAt(offset, page.data(), kPageSize, error)) return false;
  onDisk_ = std::max<std::uint64_t>(onDisk_, std::uint64_t(offset) + kPageSize);
  return true;
}

bool Store::ReadAhead(std::uint32_t offset, Page& out, std::string* error) {
  // A cold cache fills a chunk at a time while it has room, so that an index
  // that fits is read in a few calls whatever order it is searched in. A
  // full cache reads single pages and is never disturbed for pages nobody
  // asked for.
  const std::uint64_t chunk = kReadAheadPages * kPageSize;
  const std::uint64_t start = offset / chunk * chunk;
  const std::uint64_t end = std::min({start + chunk, onDisk_ / kPageSize * kPageSize, size_});
  if (pages_.Size() + kReadAheadPages > maxPages_ || end <= std::uint64_t(offset) + kPageSize ||
      end <= start)
    return file_.ReadAt(offset, out.data(), kPageSize, error);
  readAhead_.resize(static_cast<std::size_t>(end - start));
  if (!file_.ReadAt(start, readAhead_.data(), readAhead_.size(), error)) return false;
  for (std::uint64_t at = start; at < end; at += kPageSize) {
    const auto o = static_cast<std::uint32_t>(at);
    const std::uint8_t* bytes = readAhead_.data() + (at - start);
    if (o == offset) {
      std::memcpy(out.data(), bytes, kPageSize);
      continue;
    }
    // The header is read when needed; a cached page or node is newer.
    if (at == 0 || nodes_.Find(o)) continue;
    const auto [slot, added] = pages_.Insert(o);
    if (added) std::memcpy(pages_.PageOf(slot).data(), bytes, kPageSize);
  }
  TrimPages();
  return true;
}

NodePtr<const Node> Store::Load(std::uint32_t offset, int keyLen, char fill, std::string* error,
                                bool asked) {
  if (!ValidPage(offset)) {
    if (error) *error = "node offset " + Hex(offset) + " is not a page of the file";
    return nullptr;
  }
  if (inTxn_) {
    auto it = pendingNodes_.find(offset);
    if (it != pendingNodes_.end()) {
      if (it->second.node->keyLen == keyLen) return it->second.node;
      if (error) *error = "node " + Hex(offset) + " belongs to two trees";
      return nullptr;
    }
  }
  if (!(inTxn_ && pending_.count(offset))) {
    if (CachedNode* c = nodes_.Find(offset)) {
      if (!asked) AskFor(*c);
      if (c->node->keyLen == keyLen) return c->node;
      // Asked for with another key length (a damaged file whose trees share
      // a page): the page must hold the newest state before it is decoded.
      if (c->dirty && !SettleNode(offset, error)) return nullptr;
    }
  }
  Page page;
  const std::uint8_t* bytes = page.data();
  const bool pending = inTxn_ && pending_.count(offset);
  const std::uint32_t slot = pending || memory_ ? PageCache::kNone : pages_.Find(offset);
  if (slot != PageCache::kNone) {
    // Decoded where it lies: nothing below changes the page cache before
    // the page is dropped or touched.
    bytes = pages_.PageOf(slot).data();
    // Read ahead long ago, the page is in main memory by now: its lines are
    // asked for together rather than as the decoder reaches them.
    for (std::uint32_t at = 0; at < kPageSize; at += 64) PrefetchLine(bytes + at);
  } else if (pending || memory_) {
    if (!ReadPage(offset, page, error)) return nullptr;
  } else if (!ReadAhead(offset, page, error)) {
    // Read past the page cache: the decoded node is what gets kept.
    return nullptr;
  }
  auto node = MakeNode();
  if (!DecodeNode(bytes, offset, keyLen, fill, *node, error)) return nullptr;
  if (slot != PageCache::kNone) {
    // While the node is cached its raw page is never read: a clean copy
    // goes, so that the page cache keeps room for reading ahead. (A page
    // read ahead for this node was never put in the cache.) A page that
    // waits to be written stays, as the newest.
    if (pages_.Dirty(slot)) pages_.Touch(slot);
    else pages_.Erase(slot);
  }
  if (!pending) PutNode(offset, node);
  return node;
}

void Store::PutNode(std::uint32_t offset, NodePtr<Node> node) {
  const std::size_t bytes = NodeBytes(*node);
  auto [c, added] = nodes_.Emplace(offset);
  if (!added) {
    nodeBytes_ -= c->bytes;
    if (c->dirty) --dirtyNodes_;
    ++swaps_;
  }
  c->Set(std::move(node), bytes, false, ' ');
  nodeBytes_ += bytes;
  if (nodeBytes_ > maxNodeBytes_) TrimNodes();
}

void Store::DropNode(std::uint32_t offset) {
  // The page itself was rewritten: a node changed in place is outdated too.
  CachedNode* c = nodes_.Find(offset);
  if (!c) return;
  nodeBytes_ -= c->bytes;
  if (c->dirty) --dirtyNodes_;
  nodes_.Erase(offset);
  ++swaps_;
}

void Store::Changed(const NodePtr<const Node>& node, char fill) {
  if (!bumped_) {
    // The first change since the last flush raises the change counter, as
    // a committed transaction does.
    Begin();
    BumpCounter();
    Commit();
  }
  const std::uint32_t offset = node->offset;
  auto [c, added] = nodes_.Emplace(offset);
  if (!added) nodeBytes_ -= c->bytes;
  if (!added && c->node.get() != node.get()) ++swaps_;
  // The store created every node it hands out as a mutable object.
  c->node = ConstCast(node);
  c->bytes = static_cast<std::uint32_t>(NodeBytes(*node));
  c->fill = fill;
  c->Hint();
  nodeBytes_ += c->bytes;
  if (!c->dirty) {
    c->dirty = true;
    ++dirtyNodes_;
  }
  ++generation_;
  if (nodeBytes_ > maxNodeBytes_) TrimNodes();
}

bool Store::SettleNode(std::uint32_t offset, std::string* error) {
  CachedNode* c = nodes_.Find(offset);
  if (!c || !c->dirty) return true;
  Page page;
  if (!EncodeNode(*c->node, c->fill, page.data())) {
    if (error) *error = "node " + Hex(offset) + " does not fit its page";
    return false;
  }
  c->dirty = false;
  --dirtyNodes_;
  CachePage(offset, page, true);
  return true;
}

void Store::TrimNodes() {
  // Drop about an eighth, wherever the hash puts them: cheap, and a walk or
  // a seek only needs the few nodes it is on. A node changed in place goes
  // to the page cache first.
  for (std::uint32_t offset : nodes_.SomeKeys(nodes_.Size() / 8 + 1)) {
    std::string err;
    if (!SettleNode(offset, &err)) {
      if (deferredError_.empty()) deferredError_ = err;
      continue;
    }
    DropNode(offset);
  }
}

void Store::Begin() {
  if (txnDepth_++ > 0) return;
  inTxn_ = true;
  pending_.clear();
  pendingNodes_.clear();
  sizeBeforeTxn_ = size_;
}

void Store::BumpCounter() {
  Page header;
  if (!ReadPage(0, header, nullptr)) return;
  knownCounter_ = Get32BE(header.data() + 8) + 1;
  Put32BE(header.data() + 8, knownCounter_);
  pending_[0] = header;
  knownFreeHead_ = Get32(header.data() + 4);
  knownValid_ = true;
  bumped_ = true;
}

void Store::Commit() {
  if (txnDepth_ == 0 || --txnDepth_ > 0) return;
  if (!memory_ && !bumped_ && (!pending_.empty() || !pendingNodes_.empty())) {
    BumpCounter();
  } else if (!memory_ && pending_.count(0)) {
    knownFreeHead_ = Get32(pending_[0].data() + 4);
  }
  inTxn_ = false;
  if (!pending_.empty()) ++epoch_;  // pages besides nodes: free list, header
  for (auto& [offset, page] : pending_) {
    if (memory_) {
      if (image_.size() < std::size_t(offset) + kPageSize) image_.resize(std::size_t(offset) + kPageSize);
      std::memcpy(image_.data() + offset, page.data(), kPageSize);
    } else {
      CachePage(offset, page, true);
    }
    DropNode(offset);
  }
  for (auto& [offset, pn] : pendingNodes_) {
    if (memory_) PutNode(offset, std::move(pn.node));
    else PutDirtyNode(offset, std::move(pn.node), pn.fill);
  }
  pending_.clear();
  pendingNodes_.clear();
  ++generation_;
}

void Store::Abort() {
  if (txnDepth_ == 0) return;
  txnDepth_ = 0;
  inTxn_ = false;
  pending_.clear();
  pendingNodes_.clear();
  size_ = sizeBeforeTxn_;
  ++epoch_;
}

void Store::WritePage(std::uint32_t offset, const Page& page) {
  if (inTxn_) {
    pending_[offset] = page;
    pendingNodes_.erase(offset);
    return;
  }
  Begin();
  pending_[offset] = page;
  Commit();
}

namespace {
// The attribute a node is written with: leaf and root bits.
std::uint16_t AttrOf(const Node& n) {
  return static_cast<std::uint16_t>((n.leaf ? 2 : 0) | (n.IsRoot() ? 1 : 0));
}
}  // namespace

void Store::PutDirtyNode(std::uint32_t offset, NodePtr<Node> node, char fill) {
  const std::size_t bytes = NodeBytes(*node);
  auto [c, added] = nodes_.Emplace(offset);
  if (!added) {
    nodeBytes_ -= c->bytes;
    if (c->dirty) --dirtyNodes_;
    ++swaps_;
  }
  c->Set(std::move(node), bytes, true, fill);
  ++dirtyNodes_;
  nodeBytes_ += bytes;
  if (nodeBytes_ > maxNodeBytes_) TrimNodes();
}

bool Store::StageNode(NodePtr<Node> node, char fill, std::string* error) {
  const std::uint32_t offset = node->offset;
  if (memory_) {
    // An image in memory takes the encoded page at once.
    Page page;
    if (!EncodeNode(*node, fill, page.data())) {
      if (error) *error = "node " + Hex(offset) + " does not fit its page";
      return false;
    }
    node->attr = page[0];
    pending_[offset] = page;
  } else {
    // Kept decoded; encoded when it leaves the node cache or at Flush.
    if (!NodeFits(*node, fill)) {
      if (error) *error = "node " + Hex(offset) + " does not fit its page";
      return false;
    }
    node->attr = AttrOf(*node);
    pending_.erase(offset);
  }
  pendingNodes_[offset] = PendingNode{std::move(node), fill};
  return true;
}

bool Store::WriteNode(Node&& node, char fill, std::string* error) {
  if (!NodeFits(node, fill)) {
    if (error) *error = "node " + Hex(node.offset) + " does not fit its page";
    return false;
  }
  const bool own = !inTxn_;
  if (own) Begin();
  const bool ok = StageNode(MakeNode(std::move(node)), fill, error);
  if (own) {
    if (ok) Commit();
    else Abort();
  }
  return ok;
}

bool Store::TryWriteNode(Node& node, char fill) {
  if (!NodeFits(node, fill)) return false;
  const bool own = !inTxn_;
  if (own) Begin();
  const bool ok = StageNode(MakeNode(std::move(node)), fill, nullptr);
  if (own) {
    if (ok) Commit();
    else Abort();
  }
  return ok;
}

bool Store::FreeHead(std::uint32_t& head, std::string* error) {
  Page header;
  if (!ReadPage(0, header, error)) return false;
  head = Get32(header.data() + 4);
  if (head == kNoPage) head = 0;
  return true;
}

bool Store::CanAllocate(int count, std::string* error) {
  std::uint32_t head;
  if (!FreeHead(head, error)) return false;
  for (int i = 0; i < count && head != 0; ++i) {
    if (!ValidPage(head)) {
      if (error) *error = "free list points to " + Hex(head) + ", not a page of the file";
      return false;
    }
    Page page;
    if (!ReadPage(head, page, error)) return false;
    head = Get32(page.data());
    if (head == kNoPage) head = 0;
  }
  return true;
}

bool Store::AllocPage(std::uint32_t& offset, std::string* error) {
  std::uint32_t head;
  if (!FreeHead(head, error)) return false;
  if (head == 0) return AppendPages(1, offset, error);
  if (!ValidPage(head)) {
    if (error) *error = "free list points to " + Hex(head) + ", not a page of the file";
    return false;
  }
  Page page, header;
  if (!ReadPage(head, page, error) || !ReadPage(0, header, error)) return false;
  Put32(header.data() + 4, Get32(page.data()) == kNoPage ? 0 : Get32(page.data()));
  WritePage(0, header);
  offset = head;
  return true;
}

bool Store::AppendPages(std::uint32_t count, std::uint32_t& offset, std::string* error) {
  const std::uint64_t end = size_ + std::uint64_t(count) * kPageSize;
  if (end > 0xFFFFFE00ull) {
    if (error) *error = "the index file is full";
    return false;
  }
  if (!Reserve(end, error)) return false;
  offset = static_cast<std::uint32_t>(size_);
  size_ = end;
  Page zero{};
  for (std::uint32_t i = 0; i < count; ++i) WritePage(offset + i * kPageSize, zero);
  return true;
}

bool Store::Reserve(std::uint64_t end, std::string* error) {
  if (memory_ || end <= onDisk_) return true;
  if (!writable_) {
    if (error) *error = path_ + ": index opened read-only";
    return false;
  }
  // The file holds nothing from its old end on: pages handed out there wait
  // in the cache and are written over the zeros later. In shared use the
  // file grows by the pages asked for alone: another process takes the
  // file's end as the place for its new pages.
  constexpr std::uint64_t kReserveBytes = 128 * kPageSize;
  const std::uint64_t old = onDisk_;
  const std::uint64_t ahead =
      shared_ ? end : std::min<std::uint64_t>(std::max(end, old + kReserveBytes), 0xFFFFFE00ull);
  std::string why;
  if (!file_.Grow(old, end, ahead, onDisk_, &why)) {
    if (error) *error = "the index file cannot grow: " + why;
    return false;
  }
  if (!shared_ && !grown_) {
    grown_ = true;
    grownFrom_ = old;
  }
  return true;
}

bool Store::FreePage(std::uint32_t offset, std::string* error) {
  std::uint32_t head;
  if (!FreeHead(head, error)) return false;
  Page page{}, header;
  Put32(page.data(), head);
  if (!ReadPage(0, header, error)) return false;
  WritePage(offset, page);
  Put32(header.data() + 4, offset);
  WritePage(0, header);
  return true;
}

bool Store::Flush(std::string* error) {
  if (memory_) return true;
  if (!deferredError_.empty()) {
    if (error) *error = deferredError_;
    deferredError_.clear();
    return false;
  }
  if (dirtyCount_ == 0 && dirtyNodes_ == 0) return CutReserve(error);
  if (!writable_) {
    if (error) *error = path_ + ": index opened read-only";
    return false;
  }
  // Everything newer than the file, in file order: changed nodes encoded
  // (a node supersedes a cached page of the same offset), then changed
  // pages. Nothing counts as written before its write succeeded.
  std::vector<std::pair<std::uint32_t, const std::uint8_t*>> out;
  out.reserve(dirtyCount_ + dirtyNodes_);
  std::size_t changed = 0;
  nodes_.ForEach([&](std::uint32_t, CachedNode& cached) { changed += cached.dirty ? 1 : 0; });
  std::vector<Page> encoded(changed);
  std::size_t e = 0;
  bool fits = true;
  nodes_.ForEach([&](std::uint32_t offset, CachedNode& cached) {
    if (!cached.dirty || !fits || e == encoded.size()) return;
    if (!EncodeNode(*cached.node, cached.fill, encoded[e].data())) {
      if (error) *error = "node " + Hex(offset) + " does not fit its page";
      fits = false;
      return;
    }
    out.emplace_back(offset, encoded[e++].data());
  });
  if (!fits) return false;
  pages_.ForEach([&](std::uint32_t offset, std::uint32_t slot) {
    if (pages_.Dirty(slot) && !(dirtyNodes_ && IsDirtyNode(offset)))
      out.emplace_back(offset, pages_.PageOf(slot).data());
  });
  std::sort(out.begin(), out.end());
  // Runs of neighbouring pages go out in one write each.
  constexpr std::size_t kRunPages = 256;
  std::vector<std::uint8_t> run;
  for (std::size_t i = 0; i < out.size();) {
    std::size_t j = i + 1;
    while (j < out.size() && j - i < kRunPages && out[j].first == out[j - 1].first + kPageSize) ++j;
    run.resize((j - i) * kPageSize);
    for (std::size_t k = i; k < j; ++k)
      std::memcpy(run.data() + (k - i) * kPageSize, out[k].second, kPageSize);
    if (!file_.WriteAt(out[i].first, run.data(), run.size(), error)) return false;
    onDisk_ = std::max<std::uint64_t>(onDisk_, std::uint64_t(out[j - 1].first) + kPageSize);
    i = j;
  }
  nodes_.ForEach([&](std::uint32_t offset, CachedNode& cached) {
    if (!cached.dirty) return;
    cached.dirty = false;
    --dirtyNodes_;
    // The page cache must not keep an older state of this page.
    const std::uint32_t slot = pages_.Find(offset);
    if (slot != PageCache::kNone) {
      if (pages_.Dirty(slot)) --dirtyCount_;
      pages_.Erase(slot);
    }
  });
  pages_.ForEach([&](std::uint32_t, std::uint32_t slot) {
    if (pages_.Dirty(slot)) {
      pages_.Dirty(slot) = false;
      --dirtyCount_;
    }
  });
  if (!CutReserve(error) || !file_.Sync(error)) return false;
  bumped_ = false;
  return true;
}

bool Store::CutReserve(std::string* error) {
  // Pages the file grew by ahead of need and that no change took; what the
  // file held before it grew stays. In shared use the file never grows
  // ahead (another process may have appended since).
  if (!grown_ || shared_) return true;
  const std::uint64_t keep = std::max(size_, grownFrom_);
  if (onDisk_ > keep) {
    if (!file_.Truncate(keep, error)) return false;
    onDisk_ = keep;
  }
  grown_ = false;
  return true;
}

bool Store::Refresh() {
  if (!shared_ || memory_ || dirtyCount_ != 0 || dirtyNodes_ != 0 || inTxn_) return true;
  std::uint8_t head[12];
  if (!file_.ReadAt(0, head, sizeof head, nullptr)) return false;
  const std::uint32_t counter = Get32BE(head + 8), freeHead = Get32(head + 4);
  if (knownValid_ && counter == knownCounter_ && freeHead == knownFreeHead_) return true;
  if (knownValid_) {
    // Another process wrote: nothing cached can be trusted any more.
    pages_.Clear();
    nodes_.Clear();
    nodeBytes_ = 0;
    ++swaps_;
    ++generation_;
    ++epoch_;
    std::int64_t size = file_.Size();
    if (size >= 0) size_ = std::min<std::uint64_t>(static_cast<std::uint64_t>(size) / kPageSize * kPageSize, 0xFFFFFE00ull);
    if (size >= 0) onDisk_ = static_cast<std::uint64_t>(size);
  }
  knownCounter_ = counter;
  knownFreeHead_ = freeHead;
  knownValid_ = true;
  return true;
}

}  // namespace xbe::cdx
