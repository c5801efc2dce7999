#pragma once
// Raw pages of an index file kept in memory: slots in chunks of 256 that
// are never moved or given back while the cache lives, found through an
// OffsetMap and chained in order of use (newest first). Reading ahead puts
// hundreds of pages in at a time and decoding takes them out one by one,
// so a page in or out allocates nothing and frees nothing.
//
// A slot is named by its number; a reference to its page stays valid until
// the slot is erased or the cache cleared.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "cdx/CdxNode.h"
#include "cdx/OffsetMap.h"

namespace xbe::cdx {

using Page = std::array<std::uint8_t, kPageSize>;

class PageCache {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  std::size_t Size() const { return at_.Size(); }

  // The slot holding the page at `offset`, or kNone.
  std::uint32_t Find(std::uint32_t offset) const {
    const std::uint32_t* s = at_.Find(offset);
    return s ? *s : kNone;
  }
  // A slot for `offset`: the one that holds it (second false; its place in
  // the order unchanged), else a new one, newest of all, clean, its page
  // to be filled by the caller (second true).
  std::pair<std::uint32_t, bool> Insert(std::uint32_t offset) {
    if (const std::uint32_t* s = at_.Find(offset)) return {*s, false};
    // Memory first: once the map holds the offset nothing may fail, or it
    // would name a slot that holds another page.
    if (free_.empty() && used_ / kChunkSlots >= chunks_.size()) {
      chunks_.reserve(chunks_.size() + 1);
      // Room to give back every slot, so that Erase never allocates.
      free_.reserve((chunks_.size() + 1) * kChunkSlots);
      chunks_.push_back(std::make_unique<Slot[]>(kChunkSlots));
    }
    std::uint32_t* s = at_.Emplace(offset).first;
    std::uint32_t slot;
    if (!free_.empty()) {
      slot = free_.back();
      free_.pop_back();
    } else {
      slot = static_cast<std::uint32_t>(used_++);
    }
    *s = slot;
    Slot& n = At(slot);
    n.offset = offset;
    n.dirty = false;
    Link(slot);
    return {slot, true};
  }
  void Erase(std::uint32_t slot) {
    Unlink(slot);
    at_.Erase(At(slot).offset);
    free_.push_back(slot);
  }
  // Makes `slot` the newest.
  void Touch(std::uint32_t slot) {
    if (newest_ == slot) return;
    Unlink(slot);
    Link(slot);
  }
  std::uint32_t Oldest() const { return oldest_; }
  void Clear() {
    at_.Clear();
    chunks_.clear();
    free_.clear();
    used_ = 0;
    newest_ = oldest_ = kNone;
  }

  Page& PageOf(std::uint32_t slot) { return At(slot).page; }
  bool& Dirty(std::uint32_t slot) { return At(slot).dirty; }
  std::uint32_t OffsetOf(std::uint32_t slot) const { return At(slot).offset; }

  // Calls fn(offset, slot) for every page held; fn must not add or erase.
  template <typename Fn>
  void ForEach(Fn&& fn) {
    at_.ForEach([&](std::uint32_t offset, std::uint32_t& slot) { fn(offset, slot); });
  }

 private:
  static constexpr std::size_t kChunkSlots = 256;
  struct Slot {
    Page page;
    std::uint32_t offset = 0;
    std::uint32_t newer = kNone, older = kNone;
    bool dirty = false;
  };
  Slot& At(std::uint32_t slot) { return chunks_[slot / kChunkSlots][slot % kChunkSlots]; }
  const Slot& At(std::uint32_t slot) const { return chunks_[slot / kChunkSlots][slot % kChunkSlots]; }
  void Link(std::uint32_t slot) {
    Slot& n = At(slot);
    n.newer = kNone;
    n.older = newest_;
    if (newest_ != kNone) At(newest_).newer = slot;
    newest_ = slot;
    if (oldest_ == kNone) oldest_ = slot;
  }
  void Unlink(std::uint32_t slot) {
    Slot& n = At(slot);
    if (n.newer != kNone) At(n.newer).older = n.older;
    else newest_ = n.older;
    if (n.older != kNone) At(n.older).newer = n.newer;
    else oldest_ = n.newer;
    n.newer = n.older = kNone;
  }

  OffsetMap<std::uint32_t> at_;
  std::vector<std::unique_ptr<Slot[]>> chunks_;
  std::vector<std::uint32_t> free_;
  std::size_t used_ = 0;
  std::uint32_t newest_ = kNone, oldest_ = kNone;
};

}  // namespace xbe::cdx
