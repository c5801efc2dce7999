#include "cdx/CdxFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "KeySort.h"
#include "PageSet.h"
#include "Prefetch.h"
#include "cdx/CdxKeys.h"

namespace xbe::cdx {

namespace {

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

std::string RightTrim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// The NUL-ended text at [pos, pos+len) of the pool; false when outside.
bool PoolText(const Page& pool, unsigned pos, unsigned len, std::string& out) {
  if (pos + len > kPageSize) return false;
  out.clear();
  for (unsigned i = pos; i < pos + len && pool[i] != 0; ++i) out += static_cast<char>(pool[i]);
  return true;
}

class CdxCursor : public TagCursor {
 public:
  CdxCursor(CdxTag& tag) : tag_(tag), tree_(tag.GetTree()) {}

  bool First() override {
    tree_.GetStore().Refresh();
    std::string err;
    return Settle(tree_.First(pos_, &err), err);
  }
  bool Last() override {
    tree_.GetStore().Refresh();
    std::string err;
    return Settle(tree_.Last(pos_, &err), err);
  }
  bool Next() override {
    if (!valid_) return false;
    std::string err;
    if (Stale()) {
      // The tag changed under us: find our entry again, or the one after it.
      if (!tree_.LowerBound(cur_.key, cur_.recno, pos_, &err)) return Settle(false, err);
      if (!Exact()) return Settle(true, err);
    }
    return Settle(tree_.Next(pos_, &err), err);
  }
  bool Prev() override {
    if (!valid_) return false;
    std::string err;
    if (Stale() && !tree_.LowerBound(cur_.key, cur_.recno, pos_, &err)) {
      if (!err.empty()) return Settle(false, err);
      return Settle(tree_.Last(pos_, &err), err);
    }
    return Settle(tree_.Prev(pos_, &err), err);
  }
  bool Seek(std::string_view key, bool prefix, bool& found) override {
    tree_.GetStore().Refresh();
    found = false;
    // The key in a buffer kept from seek to seek.
    std::string& k = seekKey_;
    const auto len = static_cast<std::size_t>(tree_.KeyLength());
    const std::size_t take = std::min(key.size(), len);
    k.resize(prefix ? take : len);
    std::memcpy(k.data(), key.data(), take);
    if (!prefix && take < len) std::memset(k.data() + take, tree_.Fill(), len - take);
    std::string err;
    if (!Settle(tree_.SeekKey(k, prefix, pos_, &err), err)) return false;
    found = cur_.key.size() >= k.size() &&
            CompareKeys(std::string_view(cur_.key).substr(0, k.size()), k) == 0;
    return true;
  }
  bool SeekEntry(const IndexEntry& entry) override {
    tree_.GetStore().Refresh();
    std::string err;
    if (!Settle(tree_.LowerBound(entry.key, entry.recno, pos_, &err), err)) return false;
    if (cur_.key == entry.key && cur_.recno == entry.recno) return true;
    valid_ = false;
    return false;
  }
  bool Valid() const override { return valid_; }
  const IndexEntry& Current() const override { return cur_; }
  std::uint32_t Ahead(int steps) const override {
    if (!valid_ || Stale()) return 0;
    const std::int64_t at = static_cast<std::int64_t>(pos_.index) + steps;
    if (at < 0 || at >= static_cast<std::int64_t>(pos_.leaf->Count())) return 0;
    return pos_.leaf->recs[static_cast<std::size_t>(at)];
  }
  std::uint32_t StepNear(bool ascending, std::uint32_t expect, int aheadSteps,
                         std::uint32_t& ahead) override {
    ahead = 0;
    if (!valid_ || cur_.recno != expect || Stale()) return 0;
    const Node& leaf = *pos_.leaf;
    const std::size_t count = leaf.Count();
    const std::size_t len = cur_.key.size();
    if (len != static_cast<std::size_t>(leaf.keyLen)) return 0;
    std::size_t i = pos_.index;
    // Within one leaf a step needs no check of the order: it cannot leave
    // the leaf's entries, so even a leaf whose keys are out of order ends.
    // Crossing to another leaf takes Tree's way, which checks the order.
    if (ascending) {
      if (i + 1 >= count) return 0;
      ++i;
    } else {
      if (i == 0 || i > count) return 0;
      --i;
    }
    const std::uint32_t rec = leaf.recs[i];
    if (rec == 0) return 0;
    pos_.index = i;
    cur_.recno = rec;
    // Before the first entry `at` wraps round to far beyond the last.
    const std::size_t at = i + static_cast<std::size_t>(static_cast<std::ptrdiff_t>(aheadSteps));
    if (at < count) ahead = leaf.recs[at];
    // The next line of record numbers, so that the look ahead of the steps
    // to come does not wait for it: a leaf's few lines are too short a run
    // for the processor to notice.
    const std::size_t later = at + static_cast<std::size_t>(std::ptrdiff_t{ascending ? 16 : -16});
    if (later < count) PrefetchLine(leaf.recs.data() + later);
    std::memcpy(cur_.key.data(), leaf.keys.data() + i * len, len);
    return rec;
  }

