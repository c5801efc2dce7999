#include "ntx/NtxStore.h"

#include <algorithm>
#include <cstring>

namespace xbe::ntx {
namespace {

// Decoded pages kept in memory beyond the ones waiting to be written.
constexpr std::size_t kCachePages = 512;
// Changed pages written out (without sync) once this many pile up.
constexpr std::size_t kDirtyPages = 2048;

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

}  // namespace

bool Store::OpenFile(const std::string& path, bool writable, std::string* error) {
  if (!file_.Open(path, writable, error)) return false;
  const std::int64_t size = file_.Size();
  if (size < static_cast<std::int64_t>(kPageSize)) return Fail(error, path + ": too short for an NTX index");
  end_ = static_cast<std::uint64_t>(size) / kPageSize * kPageSize;
  if (end_ > 0xFFFFFC00u) end_ = 0xFFFFFC00u;  // offsets are 32 bits
  fileEnd_ = static_cast<std::uint64_t>(size);
  if (!file_.ReadAt(0, headerRaw_.data(), kPageSize, error)) return false;
  std::string why;
  if (!DecodeHeader(headerRaw_.data(), end_, header_, &why)) return Fail(error, path + ": " + why);
  EncodeHeader(header_, headerRaw_.data());  // as Reload compares it
  writable_ = writable;
  if (writable) {
    // A damaged free chain is dropped rather than followed: the pages on
    // it are lost to reuse, but no live page is ever handed out twice.
    std::vector<std::uint32_t> chain;
    if (!FreeChain(chain, &why)) {
      header_.freeHead = 0;
      headerDirty_ = true;
    }
  }
  return true;
}

bool Store::ReadRaw(std::uint32_t offset, std::uint8_t* buf, std::string* error) {
  return file_.ReadAt(offset, buf, kPageSize, error);
}

bool Store::WriteRaw(std::uint32_t offset, const std::uint8_t* buf, std::string* error) {
  if (!file_.WriteAt(offset, buf, kPageSize, error)) return false;
  fileEnd_ = std::max<std::uint64_t>(fileEnd_, std::uint64_t(offset) + kPageSize);
  return true;
}

bool Store::Grow(std::uint64_t end, std::string* error) {
  if (end <= fileEnd_) return true;
  // Nothing was ever written from the old end on: the zeros overwrite no
  // page, and the page handed out is written over them later.
  std::string why;
  if (!file_.Grow(fileEnd_, end, end, fileEnd_, &why))
    return Fail(error, "the index file cannot grow: " + why);
  return true;
}

bool Store::Get(std::uint32_t offset, std::shared_ptr<const Page>& out, std::string* error) {
  if (inTxn_) {
    auto t = txnPages_.find(offset);
    if (t != txnPages_.end()) {
      out = t->second;
      return true;
    }
    if (txnFreed_.count(offset)) return Fail(error, "link to a free page " + std::to_string(offset));
  }
  if (freed_.count(offset)) return Fail(error, "link to a free page " + std::to_string(offset));
  if (!ValidPage(offset)) return Fail(error, "page offset " + std::to_string(offset) + " out of the file");
  auto c = cache_.find(offset);
  if (c != cache_.end()) {
    out = c->second;
    return true;
  }
  std::array<std::uint8_t, kPageSize> raw;
  if (!ReadRaw(offset, raw.data(), error)) return false;
  auto page = std::make_shared<Page>();
  std::string why;
  if (!DecodePage(raw.data(), header_, *page, &why))
    return Fail(error, "damaged page at " + std::to_string(offset) + ": " + why);
  cache_[offset] = page;
  out = page;
  if (cache_.size() > kCachePages + dirty_.size()) Evict();
  return true;
}

void Store::Begin() {
  inTxn_ = true;
  savedHeader_ = header_;
  savedEnd_ = end_;
  savedHeaderDirty_ = headerDirty_;
}

void Store::Abort() {
  txnPages_.clear();
  txnFreed_.clear();
  txnAllocatedFree_.clear();
  header_ = savedHeader_;
  end_ = savedEnd_;
  headerDirty_ = savedHeaderDirty_;
  inTxn_ = false;
}

void Store::Commit() {
  // Every flushed change raises the header's counter, which is how other
  // handles on the file notice it.
  if (!txnPages_.empty() || !txnFreed_.empty()) headerDirty_ = true;
  for (auto& [off, page] : txnPages_) {
    cache_[off] = page;
    dirty_.insert(off);
    freed_.erase(off);
  }
  for (auto& [off, next] : txnFreed_) {
    cache_.erase(off);
    freed_[off] = next;
    dirty_.insert(off);
  }
  txnPages_.clear();
  txnFreed_.clear();
  txnAllocatedFree_.clear();
  inTxn_ = false;
  Trim();
}

void Store::Trim() {
  if (dirty_.size() > kDirtyPages) {
    std::string ignored;
    WriteBack(&ignored);  // on failure the pages stay dirty and Flush reports it
  }
  if (cache_.size() > kCachePages + dirty_.size()) Evict();
}

void Store::Evict() {
  // Pages handed out stay alive through their shared pointers; only the
  // cache lets go of them. Changed pages stay until written, so the bound
  // is on the unchanged ones.
  for (auto it = cache_.begin(); it != cache_.end() && cache_.size() > kCachePages / 2 + dirty_.size();) {
    if (!dirty_.count(it->first) && it->first != header_.root)
      it = cache_.erase(it);
    else
      ++it;
  }
}

bool Store::Edit(std::uint32_t offset, Page*& out, std::string* error) {
  if (!inTxn_ || !writable_) return Fail(error, "the index is open read-only");
  auto t = txnPages_.find(offset);
  if (t != txnPages_.end()) {
    out = t->second.get();
    return true;
  }
  std::shared_ptr<const Page> page;
  if (!Get(offset, page, error)) return false;
  auto copy = std::make_shared<Page>(*page);
  out = copy.get();
  txnPages_[offset] = std::move(copy);
  return true;
}

bool Store::Alloc(std::uint32_t& offset, Page*& out, std::string* error) {
  if (!inTxn_ || !writable_) return Fail(error, "the index is open read-only");
  if (header_.freeHead != 0) {
    const std::uint32_t off = header_.freeHead;
    std::uint32_t next = 0;
    if (auto t = txnFreed_.find(off); t != txnFreed_.end()) {
      next = t->second;
      txnFreed_.erase(t);
    } else if (auto f = freed_.find(off); f != freed_.end()) {
      next = f->second;
      txnAllocatedFree_.insert(off);
    } else {
      std::array<std::uint8_t, kPageSize> raw;
      if (!ValidPage(off)) return Fail(error, "damaged free page chain");
      if (!ReadRaw(off, raw.data(), error)) return false;
      if (!FreePageLink(raw.data(), header_, next)) return Fail(error, "damaged free page chain");
    }
    if (next != 0 && (!ValidPage(next) || next == off)) return Fail(error, "damaged free page chain");
    header_.freeHead = next;
    headerDirty_ = true;
    offset = off;
  } else {
    if (end_ + kPageSize > 0xFFFFFC00u) return Fail(error, "the index file is full");
    if (!Grow(end_ + kPageSize, error)) return false;
    offset = static_cast<std::uint32_t>(end_);
    end_ += kPageSize;
  }
  auto page = std::make_shared<Page>();
  page->kids.push_back(0);
  out = page.get();
  txnPages_[offset] = std::move(page);
  return true;
}

void Store::Free(std::uint32_t offset) {
  txnPages_.erase(offset);
  txnFreed_[offset] = header_.freeHead;
  header_.freeHead = offset;
  headerDirty_ = true;
}

void Store::SetRoot(std::uint32_t root) {
  header_.root = root;
  headerDirty_ = true;
}

bool Store::WriteBack(std::string* error) {
  std::array<std::uint8_t, kPageSize> raw;
  for (auto it = dirty_.begin(); it != dirty_.end();) {
    const std::uint32_t off = *it;
    if (auto f = freed_.find(off); f != freed_.end()) {
      EncodeFreePage(f->second, header_, raw.data());
    } else if (auto c = cache_.find(off); c != cache_.end()) {
      EncodePage(*c->second, header_, raw.data());
    } else {
      it = dirty_.erase(it);
      continue;
    }
    if (!WriteRaw(off, raw.data(), error)) return false;
    it = dirty_.erase(it);
  }
  return true;
}

bool Store::Flush(std::string* error) {
  if (!writable_) return true;
  if (!WriteBack(error)) return false;
  if (headerDirty_) {
    ++header_.version;
    EncodeHeader(header_, headerRaw_.data());  // also what Reload compares against
    if (!WriteRaw(0, headerRaw_.data(), error)) {
      --header_.version;
      return false;
    }
    headerDirty_ = false;
  }
  return file_.Sync(error);
}

bool Store::Reload() {
  if (inTxn_ || headerDirty_ || !dirty_.empty()) return false;
  std::array<std::uint8_t, 12> head;
  if (!file_.ReadAt(0, head.data(), head.size())) return false;
  std::array<std::uint8_t, kPageSize> raw;
  std::memcpy(raw.data(), headerRaw_.data(), kPageSize);
  EncodeHeader(header_, raw.data());
  if (std::memcmp(head.data(), raw.data(), head.size()) == 0) return false;
  const std::int64_t size = file_.Size();
  if (size < static_cast<std::int64_t>(kPageSize) || !file_.ReadAt(0, raw.data(), kPageSize)) return false;
  std::uint64_t end = static_cast<std::uint64_t>(size) / kPageSize * kPageSize;
  if (end > 0xFFFFFC00u) end = 0xFFFFFC00u;
  Header h;
  if (!DecodeHeader(raw.data(), end, h, nullptr) || h.keyLength != header_.keyLength ||
      h.maxKeys != header_.maxKeys || h.descending != header_.descending)
    return false;  // not the same index any more: keep what we have
  header_ = h;
  headerRaw_ = raw;
  end_ = end;
  fileEnd_ = static_cast<std::uint64_t>(size);
  cache_.clear();
  freed_.clear();
  return true;
}

bool Store::FreeChain(std::vector<std::uint32_t>& pages, std::string* error) {
  pages.clear();
  std::set<std::uint32_t> seen;
  std::uint32_t off = header_.freeHead;
  std::array<std::uint8_t, kPageSize> raw;
  while (off != 0) {
    if (!ValidPage(off)) return Fail(error, "free page chain leaves the file at " + std::to_string(off));
    if (!seen.insert(off).second) return Fail(error, "free page chain runs in a circle at " + std::to_string(off));
    pages.push_back(off);
    std::uint32_t next = 0;
    if (auto t = txnFreed_.find(off); inTxn_ && t != txnFreed_.end()) {
      next = t->second;
    } else if (auto f = freed_.find(off); f != freed_.end()) {
      next = f->second;
    } else {
      if (!ReadRaw(off, raw.data(), error)) return false;
      if (!FreePageLink(raw.data(), header_, next))
        return Fail(error, "damaged free page at " + std::to_string(off));
    }
    off = next;
  }
  return true;
}

}  // namespace xbe::ntx
