#pragma once
// The pages of one CDX file: a bounded cache of raw pages over the file (or
// over an in-memory image), a cache of decoded nodes, the shared free-page
// list, and small transactions so that an update that fails half-way writes
// nothing.
//
// In exclusive use a tree may change a cached node in place when the change
// cannot fail (see InPlace); such a node is then newer than its page and is
// encoded only when it leaves the cache or at Flush.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "cdx/CdxNode.h"
#include "cdx/OffsetMap.h"
#include "cdx/PageCache.h"
#include "platform/RandomFile.h"

namespace xbe::cdx {

class Store {
 public:
  // Reads and writes the file at `path`.
  bool OpenFile(const std::string& path, bool writable, std::string* error);
  // Works on `image` (a whole file) in memory; Image() gives the result.
  void OpenImage(std::string image);
  const std::string& Image() const { return image_; }
  bool Writable() const { return writable_; }
  const std::string& Path() const { return path_; }

  // File size in bytes, rounded down to whole pages, pending pages included.
  std::uint64_t Size() const { return size_; }
  bool ValidPage(std::uint32_t offset, std::uint32_t pages = 1) const {
    return offset >= kPageSize && offset % kPageSize == 0 &&
           std::uint64_t(offset) + std::uint64_t(pages) * kPageSize <= size_;
  }

  bool ReadPage(std::uint32_t offset, Page& out, std::string* error);
  // Decoded node, cached. Offset is checked against the file first. A
  // cached node comes with a request for its first line and keys, unless
  // PrefetchNode already asked (`asked`).
  NodePtr<const Node> Load(std::uint32_t offset, int keyLen, char fill, std::string* error,
                           bool asked = false);

  // Whether a tree may change nodes from Load in place and report them with
  // Changed: a writable file in exclusive use, outside a transaction.
  bool InPlace() const { return writable_ && !memory_ && !shared_ && !inTxn_; }
  // `node` (from Load) was changed in place and still fits its page: it is
  // the newest state of its page from now on. Bumps the generation.
  void Changed(const NodePtr<const Node>& node, char fill);

  // Changes are collected until Commit (applied to the page cache) or
  // Abort (dropped). Transactions nest: the outermost Commit applies, any
  // Abort drops everything. Outside a transaction writes apply at once.
  void Begin();
  void Commit();
  void Abort();
  void WritePage(std::uint32_t offset, const Page& page);
  bool WriteNode(const Node& node, char fill, std::string* error) {
    return WriteNode(Node(node), fill, error);
  }
  // The same, taking the node over instead of copying it.
  bool WriteNode(Node&& node, char fill, std::string* error);
  // Encodes and writes `node`, taking it over; false (node untouched) when
  // it does not fit its page.
  bool TryWriteNode(Node& node, char fill);
  // A page for a new node: the head of the free list, else end of file.
  bool AllocPage(std::uint32_t& offset, std::string* error);
  // Pages at end of file (tag headers need two in a row). The file grows
  // here, not when the pages are written back, so that a full disk or a
  // size limit refuses the change that needs them (false with *error, the
  // file as it was) instead of a later write-back leaving half an index.
  bool AppendPages(std::uint32_t count, std::uint32_t& offset, std::string* error);
  bool FreePage(std::uint32_t offset, std::string* error);
  // Whether `count` pages can be allocated (the free list is sound).
  bool CanAllocate(int count, std::string* error);

  // Shared use: other processes change the file too. Every flush cycle
  // that changes the file bumps the change counter in the file header
  // (offset 8, big-endian); Refresh re-reads it and drops the cached pages
  // when someone else has changed the file since.
  void SetShared(bool shared) { shared_ = shared; }
  bool Refresh();

  // Writes dirty pages, then fsyncs.
  bool Flush(std::string* error);
  // Bounds of the two caches (the defaults hold the index of a table of a
  // million records); smaller bounds make every path of eviction run.
  void SetCacheLimits(std::size_t maxNodeBytes, std::size_t maxPages) {
    maxNodeBytes_ = maxNodeBytes;
    maxPages_ = maxPages;
  }
  std::size_t MaxNodeBytes() const { return maxNodeBytes_; }
  std::size_t MaxPages() const { return maxPages_; }

  bool HasDirtyPages() const { return dirtyCount_ != 0 || dirtyNodes_ != 0; }
  // Bumped on every committed change; cursors compare it.
  std::uint64_t Generation() const { return generation_; }
  // Bumped whenever the node cache lets go of a node object it held
  // (dropped, replaced by another or cleared): while it stands still, every
  // node the cache handed out since is still the one it holds.
  std::uint64_t Swaps() const { return swaps_; }
  // Whether the decoded nodes have outgrown what a processor's caches
  // hold, so that most nodes a search meets come from main memory.
  bool BeyondProcessorCaches() const {
    return nodeBytes_ >= processorCacheBytes_.load(std::memory_order_relaxed);
  }
  // The size taken for the processor's caches, for every store (tests set
  // 0 to have small indexes searched side by side too).
  static void SetProcessorCacheBytes(std::size_t bytes) {
    processorCacheBytes_.store(bytes, std::memory_order_relaxed);
  }
  static constexpr std::size_t kProcessorCacheBytes = std::size_t{32} << 20;
  // Asks for the cache slot where a lookup of `offset` starts.
  void PrefetchSlot(std::uint32_t offset) const {
    if (const void* slot = nodes_.HomeSlot(offset)) PrefetchLine(slot);
  }
  // Asks for a cached node and its keys, as Load would, without waiting.
  void PrefetchNode(std::uint32_t offset) {
    if (inTxn_) return;
    if (const CachedNode* c = nodes_.Find(offset)) AskFor(*c);
  }
  // Bumped whenever a change may reach beyond the nodes of the tree that
  // made it (the free list, the header, a dropped transaction, pages
  // another process wrote); changes in place and node writes leave it.
  std::uint64_t Epoch() const { return epoch_; }
  // Whether `node` is the object the node cache holds for its page.
  bool Holds(const Node* node) const {
    const CachedNode* c = nodes_.Find(node->offset);
    return c && c->node.get() == node;
  }