 private:
  bool Stale() const { return gen_ != tree_.GetStore().Generation(); }
  bool Exact() const {
    return pos_.leaf && pos_.leaf->Key(pos_.index) == cur_.key &&
           pos_.leaf->recs[pos_.index] == cur_.recno;
  }
  bool Settle(bool ok, const std::string& err) {
    if (!err.empty()) tag_.SetLastError("tag " + tag_.Name() + ": " + err);
    valid_ = ok && pos_.leaf && pos_.index < pos_.leaf->Count();
    if (valid_) {
      const std::string_view key = pos_.leaf->Key(pos_.index);
      // Keys of a tag have one length: a walk copies them without the
      // string's general assignment.
      if (cur_.key.size() == key.size())
        std::memcpy(cur_.key.data(), key.data(), key.size());
      else
        cur_.key.assign(key);
      cur_.recno = pos_.leaf->recs[pos_.index];
      gen_ = tree_.GetStore().Generation();
    } else {
      pos_ = Tree::Pos();
    }
    return valid_;
  }

  CdxTag& tag_;
  Tree& tree_;
  Tree::Pos pos_;
  IndexEntry cur_;
  std::string seekKey_;
  std::uint64_t gen_ = 0;
  bool valid_ = false;
};

}  // namespace

bool ParseTagHeader(Store& store, std::uint32_t offset, TagHeader& out, std::string* error) {
  Page p, pool;
  if (!store.ValidPage(offset, 2) && offset != 0)
    return Fail(error, "tag header at " + Hex(offset) + " lies outside the file");
  if (!store.ReadPage(offset, p, error) || !store.ReadPage(offset + kPageSize, pool, error))
    return false;
  out.offset = offset;
  out.root = Get32(p.data());
  out.keyLen = Get16(p.data() + 12);
  out.options = p[14];
  out.collation.clear();
  for (int i = 0x1EE; i < 0x1F6 && p[static_cast<std::size_t>(i)]; ++i)
    out.collation += static_cast<char>(p[static_cast<std::size_t>(i)]);
  out.descending = Get16(p.data() + 0x1F6) != 0;
  unsigned forPos = Get16(p.data() + 0x1F8), forLen = Get16(p.data() + 0x1FA);
  unsigned keyPos = Get16(p.data() + 0x1FC), keyLen = Get16(p.data() + 0x1FE);
  const std::string at = "index header at " + Hex(offset) + ": ";
  if (out.keyLen < 1 || out.keyLen > kMaxKeyLength)
    return Fail(error, at + "key length " + std::to_string(out.keyLen) + " out of range");
  if (!store.ValidPage(out.root))
    return Fail(error, at + "root " + Hex(out.root) + " is not a page of the file");
  if (!PoolText(pool, keyPos, keyLen, out.keyExpr) || !PoolText(pool, forPos, forLen, out.forExpr))
    return Fail(error, at + "expressions lie outside the header");
  return true;
}

std::string MakeTagHeader(const TagHeader& h) {
  std::string out(2 * kPageSize, '\0');
  auto* p = reinterpret_cast<std::uint8_t*>(out.data());
  Put32(p, h.root);
  Put16(p + 12, static_cast<std::uint32_t>(h.keyLen));
  p[14] = h.options;
  p[15] = 1;
  Put16(p + 0x1F6, h.descending ? 1 : 0);
  const auto keyLen = static_cast<std::uint32_t>(h.keyExpr.size());
  Put16(p + 0x1F8, keyLen + 1);
  Put16(p + 0x1FA, static_cast<std::uint32_t>(h.forExpr.size()) + 1);
  Put16(p + 0x1FC, 0);
  Put16(p + 0x1FE, keyLen + 1);
  std::memcpy(p + kPageSize, h.keyExpr.data(), h.keyExpr.size());
  std::memcpy(p + kPageSize + keyLen + 1, h.forExpr.data(), h.forExpr.size());
  return out;
}

std::string MakeEmptyFile() {
  TagHeader dir;
  dir.root = 2 * kPageSize;
  dir.keyLen = 10;
  dir.options = kOptCompact | kOptCompound | kOptStructure;
  std::string out = MakeTagHeader(dir);
  Node root;
  root.keyLen = 10;
  root.leaf = true;
  root.attr = 3;
  Page page;
  EncodeNode(root, ' ', page.data());
  out.append(reinterpret_cast<const char*>(page.data()), kPageSize);
  return out;
}

// ---------------------------------------------------------------- CdxTag

CdxTag::CdxTag(CdxFile& file, TagHeader header, const RecordAccess& layout)
    : file_(file), h_(std::move(header)) {
  std::string err;
  bool usable = keys_.Init(h_.keyExpr, h_.forExpr, layout, h_.keyLen, &err);
  std::string coll = Upper(RightTrim(h_.collation));
  if (!coll.empty() && coll != "MACHINE")
    why_ = "tag " + h_.name + " was built with the collation " + coll +
           ", whose keys this engine cannot reproduce";
  else if (!usable)
    why_ = "tag " + h_.name + ": " + err;
  tree_ = std::make_unique<Tree>(file.GetStore(), h_.root, h_.keyLen, keys_.Fill());
}

bool CdxTag::KeyFor(const RecordAccess& record, std::string& key, bool& included,
                    std::string* error) const {
  if (!why_.empty()) return Fail(error, why_);
  if (!keys_.KeyFor(record, key, included, error)) {
    if (error) *error = "tag " + h_.name + ": " + *error;
    return false;
  }
  return true;
}

bool CdxTag::SeekKey(std::string_view text, std::string& key, bool& prefix) const {
  return keys_.SeekKey(text, key, prefix);
}

std::unique_ptr<TagCursor> CdxTag::NewCursor() { return std::make_unique<CdxCursor>(*this); }

bool CdxTag::Contains(const IndexEntry& entry) {
  file_.GetStore().Refresh();
  std::string err;
  bool found = tree_->Contains(entry.key, entry.recno, &err);
  if (!err.empty()) lastError_ = "tag " + h_.name + ": " + err;
  return found;
}

bool CdxTag::Together(TagEntries lookups, bool* found, TagEntries inserts) {
  // Side by side pays where the searches wait for main memory; it costs
  // more work per level than one search after the other. Beyond a table's
  // usual handful of tags, one at a time will do.
  Store& store = file_.GetStore();
  constexpr std::size_t kMost = Tree::kMostTogether;
  if (lookups.n > kMost || inserts.n > kMost || !store.BeyondProcessorCaches()) return false;
  store.Refresh();
  // Ways kept for insertions serve only changes in place (exclusive use).
  // Where they would not fit beside the lookups, the insertions look for
  // their places later, just before they go in.
  if (!store.InPlace() || lookups.n + inserts.n > kMost) inserts.n = 0;
  if (lookups.n + inserts.n == 0) return true;
  Tree* trees[kMost];
  std::string_view keys[kMost];
  std::uint32_t recs[kMost];
  bool lookup[kMost], hits[kMost];
  std::string errors[kMost];
  CdxTag* cdx[kMost];
  std::size_t n = 0;
  // Tags of this file, each once per kind: a tree keeps one way of each.
  auto add = [&](const TagEntries& group, bool isLookup) {
    for (std::size_t i = 0; i < group.n; ++i) {
      CdxTag* tag = file_.OwnTag(group.tags[i]);
      if (!tag || std::find(group.tags, group.tags + i, group.tags[i]) != group.tags + i)
        return false;
      const IndexEntry& entry = *group.entries[i];
      // An insertion whose way is still kept (found with the lookups and
      // carried past a removal in place) needs no new descent.
      if (!isLookup && tag->tree_->KeepsWayToInsert(entry.key, entry.recno)) continue;
      cdx[n] = tag;
      trees[n] = tag->tree_.get();
      keys[n] = entry.key;
      recs[n] = entry.recno;
      lookup[n] = isLookup;
      ++n;
    }
    return true;
  };
  if (!add(lookups, true) || !add(inserts, false)) return false;
  if (n == 0) return true;
  Tree::DescendTogether(trees, keys, recs, lookup, n, hits, errors);
  for (std::size_t i = 0; i < lookups.n; ++i) {
    found[i] = hits[i];
    // Ways for insertions are only a start: an insertion reports its own
    // errors.
    if (!errors[i].empty()) cdx[i]->lastError_ = "tag " + cdx[i]->h_.name + ": " + errors[i];
  }
  return true;
}

bool CdxTag::Writable(std::string* error) const {
  file_.GetStore().Refresh();
  if (!file_.GetStore().Writable())
    return Fail(error, file_.GetStore().Path() + ": index opened read-only");
  if (!why_.empty()) return Fail(error, why_);
  return true;
}

bool CdxTag::Insert(const IndexEntry& entry, std::string* error) {
  if (!Writable(error)) return false;
  if (Unique() || Candidate()) {
    // Only the first record of a key value belongs in a unique tag; a
    // candidate tag refuses a second one.
    std::string err;
    Tree::Pos pos;
    if (tree_->SeekKey(entry.key, false, pos, &err) && pos.leaf->Key(pos.index) == entry.key) {
      if (Candidate())
        return Fail(error, "key " + ShowKey(entry.key, KeyType()) + " already belongs to record " +
                               std::to_string(pos.leaf->recs[pos.index]));
      return true;
    }
    if (!err.empty()) return Fail(error, err);
  }
  // The work area names the file and the tag in what goes wrong.
  return tree_->Insert(entry.key, entry.recno, error);
}

bool CdxTag::Remove(const IndexEntry& entry, std::string* error) {
  if (!Writable(error)) return false;
  return tree_->Remove(entry.key, entry.recno, error);
}

// ---------------------------------------------------------------- CdxFile

CdxFile::~CdxFile() {
  std::string ignored;
  if (store_.Writable()) store_.Flush(&ignored);
}

bool CdxFile::Directory(std::vector<Entry>& out, std::string* error) {
  out.clear();
  Tree::Pos pos;
  std::string err;
  bool ok = dir_->First(pos, &err);
  const std::uint64_t limit = store_.Size() / kPageSize * 64;
  while (ok) {
    out.push_back({std::string(pos.leaf->Key(pos.index)), pos.leaf->recs[pos.index]});
    if (out.size() > limit) return Fail(error, "tag directory does not end");
    ok = dir_->Next(pos, &err);
  }
  if (!err.empty()) return Fail(error, "tag directory: " + err);
  return true;
}

bool CdxFile::Load(const RecordAccess& layout, std::string* error) {
  if (store_.Size() < 3 * kPageSize) return Fail(error, "not a CDX file (too short)");
  TagHeader dir;
  std::string err;
  if (!ParseTagHeader(store_, 0, dir, &err)) return Fail(error, "file header: " + err);
  if (dir.keyLen != 10)
    return Fail(error, "not a CDX file (tag directory key length " + std::to_string(dir.keyLen) + ")");
  dir_ = std::make_unique<Tree>(store_, dir.root, 10, ' ');
  std::vector<Entry> names;
  if (!Directory(names, error)) return false;
  std::set<std::uint32_t> headers;
  for (const Entry& e : names) {
    TagHeader h;
    if (!ParseTagHeader(store_, e.rec, h, &err) || e.rec == 0)
      return Fail(error, "tag " + RightTrim(e.key) + ": " + (e.rec == 0 ? "no header" : err));
    if (!headers.insert(e.rec).second)
      return Fail(error, "tag " + RightTrim(e.key) + " shares its header with another tag");
    h.name = RightTrim(e.key);
    tags_.push_back(std::make_unique<CdxTag>(*this, std::move(h), layout));
  }
  // Users number tags in creation order, which is the order of the headers.
  std::sort(tags_.begin(), tags_.end(), [](const auto& a, const auto& b) {
    return a->Header().offset < b->Header().offset;
  });
  return true;
}

CdxTag* CdxFile::FindTag(const std::string& name) {
  for (auto& t : tags_)
    if (Upper(t->Name()) == Upper(name)) return t.get();
  return nullptr;
}

bool CdxFile::Maintainable(std::string* why) const {
  for (const auto& t : tags_)
    if (!t->NotMaintainable().empty()) return Fail(why, t->NotMaintainable());
  return true;
}

bool CdxFile::Flush(std::string* error) { return store_.Flush(error); }

bool CdxFile::DropTag(const std::string& name, std::string* error) {
  CdxTag* tag = FindTag(name);
  if (!tag) return true;
  std::vector<std::uint32_t> pages;
  // A damaged tree is dropped without freeing its nodes: a page that might
  // still belong to another tree must never reach the free list.
  std::string ignored;
  if (!tag->GetTree().CollectPages(pages, &ignored)) pages.clear();
  std::string key = Upper(name);
  key.resize(10, ' ');
  const std::uint32_t header = tag->Header().offset;
  if (!dir_->Remove(key, header, error)) return false;
  tags_.erase(std::find_if(tags_.begin(), tags_.end(), [&](const auto& t) { return t.get() == tag; }));
  // Each page is freed on its own: one transaction would hold every page of
  // a large tag in memory.
  for (std::uint32_t page : pages)
    if (!store_.FreePage(page, error)) return false;
  return store_.FreePage(header, error) && store_.FreePage(header + kPageSize, error);
}

namespace {

// Record numbers lead the records of a check's streams big-endian, so that
// byte order is record order.
void PutBE(char* p, std::uint32_t v) { Put32BE(reinterpret_cast<std::uint8_t*>(p), v); }
std::uint32_t GetBE(const char* p) { return Get32BE(reinterpret_cast<const std::uint8_t*>(p)); }

// Fixed-size records taken back in ascending byte order: straight from the
// spool that holds them when they were written in that order, else through
// a KeySorter.
class OrderedRecords {
 public:
  // `spool` is finished; `size` is its record size.
  bool Open(RecordSpool& spool, std::size_t size, bool inOrder, const std::string& beside,
            std::size_t memory, std::string* error) {
    spool_ = &spool;
    if (inOrder) return true;
    sorter_ = std::make_unique<KeySorter>(beside, size, SortMemoryFor(spool.Count(), size, memory));
    const char* r;
    while (spool.Next(r))
      if (!sorter_->Add(std::string_view(r, size), 0, error)) return false;
    if (!spool.Error().empty()) return Fail(error, spool.Error());
    return sorter_->Finish(error);
  }
  // The next record; null at the end, or on a read error (Error() says).
  const char* Next() {
    if (sorter_) {
      std::string_view r;
      std::uint32_t unused;
      return sorter_->Next(r, unused) ? r.data() : nullptr;
    }
    const char* r;
    return spool_->Next(r) ? r : nullptr;
  }
  const std::string& Error() const { return sorter_ ? sorter_->Error() : spool_->Error(); }

