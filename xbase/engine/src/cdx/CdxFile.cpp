#include "cdx/CdxFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

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
    std::string k(key);
    const auto len = static_cast<std::size_t>(tree_.KeyLength());
    if (k.size() > len) k.resize(len);
    if (!prefix) k.resize(len, tree_.Fill());
    std::string err;
    if (!Settle(tree_.SeekKey(k, prefix, pos_, &err), err)) return false;
    found = std::string_view(cur_.key).substr(0, k.size()) == k;
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
        return Fail(error, "tag " + h_.name + ": key " + ShowKey(entry.key, KeyType()) +
                               " already belongs to record " +
                               std::to_string(pos.leaf->recs[pos.index]));
      return true;
    }
    if (!err.empty()) return Fail(error, "tag " + h_.name + ": " + err);
  }
  if (!tree_->Insert(entry.key, entry.recno, error)) {
    if (error) *error = "tag " + h_.name + ": " + *error;
    return false;
  }
  return true;
}

bool CdxTag::Remove(const IndexEntry& entry, std::string* error) {
  if (!Writable(error)) return false;
  if (!tree_->Remove(entry.key, entry.recno, error)) {
    if (error) *error = "tag " + h_.name + ": " + *error;
    return false;
  }
  return true;
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

bool CdxFile::Check(TableScan& table, std::string* report) {
  store_.Refresh();
  std::string out;
  bool ok = true;
  std::set<std::uint32_t> pages{0};
  std::vector<Entry> dirEntries;
  if (!dir_->CheckStructure("tag directory: ", dirEntries, pages, &out)) ok = false;
  for (auto& t : tags_) {
    pages.insert(t->Header().offset / kPageSize * kPageSize);
    pages.insert(t->Header().offset + kPageSize);
  }

  struct Expect {
    std::vector<Entry> tree;      // as stored
    std::vector<Entry> expected;  // from the table
    bool structureOk = true;
    bool checkKeys = false;
  };
  std::vector<Expect> ex(tags_.size());
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    CdxTag& t = *tags_[i];
    const std::string label = "tag " + t.Name() + ": ";
    ex[i].structureOk = t.GetTree().CheckStructure(label, ex[i].tree, pages, &out);
    if (!ex[i].structureOk) ok = false;
    ex[i].checkKeys = t.NotMaintainable().empty();
    if (!ex[i].checkKeys) out += t.NotMaintainable() + " (keys not verified)\n";
  }

  // One pass over the table computes every tag's keys.
  const std::uint32_t records = table.RecordCount();
  std::vector<std::set<std::string>> seenKeys(tags_.size());
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
      if (!ex[i].checkKeys) continue;
      std::string key;
      bool included = false;
      if (!tags_[i]->KeyFor(table.Record(), key, included, &err)) {
        out += err + " (record " + std::to_string(r) + ")\n";
        ex[i].checkKeys = false;
        ok = false;
        continue;
      }
      if (!included) continue;
      if (tags_[i]->Unique() && !seenKeys[i].insert(key).second) continue;
      ex[i].expected.push_back({std::move(key), r});
    }
  }

  for (std::size_t i = 0; i < tags_.size(); ++i) {
    CdxTag& t = *tags_[i];
    const std::string label = "tag " + t.Name() + ": ";
    const char type = t.KeyType();
    int findings = 0;
    auto finding = [&](const std::string& text) {
      ok = false;
      if (++findings <= 50) out += label + text + "\n";
    };
    std::map<std::uint32_t, std::vector<const std::string*>> byRec;
    for (const Entry& e : ex[i].tree) {
      if (e.rec == 0 || e.rec > records)
        finding("entry for record " + std::to_string(e.rec) + " beyond the table (" +
                std::to_string(records) + " records)");
      else
        byRec[e.rec].push_back(&e.key);
    }
    if (!ex[i].checkKeys) {
      if (findings > 50) out += label + std::to_string(findings - 50) + " more findings\n";
      continue;
    }
    std::set<std::uint32_t> expectedRecs;
    for (const Entry& e : ex[i].expected) {
      expectedRecs.insert(e.rec);
      auto it = byRec.find(e.rec);
      if (it == byRec.end()) {
        finding("record " + std::to_string(e.rec) + " key missing");
        continue;
      }
      if (it->second.size() > 1)
        finding("record " + std::to_string(e.rec) + " indexed " +
                std::to_string(it->second.size()) + " times");
      if (*it->second.front() != e.key)
        finding("record " + std::to_string(e.rec) + " has key " + ShowKey(*it->second.front(), type) +
                ", expected " + ShowKey(e.key, type));
    }
    for (const auto& [rec, keys] : byRec)
      if (!expectedRecs.count(rec))
        finding("record " + std::to_string(rec) + " indexed although it does not belong in the tag");
    if (ex[i].tree.size() != ex[i].expected.size())
      finding(std::to_string(ex[i].tree.size()) + " keys, expected " +
              std::to_string(ex[i].expected.size()));
    if (findings > 50) out += label + std::to_string(findings - 50) + " more findings\n";
  }

  // The free list: sound pages, used by no tree, no loop.
  Page header;
  std::string err;
  if (store_.ReadPage(0, header, &err)) {
    std::uint32_t free = Get32(header.data() + 4);
    std::set<std::uint32_t> seen;
    while (free != 0 && free != kNoPage) {
      if (!store_.ValidPage(free)) {
        out += "free list: " + Hex(free) + " is not a page of the file\n";
        ok = false;
        break;
      }
      if (!seen.insert(free).second) {
        out += "free list: loops at " + Hex(free) + "\n";
        ok = false;
        break;
      }
      if (pages.count(free)) {
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
