#pragma once
// The CDX file as the engine sees it: the tag directory, the tags in
// creation order, and the IndexFile operations over them.
//
//   0x0000  file header (1024 bytes): root of the tag directory, free-list
//           head, key length 10, options 0xE0
//   ...     directory tree: keys are tag names (upper case, blank padded),
//           "record numbers" are the offsets of the tag headers
//   tag header (1024 bytes, at a directory entry's offset):
//     +0 root u32 | +12 key length u16 | +14 options | +15 signature 1
//     +0x1EE collation name | +0x1F6 descending u16 | +0x1F8 FOR position
//     +0x1FA FOR length incl. NUL | +0x1FC key position | +0x1FE key length
//     incl. NUL | +0x200 expression pool: key NUL FOR NUL
#include <memory>
#include <string>
#include <vector>

#include "Index.h"
#include "cdx/CdxKeyMaker.h"
#include "cdx/CdxStore.h"
#include "cdx/CdxTree.h"

namespace xbe::cdx {

enum Options : std::uint8_t {
  kOptUnique = 0x01,
  kOptCandidate = 0x04,
  kOptFor = 0x08,
  kOptCompact = 0x20,
  kOptCompound = 0x40,
  kOptStructure = 0x80,
};

struct TagHeader {
  std::string name;
  std::uint32_t offset = 0;  // of the 1024-byte header
  std::uint32_t root = 0;
  int keyLen = 0;
  std::uint8_t options = 0;
  bool descending = false;
  std::string keyExpr, forExpr, collation;
};

// Parses a tag header (two pages at `offset`). False with *error when a
// field lies outside the header.
bool ParseTagHeader(Store& store, std::uint32_t offset, TagHeader& out, std::string* error);
// The 1024 bytes of a tag header.
std::string MakeTagHeader(const TagHeader& h);
// A file with an empty tag directory.
std::string MakeEmptyFile();

class CdxFile;

class CdxTag : public IndexTag {
 public:
  CdxTag(CdxFile& file, TagHeader header, const RecordAccess& layout);

  const std::string& Name() const override { return h_.name; }
  const std::string& KeyExpression() const override { return h_.keyExpr; }
  const std::string& ForExpression() const override { return h_.forExpr; }
  bool Descending() const override { return h_.descending; }
  bool Unique() const override { return (h_.options & kOptUnique) != 0; }
  bool Candidate() const override { return (h_.options & kOptCandidate) != 0; }
  char KeyType() const override { return keys_.Type(); }
  int KeyLength() const override { return h_.keyLen; }
  bool KeyFor(const RecordAccess& record, std::string& key, bool& included,
              std::string* error) const override;
  bool SeekKey(std::string_view text, std::string& key, bool& prefix) const override;
  std::unique_ptr<TagCursor> NewCursor() override;
  bool Contains(const IndexEntry& entry) override;
  bool Together(TagEntries lookups, bool* found, TagEntries inserts) override;
  bool Insert(const IndexEntry& entry, std::string* error) override;
  bool Remove(const IndexEntry& entry, std::string* error) override;

  // Why the tag cannot be kept up to date; empty when it can.
  const std::string& NotMaintainable() const { return why_; }
  const TagHeader& Header() const { return h_; }
  Tree& GetTree() { return *tree_; }
  const KeyMaker& Keys() const { return keys_; }
  // The last damage met while walking or searching, for the caller's error.
  const std::string& LastError() const { return lastError_; }
  void SetLastError(std::string e) { lastError_ = std::move(e); }

 private:
  bool Writable(std::string* error) const;
  CdxFile& file_;
  TagHeader h_;
  KeyMaker keys_;
  std::unique_ptr<Tree> tree_;
  std::string why_;
  std::string lastError_;
};

class CdxFile : public IndexFile {
 public:
  // Reads the directory and the tag headers from `store` (already open).
  bool Load(const RecordAccess& layout, std::string* error);
  ~CdxFile() override;

  int TagCount() const override { return static_cast<int>(tags_.size()); }
  IndexTag& Tag(int i) override { return *tags_[static_cast<std::size_t>(i)]; }
  bool Maintainable(std::string* why) const override;
  bool Flush(std::string* error) override;
  bool Check(TableScan& table, std::string* report) override;

  Store& GetStore() { return store_; }
  CdxTag* FindTag(const std::string& name);
  // `tag` as this file's own, or null when it belongs elsewhere: a look
  // through a table's handful of tags, cheaper than a cast per edit.
  CdxTag* OwnTag(const IndexTag* tag) const {
    for (const auto& t : tags_)
      if (static_cast<const IndexTag*>(t.get()) == tag) return t.get();
    return nullptr;
  }
  // Directory entries (name as stored, header offset) in key order.
  bool Directory(std::vector<Entry>& out, std::string* error);
  // Removes a tag: its directory entry, header and nodes (pages go to the
  // free list; the nodes of a damaged tree are left where they are). Not
  // all or nothing: a failure part-way can leave pages off the free list,
  // so it is meant for a copy that is discarded when anything fails.
  bool DropTag(const std::string& name, std::string* error);
  Tree& DirectoryTree() { return *dir_; }

 private:
  bool CheckTag(CdxTag& tag, TableScan& table, std::set<std::uint32_t>& pages,
                std::string* report);
  Store store_;
  std::unique_ptr<Tree> dir_;
  std::vector<std::unique_ptr<CdxTag>> tags_;
};

}  // namespace xbe::cdx