 private:
  bool FreeHead(std::uint32_t& head, std::string* error);
  // Raises the header's change counter, within the open transaction.
  void BumpCounter();
  void TrimNodes();
  void PutNode(std::uint32_t offset, NodePtr<Node> node);
  void DropNode(std::uint32_t offset);
  bool IsDirtyNode(std::uint32_t offset) const {
    const CachedNode* c = nodes_.Find(offset);
    return c && c->dirty;
  }
  // A node written by a committed transaction: kept decoded, newer than its
  // page.
  void PutDirtyNode(std::uint32_t offset, NodePtr<Node> node, char fill);
  // Puts a node written in the open transaction among the pending changes.
  bool StageNode(NodePtr<Node> node, char fill, std::string* error);
  // Encodes a node changed in place into the page cache; false when it
  // does not fit (which the tree rules out before it changes a node).
  bool SettleNode(std::uint32_t offset, std::string* error);
  bool ReadRaw(std::uint32_t offset, Page& out, std::string* error);
  void CachePage(std::uint32_t offset, const Page& page, bool dirty);
  // Evicts the least recently used pages beyond the bound, writing back
  // those that wait to be written.
  void TrimPages();
  bool WriteBack(std::uint32_t offset, const Page& page, std::string* error);
  // Reads the page at `offset` (not cached), and its neighbours into the
  // page cache while that has room.
  bool ReadAhead(std::uint32_t offset, Page& out, std::string* error);

  platform::RandomFile file_;
  bool memory_ = false;
  bool writable_ = false;
  std::string image_;
  std::string path_;
  std::uint64_t size_ = 0;
  std::uint64_t onDisk_ = 0;  // bytes the file has on disk (pages may wait in the cache)
  // In exclusive use the file grows many pages at a time, and Flush cuts
  // it back to the pages in use (never below its length before it grew).
  bool grown_ = false;
  std::uint64_t grownFrom_ = 0;
  // Makes the file at least `end` bytes long (zeros), or fails leaving it
  // as it was.
  bool Reserve(std::uint64_t end, std::string* error);
  bool CutReserve(std::string* error);
  std::vector<std::uint8_t> readAhead_;
  std::uint64_t generation_ = 0;
  std::uint64_t epoch_ = 0;
  std::uint64_t swaps_ = 0;

  PageCache pages_;             // dirty: to be written back
  std::size_t dirtyCount_ = 0;  // pages with `dirty` set
  std::string deferredError_;            // a write-back that failed on eviction

  struct CachedNode {
    NodePtr<Node> node;
    // Where the node's keys lay when it was last cached or changed, so that
    // a lookup can ask for them together with the node itself instead of
    // after it. Only ever a hint for the processor: a node changed since
    // has its keys elsewhere, and the fetch is wasted, nothing else.
    const char* keysHint = nullptr;
    std::uint32_t bytes = 0;      // what it was counted as in nodeBytes_
    std::uint16_t hintBytes = 0;  // how many key bytes to ask for
    bool dirty = false;           // changed in place, newer than its page
    char fill = ' ';              // the tree's fill byte, for encoding a dirty node
    void Set(NodePtr<Node> n, std::size_t b, bool d, char f) {
      node = std::move(n);
      bytes = static_cast<std::uint32_t>(b);
      dirty = d;
      fill = f;
      Hint();
    }
    void Hint() {
      keysHint = node->keys.data();
      hintBytes = static_cast<std::uint16_t>(std::min<std::size_t>(node->keys.size(), 1024));
    }
  };
  // The node, its keys and its record numbers all miss the caches in a
  // large index; asked for together, they arrive together.
  static void AskFor(const CachedNode& c) {
    PrefetchLine(c.node.get());
    for (std::size_t at = 0; at < c.hintBytes; at += 64) PrefetchLine(c.keysHint + at);
  }
  OffsetMap<CachedNode> nodes_;
  std::size_t nodeBytes_ = 0;  // what nodes_ holds, roughly
  std::size_t maxNodeBytes_ = std::size_t{128} << 20;  // about 128 MiB of decoded nodes
  std::size_t maxPages_ = 32768;                      // 16 MiB of raw pages
  static inline std::atomic<std::size_t> processorCacheBytes_{kProcessorCacheBytes};
  std::size_t dirtyNodes_ = 0;  // nodes with `dirty` set

  bool inTxn_ = false;
  int txnDepth_ = 0;
  bool shared_ = false;
  bool bumped_ = false;  // counter already raised since the last flush
  std::uint32_t knownCounter_ = 0, knownFreeHead_ = 0;
  bool knownValid_ = false;
  std::map<std::uint32_t, Page> pending_;
  struct PendingNode {
    NodePtr<Node> node;
    char fill = ' ';
  };
  std::unordered_map<std::uint32_t, PendingNode> pendingNodes_;
  std::uint64_t sizeBeforeTxn_ = 0;
};

}  // namespace xbe::cdx