 private:
  RecordSpool* spool_ = nullptr;
  std::unique_ptr<KeySorter> sorter_;
};

// The first few of many, and how many there were.
struct Firsts {
  std::vector<std::uint32_t> recs;
  std::uint64_t count = 0;
  void Add(std::uint32_t rec) {
    if (recs.size() < 50) recs.push_back(rec);
    ++count;
  }
};

}  // namespace

// Every stream of a tag's check goes through temporary files beside the
// index once it outgrows its share of SortMemory(), so memory stays the
// same whatever the size of the table: while the trees are walked and the
// table read, each tag holds two spools of a small share; the comparison
// then runs tag by tag, with the budget split between the tree's entries
// sorted by record and the table's keys.
bool CdxFile::Check(TableScan& table, std::string* report) {
  store_.Refresh();
  // A check reads every node once and gains nothing from keeping them: a
  // store without unwritten changes runs it on small caches, so that its
  // memory stays small whatever the size of the index. (With changes
  // waiting, smaller caches would write them out early; then the caches
  // keep their bounds.)
  struct SmallCaches {
    Store& store;
    std::size_t nodes, pages;
    bool active;
    explicit SmallCaches(Store& s)
        : store(s), nodes(s.MaxNodeBytes()), pages(s.MaxPages()), active(!s.HasDirtyPages()) {
      if (active)
        store.SetCacheLimits(std::min<std::size_t>(nodes, std::size_t{8} << 20),
                             std::min<std::size_t>(pages, 1024));
    }
    ~SmallCaches() {
      if (active) store.SetCacheLimits(nodes, pages);
    }
  } smallCaches(store_);
  std::string out;
  bool ok = true;
  PageSet pages(store_.Size(), kPageSize);
  pages.Insert(0);
  const Tree::PageSink usePage = [&pages](std::uint32_t offset) { return pages.Insert(offset); };
  if (!dir_->CheckStructure("tag directory: ", [](std::string_view, std::uint32_t) {}, usePage, &out))
    ok = false;
  for (auto& t : tags_) {
    pages.Insert(t->Header().offset / kPageSize * kPageSize);
    pages.Insert(t->Header().offset + kPageSize);
  }

  const std::string& beside = store_.Path();
  const std::size_t memory = SortMemory();
  const std::size_t spoolMemory =
      std::max<std::size_t>(memory / (8 * std::max<std::size_t>(tags_.size(), 1)), std::size_t{4} << 10);
  const std::uint32_t records = table.RecordCount();

  struct TagCheck {
    std::size_t keyLen = 0;
    std::uint64_t entries = 0;  // all of the tree's
    Firsts beyond;              // entries for records the table lacks, in tree order
    // The tree's other entries as record, place in the tree, key; in tree
    // order, which is record order only for some tags.
    std::unique_ptr<RecordSpool> tree;
    bool treeInOrder = true;
    std::uint32_t lastRec = 0;
    // The table's keys as record, key; in record order.
    std::unique_ptr<RecordSpool> expected;
    bool checkKeys = false;
    std::string unverified;  // why the keys could not be compared
  };
  std::vector<TagCheck> ex(tags_.size());
  std::string item;
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    CdxTag& t = *tags_[i];
    TagCheck& c = ex[i];
    c.keyLen = static_cast<std::size_t>(t.KeyLength());
    c.checkKeys = t.NotMaintainable().empty();
    if (c.checkKeys) c.tree = std::make_unique<RecordSpool>(beside, 8 + c.keyLen, spoolMemory);
    const std::string label = "tag " + t.Name() + ": ";
    auto entry = [&](std::string_view key, std::uint32_t rec) {
      const std::uint64_t place = c.entries++;
      if (rec == 0 || rec > records) {
        c.beyond.Add(rec);
        return;
      }
      if (!c.tree) return;
      if (rec < c.lastRec) c.treeInOrder = false;
      c.lastRec = rec;
      item.resize(8);
      PutBE(item.data(), rec);
      PutBE(item.data() + 4, static_cast<std::uint32_t>(place));
      item.append(key);
      item.resize(8 + c.keyLen, '\0');
      if (!c.tree->Append(item.data(), &c.unverified)) c.tree.reset();
    };
    if (!t.GetTree().CheckStructure(label, entry, usePage, &out)) ok = false;
    if (!c.checkKeys) out += t.NotMaintainable() + " (keys not verified)\n";
    else if (c.unverified.empty())
      c.expected = std::make_unique<RecordSpool>(beside, 4 + c.keyLen, spoolMemory);
  }

