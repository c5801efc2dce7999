#pragma once
// The pages of one NTX file: a bounded cache of decoded pages over the
// file, the free-page chain, and transactions so that an update failing
// half-way changes nothing.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>

#include "ntx/NtxPage.h"
#include "platform/RandomFile.h"

namespace xbe::ntx {

class Store {
 public:
  bool OpenFile(const std::string& path, bool writable, std::string* error);

  const Header& Hdr() const { return header_; }
  bool Writable() const { return writable_; }
  std::uint64_t End() const { return end_; }
  bool ValidPage(std::uint32_t offset) const {
    return offset >= kPageSize && offset % kPageSize == 0 && std::uint64_t(offset) + kPageSize <= end_;
  }

  // A decoded page; false with *error when the offset is out of the file,
  // the page is on the free chain, or it does not decode.
  bool Get(std::uint32_t offset, std::shared_ptr<const Page>& out, std::string* error);

  // Changes between Begin and Commit reach the cache only on Commit; Abort
  // drops them and restores the header.
  void Begin();
  void Commit();
  void Abort();
  bool Edit(std::uint32_t offset, Page*& out, std::string* error);
  bool Alloc(std::uint32_t& offset, Page*& out, std::string* error);
  void Free(std::uint32_t offset);
  void SetRoot(std::uint32_t root);

  // When nothing is pending here and another handle has written the file
  // since (its header moved on), drops every cached page and takes the new
  // header. True when it did.
  bool Reload();

  // Writes changed pages and the header, then syncs the file.
  bool Flush(std::string* error);

  // The free chain as stored; false with *error on a cycle or a link out
  // of the file.
  bool FreeChain(std::vector<std::uint32_t>& pages, std::string* error);

 private:
  bool ReadRaw(std::uint32_t offset, std::uint8_t* buf, std::string* error);
  bool WriteRaw(std::uint32_t offset, const std::uint8_t* buf, std::string* error);
  bool WriteBack(std::string* error);
  void Trim();
  void Evict();

  platform::RandomFile file_;
  bool writable_ = false;
  std::array<std::uint8_t, kPageSize> headerRaw_{};
  Header header_, savedHeader_;
  std::uint64_t end_ = 0, savedEnd_ = 0;
  // Bytes the file has on disk. A new page at the end grows the file when
  // it is handed out, not when it is written, so that a full disk or a
  // size limit refuses the change that needs it instead of a later write
  // leaving half an index.
  std::uint64_t fileEnd_ = 0;
  bool Grow(std::uint64_t end, std::string* error);
  bool headerDirty_ = false, savedHeaderDirty_ = false;

  std::unordered_map<std::uint32_t, std::shared_ptr<Page>> cache_;
  std::set<std::uint32_t> dirty_;                 // pages (or freed pages) not yet written
  std::map<std::uint32_t, std::uint32_t> freed_;  // freed page -> next link, not yet written

  bool inTxn_ = false;
  std::map<std::uint32_t, std::shared_ptr<Page>> txnPages_;
  std::map<std::uint32_t, std::uint32_t> txnFreed_;
  std::set<std::uint32_t> txnAllocatedFree_;  // taken from the committed free chain
};

}  // namespace xbe::ntx
