#pragma once
// The pages of an index file seen by a check: one bit per page of the file,
// so that even a large file costs a few kilobytes. An offset that is no
// page of the file (only a damaged link gives one) is kept aside, so the
// set answers for any offset.
#include <cstdint>
#include <set>
#include <vector>

namespace xbe {

class PageSet {
 public:
  PageSet(std::uint64_t fileSize, std::uint32_t pageSize)
      : pageSize_(pageSize), bits_(static_cast<std::size_t>(fileSize / pageSize + 1)) {}

  // False when the offset was in the set already.
  bool Insert(std::uint32_t offset) {
    if (!OnPage(offset)) return others_.insert(offset).second;
    auto bit = bits_[offset / pageSize_];
    if (bit) return false;
    bit = true;
    return true;
  }
  bool Contains(std::uint32_t offset) const {
    return OnPage(offset) ? bits_[offset / pageSize_] : others_.count(offset) != 0;
  }

 private:
  bool OnPage(std::uint32_t offset) const {
    return offset % pageSize_ == 0 && offset / pageSize_ < bits_.size();
  }
  std::uint32_t pageSize_;
  std::vector<bool> bits_;
  std::set<std::uint32_t> others_;
};

}  // namespace xbe