  // One pass over the table computes every tag's keys.
  for (std::uint32_t r = 1; r <= records; ++r) {
    bool any = false;
    for (auto& e : ex) any = any || e.checkKeys;
    if (!any) break;
    std::string err;
    if (!table.Load(r, &err)) {
      out += "record " + std::to_string(r) + " cannot be read: " + err + "\n";
      ok = false;
      break;
    }
    for (std::size_t i = 0; i < tags_.size(); ++i) {
      TagCheck& c = ex[i];
      if (!c.checkKeys) continue;
      std::string key;
      bool included = false;
      if (!tags_[i]->KeyFor(table.Record(), key, included, &err)) {
        out += err + " (record " + std::to_string(r) + ")\n";
        c.checkKeys = false;
        c.tree.reset();
        c.expected.reset();
        ok = false;
        continue;
      }
      if (!included || !c.expected) continue;
      item.resize(4);
      PutBE(item.data(), r);
      item.append(key);
      item.resize(4 + c.keyLen, tags_[i]->GetTree().Fill());
      if (!c.expected->Append(item.data(), &c.unverified)) c.expected.reset();
    }
  }

  for (std::size_t i = 0; i < tags_.size(); ++i) {
    CdxTag& t = *tags_[i];
    TagCheck& c = ex[i];
    const std::string label = "tag " + t.Name() + ": ";
    const char type = t.KeyType();
    std::uint64_t findings = 0;
    auto finding = [&](const std::string& text) {
      ok = false;
      if (++findings <= 50) out += label + text + "\n";
    };
    auto moreFindings = [&] {
      if (findings > 50) out += label + std::to_string(findings - 50) + " more findings\n";
    };
    for (std::uint32_t rec : c.beyond.recs)
      finding("entry for record " + std::to_string(rec) + " beyond the table (" +
              std::to_string(records) + " records)");
    if (c.beyond.count > c.beyond.recs.size()) {
      ok = false;
      findings += c.beyond.count - c.beyond.recs.size();
    }
    if (!c.checkKeys) {
      moreFindings();
      continue;
    }
    std::uint64_t expectedCount = 0;
    std::string err = c.unverified;
    if (err.empty()) {
      // Per record: the tree's entries in tree order (tree), the key the
      // table gives (expected).
      std::unique_ptr<RecordSpool> firsts;
      OrderedRecords tree, expected;
      const std::size_t treeSize = 8 + c.keyLen, size = 4 + c.keyLen;
      bool ready = c.tree->Finish(&err) && c.expected->Finish(&err);
      if (ready && t.Unique()) {
        // Only the first record of each key belongs: sorted by key, the
        // later records of a key drop out; the rest go back to record order.
        firsts = std::make_unique<RecordSpool>(beside, size, spoolMemory);
        {
          KeySorter byKey(beside, c.keyLen, SortMemoryFor(c.expected->Count(), c.keyLen, memory / 2));
          const char* r;
          while (ready && c.expected->Next(r))
            ready = byKey.Add(std::string_view(r + 4, c.keyLen), GetBE(r), &err);
          if (ready && !c.expected->Error().empty()) {
            err = c.expected->Error();
            ready = false;
          }
          c.expected.reset();
          ready = ready && byKey.Finish(&err);
          std::string last;
          std::string_view key;
          std::uint32_t rec;
          for (bool first = true; ready && byKey.Next(key, rec); first = false) {
            if (!first && key == last) continue;
            last.assign(key);
            item.resize(4);
            PutBE(item.data(), rec);
            item.append(key);
            ready = firsts->Append(item.data(), &err);
          }
          if (ready && !byKey.Error().empty()) {
            err = byKey.Error();
            ready = false;
          }
        }
        ready = ready && firsts->Finish(&err) &&
                expected.Open(*firsts, size, false, beside, memory / 2, &err);
      } else if (ready) {
        ready = expected.Open(*c.expected, size, true, beside, 0, &err);
      }
      ready = ready && tree.Open(*c.tree, treeSize, c.treeInOrder, beside, memory / 2, &err);

      Firsts extra;  // records the tree holds but the table does not put in the tag
      const char* e = ready ? expected.Next() : nullptr;
      const char* k = ready ? tree.Next() : nullptr;
      std::string treeKey;
      while (ready && (e || k)) {
        const std::uint32_t expRec = e ? GetBE(e) : 0;
        const std::uint32_t treeRec = k ? GetBE(k) : 0;
        if (!e || (k && treeRec < expRec)) {
          extra.Add(treeRec);
          while ((k = tree.Next()) && GetBE(k) == treeRec) {
          }
          continue;
        }
        ++expectedCount;
        if (!k || expRec < treeRec) {
          finding("record " + std::to_string(expRec) + " key missing");
        } else {
          // The first of the record's entries in tree order is compared.
          treeKey.assign(k + 8, c.keyLen);
          std::uint64_t times = 1;
          while ((k = tree.Next()) && GetBE(k) == treeRec) ++times;
          if (times > 1)
            finding("record " + std::to_string(expRec) + " indexed " + std::to_string(times) + " times");
          const std::string_view expKey(e + 4, c.keyLen);
          if (treeKey != expKey)
            finding("record " + std::to_string(expRec) + " has key " + ShowKey(treeKey, type) +
                    ", expected " + ShowKey(expKey, type));
        }
        e = expected.Next();
      }
      if (ready && !expected.Error().empty()) err = expected.Error();
      if (ready && err.empty() && !tree.Error().empty()) err = tree.Error();
      if (err.empty()) {
        for (std::uint32_t rec : extra.recs)
          finding("record " + std::to_string(rec) + " indexed although it does not belong in the tag");
        if (extra.count > extra.recs.size()) {
          ok = false;
          findings += extra.count - extra.recs.size();
        }
      }
    }
    if (!err.empty()) {
      // A temporary file could not be written or read back (a folder
      // without write access, a full disk): the keys stay unchecked.
      finding("keys not verified, a temporary file failed: " + err);
    } else if (c.entries != expectedCount) {
      finding(std::to_string(c.entries) + " keys, expected " + std::to_string(expectedCount));
    }
    c.tree.reset();
    c.expected.reset();
    moreFindings();
  }

  // The free list: sound pages, used by no tree, no loop.
  Page header;
  std::string err;
  if (store_.ReadPage(0, header, &err)) {
    std::uint32_t free = Get32(header.data() + 4);
    PageSet seen(store_.Size(), kPageSize);
    while (free != 0 && free != kNoPage) {
      if (!store_.ValidPage(free)) {
        out += "free list: " + Hex(free) + " is not a page of the file\n";
        ok = false;
        break;
      }
      if (!seen.Insert(free)) {
        out += "free list: loops at " + Hex(free) + "\n";
        ok = false;
        break;
      }
      if (pages.Contains(free)) {
        out += "free list: page " + Hex(free) + " is also in use\n";
        ok = false;
      }
      Page p;
      if (!store_.ReadPage(free, p, &err)) break;
      free = Get32(p.data());
    }
  }
  if (report) *report += out;
  return ok;
}

}  // namespace xbe::cdx
