#pragma once
// Writing a fresh tag tree from entries that arrive in ascending order,
// bottom-up. Leaves are filled to all but kLeafRoom bytes of their page and
// written as soon as the next one begins; the entries that describe them for the level above wait
// in a RecordSpool (in memory while small, else in a temporary file) until
// the leaf level is complete, and so on up. Memory therefore stays bounded
// whatever the number of entries, and pages are taken level by level, left
// to right, the way a build that held everything in memory would take them.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "KeySort.h"
#include "cdx/CdxStore.h"

namespace xbe::cdx {

// Bytes a freshly built leaf leaves free, about a tenth of its page: room
// for a few more keys before it splits.
inline constexpr int kLeafRoom = 48;

class TreeBuilder {
 public:
  // `root` is allocated already; the tree's top node goes there. Spill
  // files go beside `beside` (the index file).
  TreeBuilder(Store& store, std::uint32_t root, int keyLen, char fill, std::string beside);

  // Entries in strictly ascending (key, record) order.
  bool Add(std::string_view key, std::uint32_t rec, std::string* error);
  // Writes what is still open and the levels above the leaves.
  bool Finish(std::string* error);

 private:
  // The nodes of the level being written: each closed node waits for its
  // right neighbour's page before it is written.
  struct Level {
    Node open, waiting;
    std::size_t closed = 0;
    std::unique_ptr<RecordSpool> up;  // entries for the level above
  };
  void StartLevel(bool leaf);
  bool Close(std::string* error);
  bool Write(Node& node, std::string* error);
  // The last entry of the level: the top of the tree when it has one node.
  bool EndLevel(bool& top, std::string* error);

  Store& store_;
  std::uint32_t root_;
  int keyLen_;
  char fill_;
  std::string beside_;
  Level level_;
  std::uint32_t maxRec_ = 0;  // of the open leaf
  int pool_ = 0;              // key-pool bytes of the open leaf
  std::string entry_;         // one spooled entry: key, record and child (big-endian)
};

}  // namespace xbe::cdx
