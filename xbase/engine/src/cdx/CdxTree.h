#pragma once
// One B+-tree of a CDX file (a tag, or the tag directory): search, walk,
// insert and remove with splits, root growth and collapse, and a structural
// check. The root stays at its offset for the life of the tree, so a tag
// header never needs rewriting.
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cdx/CdxStore.h"

namespace xbe::cdx {

struct Entry {
  std::string key;
  std::uint32_t rec = 0;
};

class Tree {
 public:
  Tree(Store& store, std::uint32_t root, int keyLen, char fill)
      : store_(store), root_(root), keyLen_(keyLen), fill_(fill) {}

  std::uint32_t Root() const { return root_; }
  int KeyLength() const { return keyLen_; }
  char Fill() const { return fill_; }
  Store& GetStore() { return store_; }

  // A position: the decoded leaf and the index in it.
  struct Pos {
    NodePtr<const Node> leaf;
    std::size_t index = 0;
  };
  // First entry >= (key, rec). False at end (pos.leaf null) or on damage
  // (*error set).
  bool LowerBound(std::string_view key, std::uint32_t rec, Pos& pos, std::string* error);
  // First entry whose key (first key.size() bytes when `prefix`) >= key.
  bool SeekKey(std::string_view key, bool prefix, Pos& pos, std::string* error);
  bool First(Pos& pos, std::string* error);
  bool Last(Pos& pos, std::string* error);
  // Steps along the leaf chain; each step checks that the order still rises
  // (so a damaged chain can never loop). False at the end or on damage.
  bool Next(Pos& pos, std::string* error);
  bool Prev(Pos& pos, std::string* error);

  bool Contains(std::string_view key, std::uint32_t rec, std::string* error);
  // Each runs in its own store transaction: all or nothing.
  bool Insert(std::string_view key, std::uint32_t rec, std::string* error);
  bool Remove(std::string_view key, std::uint32_t rec, std::string* error);

  // Verifies the structure; appends findings to *report (each line prefixed
  // with `label`). Hands each entry to `entry` as the walk meets it (tree
  // order; the key is valid during the call only) and each page to `page`,
  // which answers false when the page is in use already. Memory stays
  // within a few nodes per level whatever the size of the tree. False when
  // anything is wrong.
  using EntrySink = std::function<void(std::string_view key, std::uint32_t rec)>;
  using PageSink = std::function<bool(std::uint32_t offset)>;
  bool CheckStructure(const std::string& label, const EntrySink& entry, const PageSink& page,
                      std::string* report);
  // The same, collecting the entries in order and every page used.
  bool CheckStructure(const std::string& label, std::vector<Entry>& entries,
                      std::set<std::uint32_t>& pages, std::string* report);
  // Every page of the tree (for freeing a dropped tag). False on damage.
  bool CollectPages(std::vector<std::uint32_t>& pages, std::string* error);

  // Several descents at once, each in its own tree with its own key, going
  // down level by level together so that their waits for memory overlap.
  // A lookup (lookup[i]) sets found[i] as trees[i]->Contains(keys[i],
  // recs[i]) would. Otherwise the tree keeps the way to where the entry
  // would go, for an Insert of that entry that follows before the tree
  // changes other than by removals in place (found[i] is unused). A tree
  // may take one descent of each kind. A descent that fails (a damaged
  // tree) says why in errors[i].
  static constexpr std::size_t kMostTogether = 16;  // side by side; more go in groups
  static void DescendTogether(Tree* const* trees, const std::string_view* keys,
                              const std::uint32_t* recs, const bool* lookup, std::size_t n,
                              bool* found, std::string* errors);
  // Whether a way is kept for inserting (key, rec) and nothing this tree
  // and its store count has changed since it was found. The insertion
  // checks the way itself in full before it takes it.
  bool KeepsWayToInsert(std::string_view key, std::uint32_t rec) const {
    return insertWay_.Kept(key, rec, changes_, store_.Epoch());
  }

