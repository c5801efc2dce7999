#pragma once
// The index files of a table, as the work-area layer drives them. CDX (one
// file, many tags) and NTX (one file, one key) implement this interface;
// the work area never touches index bytes itself.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Expression.h"

namespace xbe {

struct IndexEntry {
  std::string key;          // stored key bytes, KeyLength() long
  std::uint32_t recno = 0;  // 0 = no entry
};

// A position in one tag. Moves are in stored (ascending) order; for a
// descending tag the work area reverses them. A cursor notices when the tag
// was changed since it was positioned and re-finds its entry.
class TagCursor {
 public:
  virtual ~TagCursor() = default;
  virtual bool First() = 0;  // false on an empty tag
  virtual bool Last() = 0;
  virtual bool Next() = 0;   // false past the end (cursor then invalid)
  virtual bool Prev() = 0;
  // Positions on the first entry whose key is >= `key`, comparing only the
  // first key.size() bytes when `prefix` (character seek), else all bytes;
  // `found` tells whether that entry's compared bytes equal `key`. False
  // when no entry is >= key.
  virtual bool Seek(std::string_view key, bool prefix, bool& found) = 0;
  // Positions exactly on (key, recno); false when that entry is absent.
  virtual bool SeekEntry(const IndexEntry& entry) = 0;
  virtual bool Valid() const = 0;
  virtual const IndexEntry& Current() const = 0;
  // The record number of the entry `steps` entries after the current one in
  // stored order (before it when negative) when the cursor knows it without
  // any work, else 0. A hint for reading ahead, never a position.
  virtual std::uint32_t Ahead(int /*steps*/) const { return 0; }
  // One step as Next (Prev when !ascending) when it needs no work beyond
  // what the cursor holds: the cursor is valid, on an entry for record
  // `expect`, the tag unchanged since it was positioned, and the entry
  // reached lies in the same node. Then the record number of that entry,
  // and in `ahead` what Ahead(aheadSteps) would give from there. Otherwise
  // 0 with nothing moved: Next or Prev does the step.
  virtual std::uint32_t StepNear(bool /*ascending*/, std::uint32_t /*expect*/,
                                 int /*aheadSteps*/, std::uint32_t& ahead) {
    ahead = 0;
    return 0;
  }
};

class IndexTag {
 public:
  virtual ~IndexTag() = default;
  virtual const std::string& Name() const = 0;           // tag name, or NTX file name
  virtual const std::string& KeyExpression() const = 0;
  virtual const std::string& ForExpression() const = 0;  // empty when none
  virtual bool Descending() const = 0;
  virtual bool Unique() const = 0;
  virtual bool Candidate() const = 0;
  virtual char KeyType() const = 0;  // 'C', 'N', 'D', 'L'
  virtual int KeyLength() const = 0;

  // The key this tag stores for the current record of `record`, and whether
  // the record belongs in the tag (its FOR condition). False with *error
  // when an expression cannot be evaluated.
  virtual bool KeyFor(const RecordAccess& record, std::string& key, bool& included,
                      std::string* error) const = 0;
  // The search key for the text given to xb_Seek, converted as the key
  // type requires; `prefix` is set for character keys. False when the text
  // cannot be a key of this tag (then nothing is found).
  virtual bool SeekKey(std::string_view text, std::string& key, bool& prefix) const = 0;

  virtual std::unique_ptr<TagCursor> NewCursor() = 0;

  // Maintenance. Insert fails for an entry already present; Remove fails
  // when the entry is absent (an index built with other rules, or damaged):
  // callers check with Contains before changing anything.
  virtual bool Contains(const IndexEntry& entry) = 0;
  // Contains for several tags at once, each with its own entry: tags of one
  // file that can run their lookups side by side, so that their waits for
  // memory overlap, do. found[i] as tags[i]->Contains(*entries[i]).
  // Where given, the places of the entries that go in next (insertEntries
  // into insertTags, each tag at most once) are looked for side by side
  // with the lookups and kept for the insertions, as long as nothing but
  // the removals of the entries looked up changes the tags first.
  static void ContainsEach(IndexTag* const* tags, const IndexEntry* const* entries, bool* found,
                           std::size_t n, IndexTag* const* insertTags = nullptr,
                           const IndexEntry* const* insertEntries = nullptr,
                           std::size_t inserts = 0) {
    IndexTag* first = n > 0 ? tags[0] : (inserts > 0 ? insertTags[0] : nullptr);
    if (n + inserts > 1 &&
        first->Together({tags, entries, n}, found, {insertTags, insertEntries, inserts}))
      return;
    for (std::size_t i = 0; i < n; ++i) found[i] = tags[i]->Contains(*entries[i]);
  }
  // Before entries[i] are inserted into tags[i] (each tag at most once):
  // tags that can look for their places side by side do, and keep them
  // for the insertions, as long as nothing else changes the tags first.
  static void PrepareInserts(IndexTag* const* tags, const IndexEntry* const* entries,
                             std::size_t n) {
    if (n > 1) tags[0]->Together({}, nullptr, {tags, entries, n});
  }
  virtual bool Insert(const IndexEntry& entry, std::string* error) = 0;
  virtual bool Remove(const IndexEntry& entry, std::string* error) = 0;

 protected:
  struct TagEntries {
    IndexTag* const* tags = nullptr;
    const IndexEntry* const* entries = nullptr;
    std::size_t n = 0;
  };
  // The work of ContainsEach (lookups, found[i] for each) and of
  // PrepareInserts (inserts), where this kind of tag can do it for all of
  // them; false when it cannot (nothing done then).
  virtual bool Together(TagEntries /*lookups*/, bool* /*found*/, TagEntries /*inserts*/) {
    return false;
  }
};

// What an index needs of its table to build or check itself.
class TableScan {
 public:
  virtual ~TableScan() = default;
  virtual std::uint32_t RecordCount() const = 0;
  // Makes record `recno` (1..RecordCount) current in Record(); false on a
  // read error.
  virtual bool Load(std::uint32_t recno, std::string* error) = 0;
  virtual const RecordAccess& Record() const = 0;
};

class IndexFile {
 public:
  virtual ~IndexFile() = default;
  virtual int TagCount() const = 0;
  virtual IndexTag& Tag(int i) = 0;  // 0-based
  // Whether every tag can be kept correct on writes (keys reproducible,
  // expressions understood). False with *why when a read-write open must be
  // refused.
  virtual bool Maintainable(std::string* why) const = 0;
  // Writes every changed page and the header to disk (fsync).
  virtual bool Flush(std::string* error) = 0;
  // Verifies every tag against the table: order, key count, each record's
  // key present exactly once where the FOR condition holds, no dangling
  // record numbers, node structure. Appends findings to *report.
  virtual bool Check(TableScan& table, std::string* report) = 0;
};

}  // namespace xbe
