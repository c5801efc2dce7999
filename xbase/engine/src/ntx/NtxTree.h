#pragma once
// B-tree operations on the pages of a Store, in stored order: keys as bytes
// (reversed for a descending index), equal keys by ascending record number.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ntx/NtxStore.h"

namespace xbe::ntx {

// Deeper than any real tree (two keys per page would need 32 levels for
// four billion keys); a longer descent means the links run in a circle.
inline constexpr std::size_t kMaxTreeDepth = 40;

struct Frame {
  std::uint32_t page;
  int idx;  // the current key in the top frame; the child taken below it
};
using Path = std::vector<Frame>;  // empty = no position

class Tree {
 public:
  Tree(Store& store, bool descending) : store_(store), descending_(descending) {}

  int Compare(const Entry& a, const Entry& b) const;
  int CompareKeys(std::string_view a, std::string_view b) const;

  // Positions on the first entry (stored order) for which `before` is
  // false; `before` must be true for a prefix of the entries. An empty path
  // means past the end.
  bool LowerBound(const std::function<bool(const Entry&)>& before, Path& path, std::string* error);
  bool First(Path& path, std::string* error);
  bool Last(Path& path, std::string* error);
  bool Next(Path& path, std::string* error);
  bool Prev(Path& path, std::string* error);
  bool At(const Path& path, Entry& out, std::string* error);

  bool Contains(const Entry& e, bool& found, std::string* error);
  // Insert fails on an entry already present, Remove on one absent; both
  // leave the tree as it was when they fail.
  bool Insert(const Entry& e, std::string* error);
  bool Remove(const Entry& e, std::string* error);

  // Fills an empty tree with `count` entries in stored order, taken one at
  // a time from `next`, packing the pages evenly instead of splitting them
  // half-empty one insert at a time. Each page is written as it fills and
  // what the levels above need waits in a spool beside `beside`, so memory
  // stays bounded. Not all or nothing: meant for a new file that is thrown
  // away when anything fails.
  bool BulkLoad(std::uint64_t count, const std::function<bool(Entry&, std::string*)>& next,
                const std::string& beside, std::string* error);

  // Raised by every change, so that cursors know to find their place again.
  std::uint64_t Changes() const { return changes_; }
  // Picks up what another handle wrote to the file since the last look.
  void Refresh() {
    if (store_.Reload()) ++changes_;
  }

 private:
  bool PushLeft(Path& path, std::uint32_t off, std::string* error);
  bool PushRight(Path& path, std::uint32_t off, std::string* error);
  bool SettleNext(Path& path, std::string* error);
  bool SettlePrev(Path& path, std::string* error);
  bool DoInsert(const Entry& e, std::string* error);
  bool DoRemove(const Entry& e, std::string* error);
  bool Rebalance(Path& path, std::string* error);
  int MinKeys() const;

  Store& store_;
  bool descending_;
  std::uint64_t changes_ = 0;
};

}  // namespace xbe::ntx