 private:
  // A node on the way down; copied only when it has to change.
  struct Step {
    NodePtr<const Node> node;
    std::size_t index;
    NodePtr<Node> copy;
    Node& Mut() {
      if (!copy) copy = MakeNode(*node);
      return *copy;
    }
    const Node& Get() const { return copy ? *copy : *node; }
  };
  bool Descend(std::string_view key, std::uint32_t rec, std::vector<Step>& path,
               std::string* error);
  // The two halves of one level of a descent: loading the node at `offset`
  // (Down, or Failed with *error), and searching it, which adds its step to
  // `path` and either ends at a leaf or sets `offset` to the child to go on
  // with.
  enum class Level { Down, Leaf, Failed };
  Level LoadLevel(int depth, std::uint32_t offset, NodePtr<const Node>& node, std::string* error,
                  bool asked = false);
  Level SearchLevel(NodePtr<const Node>&& node, std::string_view key, std::uint32_t rec,
                    std::vector<Step>& path, std::uint32_t& offset, std::string* error);
  // In exclusive use, an insert or removal that keeps its leaf within its
  // page (and not empty, unless it is the root) changes the cached nodes in
  // place: nothing in it can fail, so it needs no copies and no
  // transaction. False, with everything as it was, when the general way
  // (splits, freed nodes) has to do the work.
  bool InsertInPlace(std::vector<Step>& path, std::string_view key, std::uint32_t rec);
  bool RemoveInPlace(std::vector<Step>& path);
  // After the last entry of the leaf at the end of `path` changed: the
  // parents that describe it take the new last entry.
  void UpdateParents(std::vector<Step>& path);
  static Node& Mutable(const NodePtr<const Node>& node) {
    // The store creates every node it hands out as a mutable object.
    return const_cast<Node&>(*node);
  }
  bool Propagate(std::vector<Step>& path, std::string* error);
  bool FixRoot(Node& root, std::size_t changed, std::string* error);
  bool Relink(std::uint32_t offset, bool leftPointer, std::uint32_t to, std::string* error);
  NodePtr<const Node> LoadNode(std::uint32_t offset, std::string* error) {
    return store_.Load(offset, keyLen_, fill_, error);
  }

  Store& store_;
  std::vector<Step> path_;  // reused by Insert and Remove
  std::string removed_;     // the key a removal in place may have to put back
  // A way down kept by a descent for the change that usually follows: by a
  // lookup, to the entry found (for its removal), or for an insertion, to
  // where the entry goes. Valid while neither this tree nor the file beyond
  // its nodes changes; an insertion's way also survives removals in place
  // (RemoveInPlace), which move entries within one leaf only.
  struct Way {
    std::vector<Step> steps;
    std::uint64_t changes = 0, epoch = 0;
    // The node cache's swap count before the descent, when it ran outside
    // a transaction: while it stands, every node of the way is still cached.
    std::uint64_t swaps = 0;
    bool swapsKnown = false;
    std::string key;
    std::uint32_t rec = 0;
    // Kept for (key, rec) and found since the tree's and the store's last
    // counted changes: the cheap part of WayHolds.
    bool Kept(std::string_view k, std::uint32_t r, std::uint64_t changesNow,
              std::uint64_t epochNow) const {
      return !steps.empty() && changes == changesNow && epoch == epochNow && rec == r && key == k;
    }
  };
  // Whether `way` still leads to the entry (found: lookupWay_) or to its
  // place (insertWay_).
  bool WayHolds(const Way& way, std::string_view key, std::uint32_t rec, bool found) const;
  // An insertion's (found false) or removal's way down into path_: the
  // kept way where it holds, else a fresh descent. Counts the change.
  bool WayForChange(std::string_view key, std::uint32_t rec, bool found, std::string* error);
  // Empties path_ and the lookup's way when an insertion or removal ends,
  // however it ends, and the insertion's way unless it was carried past a
  // removal in place.
  struct ClearWays {
    Tree& tree;
    bool keepInsertWay = false;
    ~ClearWays() {
      tree.path_.clear();
      tree.lookupWay_.steps.clear();
      if (!keepInsertWay) tree.insertWay_.steps.clear();
    }
  };
  // After a removal in place at `index` of `leaf`: the insertion's way,
  // if it held before, still leads to its place, one entry further left
  // when it lay beyond the removed entry in the same leaf.
  bool CarryInsertWay(const Node* leaf, std::size_t index, std::uint64_t changesBefore);
  bool BeginWay(Way& way, std::string_view key);
  bool EndWay(Way& way, std::string_view key, std::uint32_t rec, bool lookup);
  Way lookupWay_, insertWay_;
  std::uint64_t changes_ = 0;  // inserts and removals begun on this tree
  std::uint32_t root_;
  int keyLen_;
  char fill_;
};

// Depth beyond which a tree is taken as damaged (a loop among interior
// nodes); real trees of 512-byte pages stay far below it.
constexpr int kMaxDepth = 24;

}  // namespace xbe::cdx
