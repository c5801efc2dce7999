#include "ntx/NtxIndex.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "KeySort.h"
#include "PageSet.h"
#include "expr/BlankRecord.h"
#include "expr/Format.h"
#include "ntx/NtxTree.h"
#include "platform/Files.h"
#include "platform/RandomFile.h"

namespace xbe {
namespace {

using ntx::Entry;
using ntx::Path;

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

char TypeLetter(ValueType t) {
  switch (t) {
    case ValueType::Character: return 'C';
    case ValueType::Numeric: return 'N';
    case ValueType::Date: return 'D';
    case ValueType::Logical: return 'L';
  }
  return 'C';
}

std::string FileStem(const std::string& path) {
  std::string base = path.substr(path.find_last_of('/') + 1);
  const auto dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  for (char& c : base)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return base;
}

// How an evaluated key becomes stored bytes.
struct KeyCodec {
  char type = 'C';
  int length = 0;
  int decimals = 0;

  std::string Encode(const Value& v) const {
    std::string k;
    switch (v.type) {
      case ValueType::Character: k = v.str; break;
      case ValueType::Numeric: k = ntx::NumericKey(v.num, length, decimals); break;
      case ValueType::Date: k = expr::DtosFromJdn(v.jdn); break;
      case ValueType::Logical: k = v.logical ? "T" : "F"; break;
    }
    k.resize(static_cast<std::size_t>(length), ' ');
    return k;
  }
};

class NtxIndexFile;

// Moves in the order the work area expects (ascending keys); a descending
// file stores the reverse, so its moves run against the stored order.
class NtxCursor final : public TagCursor {
 public:
  NtxCursor(ntx::Tree& tree, bool descending, std::string& lastError)
      : tree_(tree), desc_(descending), lastError_(lastError) {}

  bool First() override {
    tree_.Refresh();
    return Land(desc_ ? tree_.Last(path_, &lastError_) : tree_.First(path_, &lastError_));
  }
  bool Last() override {
    tree_.Refresh();
    return Land(desc_ ? tree_.First(path_, &lastError_) : tree_.Last(path_, &lastError_));
  }
  bool Next() override { return Step(!desc_); }
  bool Prev() override { return Step(desc_); }

  bool Seek(std::string_view key, bool prefix, bool& found) override {
    found = false;
    tree_.Refresh();
    auto raw = [&](const Entry& e) {
      std::string_view k = e.key;
      std::string_view s = key;
      if (prefix) {
        s = s.substr(0, k.size());
        k = k.substr(0, s.size());
      }
      return k.compare(s);
    };
    bool ok;
    if (!desc_) {
      ok = tree_.LowerBound([&](const Entry& e) { return raw(e) < 0; }, path_, &lastError_);
    } else {
      // The first ascending entry >= key is the last stored one.
      ok = tree_.LowerBound([&](const Entry& e) { return raw(e) >= 0; }, path_, &lastError_);
      if (ok) ok = path_.empty() ? tree_.Last(path_, &lastError_) : tree_.Prev(path_, &lastError_);
      if (ok && !path_.empty()) {
        Entry e;
        ok = tree_.At(path_, e, &lastError_);
        if (ok && raw(e) < 0) path_.clear();
      }
    }
    if (!Land(ok)) return false;
    found = raw(Entry{current_.key, current_.recno}) == 0;
    return true;
  }

  bool SeekEntry(const IndexEntry& entry) override {
    tree_.Refresh();
    const Entry target{entry.key, entry.recno};
    const bool ok = tree_.LowerBound([&](const Entry& e) { return tree_.Compare(e, target) < 0; }, path_, &lastError_);
    if (!Land(ok)) return false;
    if (current_.key != entry.key || current_.recno != entry.recno) {
      Invalidate();
      return false;
    }
    return true;
  }

  bool Valid() const override { return valid_; }
  const IndexEntry& Current() const override { return current_; }

 private:
  void Invalidate() {
    path_.clear();
    valid_ = false;
    current_ = IndexEntry{};
  }

  // `toward` is +1 when the entry must follow the current one in stored
  // order, -1 when it must precede it, 0 when anything goes.
  bool Land(bool ok, int toward = 0) {
    if (!ok || path_.empty()) {
      Invalidate();
      return false;
    }
    Entry e;
    if (!tree_.At(path_, e, &lastError_)) {
      Invalidate();
      return false;
    }
    if (toward != 0 && valid_ && Order(e) != toward) {
      // A page reached twice (two parents share it, or the links run in a
      // circle) would walk its entries again, over and over in the worst
      // case: the walk ends here instead.
      lastError_ = "index entries out of order at record " + std::to_string(e.recno) +
                   ": the index is damaged";
      Invalidate();
      return false;
    }
    current_.key = std::move(e.key);
    current_.recno = e.recno;
    valid_ = true;
    version_ = tree_.Changes();
    return true;
  }

  // One step in stored order. After a change to the tree the position is
  // found again from the current entry; when that entry is gone the lower
  // bound already is its stored successor.
  bool Step(bool storedForward) {
    if (!valid_) return false;
    tree_.Refresh();
    bool exact = true;
    if (version_ != tree_.Changes()) {
      const Entry cur{current_.key, current_.recno};
      if (!tree_.LowerBound([&](const Entry& e) { return tree_.Compare(e, cur) < 0; }, path_, &lastError_)) {
        Invalidate();
        return false;
      }
      Entry at;
      exact = !path_.empty() && tree_.At(path_, at, &lastError_) && tree_.Compare(at, cur) == 0;
    }
    bool ok;
    if (storedForward)
      ok = exact ? tree_.Next(path_, &lastError_) : true;
    else
      ok = path_.empty() ? tree_.Last(path_, &lastError_) : tree_.Prev(path_, &lastError_);
    return Land(ok, storedForward ? 1 : -1);
  }

  // Where `e` lies against the current entry in stored order: -1, 0 or 1.
  int Order(const Entry& e) const {
    const int c = tree_.CompareKeys(e.key, current_.key);
    if (c != 0) return c;
    return e.recno < current_.recno ? -1 : (e.recno > current_.recno ? 1 : 0);
  }

  ntx::Tree& tree_;
  bool desc_;
  std::string& lastError_;
  Path path_;
  IndexEntry current_;
  bool valid_ = false;
  std::uint64_t version_ = 0;
};

class NtxIndexFile final : public IndexFile, public IndexTag {
 public:
  NtxIndexFile() = default;

  bool Open(const std::string& path, const RecordAccess& layout, bool writable, std::string* error) {
    path_ = path;
    if (!store_.OpenFile(path, writable, error)) return false;
    return Setup(layout, error);
  }

  bool Setup(const RecordAccess& layout, std::string* error) {
    const ntx::Header& h = store_.Hdr();
    tree_ = std::make_unique<ntx::Tree>(store_, h.descending);
    name_ = h.name.empty() ? FileStem(path_) : h.name;
    keyExpr_ = h.keyExpr;
    forExpr_ = h.forExpr;
    std::string why;
    key_ = Expression::Compile(keyExpr_, layout, &why);
    if (!key_) return Fail(error, path_ + ": key expression \"" + keyExpr_ + "\": " + why);
    if (!forExpr_.empty()) {
      for_ = Expression::Compile(forExpr_, layout, &why);
      if (!for_) return Fail(error, path_ + ": FOR expression \"" + forExpr_ + "\": " + why);
      if (for_->Type() != ValueType::Logical)
        return Fail(error, path_ + ": FOR expression \"" + forExpr_ + "\" is not logical");
    }
    codec_.type = TypeLetter(key_->Type());
    codec_.length = h.keyLength;
    codec_.decimals = h.decimals;
    if ((codec_.type == 'D' && h.keyLength != 8) || (codec_.type == 'L' && h.keyLength != 1))
      whyNot_ = path_ + ": key length " + std::to_string(h.keyLength) + " does not fit a " +
                (codec_.type == 'D' ? "date" : "logical") + " key";
    return true;
  }

  // IndexFile
  int TagCount() const override { return 1; }
  IndexTag& Tag(int) override { return *this; }
  bool Maintainable(std::string* why) const override {
    if (whyNot_.empty()) return true;
    return Fail(why, whyNot_);
  }
  bool Flush(std::string* error) override {
    std::string why;
    if (!store_.Flush(&why)) return Fail(error, path_ + ": " + why);
    return true;
  }
  bool Check(TableScan& table, std::string* report) override;

  // IndexTag
  const std::string& Name() const override { return name_; }
  const std::string& KeyExpression() const override { return keyExpr_; }
  const std::string& ForExpression() const override { return forExpr_; }
  bool Descending() const override { return store_.Hdr().descending; }
  bool Unique() const override { return store_.Hdr().unique; }
  bool Candidate() const override { return false; }
  char KeyType() const override { return codec_.type; }
  int KeyLength() const override { return codec_.length; }

  bool KeyFor(const RecordAccess& record, std::string& key, bool& included, std::string* error) const override {
    included = true;
    Value v;
    if (for_) {
      if (!for_->Evaluate(record, v, error)) return false;
      included = v.logical;
    }
    if (!key_->Evaluate(record, v, error)) return false;
    key = codec_.Encode(v);
    return true;
  }

  bool SeekKey(std::string_view text, std::string& key, bool& prefix) const override {
    prefix = false;
    switch (codec_.type) {
      case 'C':
        key.assign(text.substr(0, static_cast<std::size_t>(codec_.length)));
        prefix = true;
        return true;
      case 'N': {
        double v = 0;
        std::string_view t = text;
        while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
        if (t.empty() || !expr::ParseNumber(t, v)) return false;
        key = ntx::NumericKey(v, codec_.length, codec_.decimals);
        return true;
      }
      case 'D': {
        std::string_view t = text;
        while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
        while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
        if (t.empty()) {
          key.assign(static_cast<std::size_t>(codec_.length), ' ');
          return true;
        }
        if (t.size() != 8 || t.find_first_not_of("0123456789") != std::string_view::npos) return false;
        key.assign(t);
        key.resize(static_cast<std::size_t>(codec_.length), ' ');
        return true;
      }
      default: {
        if (text.empty()) return false;
        const char c = text[0] == '.' && text.size() > 1 ? text[1] : text[0];
        if (c == 'T' || c == 't' || c == 'Y' || c == 'y') key = "T";
        else if (c == 'F' || c == 'f' || c == 'N' || c == 'n') key = "F";
        else return false;
        return true;
      }
    }
  }

  std::unique_ptr<TagCursor> NewCursor() override {
    return std::make_unique<NtxCursor>(*tree_, store_.Hdr().descending, lastError_);
  }

  bool Contains(const IndexEntry& entry) override {
    bool found = false;
    return tree_->Contains(Entry{entry.key, entry.recno}, found, &lastError_) && found;
  }
  bool Insert(const IndexEntry& entry, std::string* error) override {
    if (!store_.Writable()) return Fail(error, path_ + ": the index is open read-only");
    if (!whyNot_.empty()) return Fail(error, whyNot_);
    if (entry.recno == 0) return Fail(error, path_ + ": record number 0");
    std::string why;
    // The work area names the file and the tag in what goes wrong.
    if (!tree_->Insert(Entry{entry.key, entry.recno}, &why)) return Fail(error, why);
    return true;
  }
  bool Remove(const IndexEntry& entry, std::string* error) override {
    if (!store_.Writable()) return Fail(error, path_ + ": the index is open read-only");
    std::string why;
    if (!tree_->Remove(Entry{entry.key, entry.recno}, &why)) return Fail(error, why);
    return true;
  }

 private:
  // Walks the tree depth first, verifying its structure: hands each entry
  // to `entry` in tree order and adds every page to `pages`.
  bool Walk(std::uint32_t off, std::size_t depth, bool root, int& leafDepth,
            const std::function<void(const Entry&)>& entry, PageSet& pages, std::string& report);

  std::string path_;
  ntx::Store store_;
  std::unique_ptr<ntx::Tree> tree_;
  std::string name_, keyExpr_, forExpr_, whyNot_;
  std::unique_ptr<Expression> key_, for_;
  KeyCodec codec_;
  std::string lastError_;
};

bool NtxIndexFile::Walk(std::uint32_t off, std::size_t depth, bool root, int& leafDepth,
                        const std::function<void(const Entry&)>& entry, PageSet& pages, std::string& report) {
  const std::string where = path_ + ": page " + std::to_string(off);
  if (depth > ntx::kMaxTreeDepth) {
    report += where + ": tree deeper than " + std::to_string(ntx::kMaxTreeDepth) + " levels\n";
    return false;
  }
  if (!pages.Insert(off)) {
    report += where + ": reached twice (page links cross or run in a circle)\n";
    return false;
  }
  std::shared_ptr<const ntx::Page> p;
  std::string why;
  if (!store_.Get(off, p, &why)) {
    report += path_ + ": " + why + "\n";
    return false;
  }
  if (!root && p->keys.empty()) {
    report += where + ": page without keys\n";
    return false;
  }
  bool ok = true;
  if (p->Leaf()) {
    if (leafDepth < 0) leafDepth = static_cast<int>(depth);
    if (leafDepth != static_cast<int>(depth)) {
      report += where + ": leaves at different depths\n";
      ok = false;
    }
  }
  for (std::size_t i = 0; i <= p->keys.size(); ++i) {
    if (!p->Leaf() && !Walk(p->kids[i], depth + 1, false, leafDepth, entry, pages, report)) return false;
    if (i < p->keys.size()) entry(p->keys[i]);
  }
  return ok;
}

// The tree's entries and the keys the table gives are compared as two
// sorted streams, each through a KeySorter with half of SortMemory(), so
// memory stays the same whatever the size of the table; a large table's
// streams pass through temporary files beside the index.
bool NtxIndexFile::Check(TableScan& table, std::string* reportOut) {
  std::string report, entryReport;
  bool ok = true;
  const std::uint32_t count = table.RecordCount();
  const std::size_t keyLen = store_.Hdr().keyLength;
  const std::size_t memory = SortMemory();
  // Sorted as stored: a descending file's keys sort with every byte
  // inverted (equal keys still by ascending record number).
  const bool descending = store_.Hdr().descending;
  std::string stored;
  auto asStored = [&](const std::string& key) -> const std::string& {
    stored.assign(key);
    stored.resize(keyLen, ' ');
    if (descending)
      for (char& c : stored) c = static_cast<char>(~static_cast<unsigned char>(c));
    return stored;
  };
  std::string unverified;  // why the keys could not be compared

  // No more entries than the file has room for.
  KeySorter inTree(path_, keyLen, SortMemoryFor(store_.End() / (keyLen + 8), keyLen, memory / 2));
  std::uint64_t entries = 0;
  Entry prev;
  auto entry = [&](const Entry& e) {
    if (e.recno == 0 || e.recno > count)
      entryReport += path_ + ": entry for record " + std::to_string(e.recno) + " that the table does not have\n";
    if (entries++ > 0) {
      const int c = tree_->Compare(prev, e);
      if (c >= 0) {
        entryReport += path_ + ": keys out of order at record " + std::to_string(e.recno) + "\n";
      } else if (Unique() && tree_->CompareKeys(prev.key, e.key) == 0) {
        entryReport += path_ + ": unique index holds a key twice (records " + std::to_string(prev.recno) +
                       " and " + std::to_string(e.recno) + ")\n";
      }
    }
    prev.key.assign(e.key);
    prev.recno = e.recno;
    if (unverified.empty()) inTree.Add(asStored(e.key), e.recno, &unverified);
  };
  PageSet pages(store_.End(), ntx::kPageSize);
  int leafDepth = -1;
  if (!Walk(store_.Hdr().root, 0, true, leafDepth, entry, pages, report)) ok = false;

  std::vector<std::uint32_t> freePages;
  std::string why;
  if (!store_.FreeChain(freePages, &why)) {
    report += path_ + ": " + why + "\n";
    ok = false;
  }
  for (std::uint32_t f : freePages)
    if (pages.Contains(f)) {
      report += path_ + ": page " + std::to_string(f) + " is both in the tree and on the free chain\n";
      ok = false;
    }
  if (!entryReport.empty()) ok = false;
  report += entryReport;
  std::string().swap(entryReport);

  // What the table says the index must hold.
  KeySorter fromTable(path_, keyLen, SortMemoryFor(count, keyLen, memory / 2));
  for (std::uint32_t r = 1; r <= count; ++r) {
    if (!table.Load(r, &why)) {
      report += path_ + ": record " + std::to_string(r) + " cannot be read: " + why + "\n";
      if (reportOut) *reportOut += report;
      return false;
    }
    std::string key;
    bool included = false;
    if (!KeyFor(table.Record(), key, included, &why)) {
      report += path_ + ": the key of record " + std::to_string(r) + " cannot be computed: " + why + "\n";
      ok = false;
      continue;
    }
    if (included && unverified.empty()) fromTable.Add(asStored(key), r, &unverified);
  }
  if (unverified.empty()) inTree.Finish(&unverified);
  if (unverified.empty()) fromTable.Finish(&unverified);

  // Both streams in stored order; a unique index holds only the lowest
  // record number of each key.
  std::uint64_t expected = 0;
  std::size_t reported = 0;
  constexpr std::size_t kMaxFindings = 20;
  auto note = [&](const std::string& line) {
    ok = false;
    if (++reported <= kMaxFindings) report += line;
  };
  if (unverified.empty()) {
    std::string treeKey, nextKey, tableKey;
    std::uint32_t treeRec = 0, nextRec = 0, tableRec = 0;
    auto pull = [](KeySorter& from, std::string& key, std::uint32_t& rec) {
      std::string_view k;
      if (!from.Next(k, rec)) return false;
      key.assign(k);
      return true;
    };
    bool hasTree = pull(inTree, treeKey, treeRec);
    bool hasNext = hasTree && pull(inTree, nextKey, nextRec);
    auto nextInTree = [&] {
      hasTree = hasNext;
      if (!hasNext) return;
      std::swap(treeKey, nextKey);
      treeRec = nextRec;
      hasNext = pull(inTree, nextKey, nextRec);
    };
    auto nextInTable = [&] {
      std::string_view k;
      while (fromTable.Next(k, tableRec)) {
        if (Unique() && expected > 0 && k == tableKey) continue;
        tableKey.assign(k);
        ++expected;
        return true;
      }
      return false;
    };
    bool hasTable = nextInTable();
    while (hasTree || hasTable) {
      int c = !hasTree ? 1 : !hasTable ? -1 : treeKey.compare(tableKey);
      if (c == 0) c = treeRec < tableRec ? -1 : (treeRec > tableRec ? 1 : 0);
      if (c == 0) {
        if (hasNext && nextKey == treeKey && nextRec == treeRec)
          note(path_ + ": record " + std::to_string(treeRec) + " is in the index more than once\n");
        nextInTree();
        hasTable = nextInTable();
      } else if (c < 0) {
        note(path_ + ": record " + std::to_string(treeRec) + " is in the index under a key it does not have\n");
        nextInTree();
      } else {
        note(path_ + ": record " + std::to_string(tableRec) + " is missing from the index\n");
        hasTable = nextInTable();
      }
    }
    if (!inTree.Error().empty()) unverified = inTree.Error();
    else if (!fromTable.Error().empty()) unverified = fromTable.Error();
  }
  if (reported > kMaxFindings) report += path_ + ": " + std::to_string(reported - kMaxFindings) + " more findings\n";
  if (!unverified.empty()) {
    // A temporary file could not be written or read back (a folder without
    // write access, a full disk): the keys stay unchecked.
    report += path_ + ": keys not verified, a temporary file failed: " + unverified + "\n";
    ok = false;
  } else if (entries != expected && ok) {
    report += path_ + ": " + std::to_string(entries) + " keys, " + std::to_string(expected) + " expected\n";
    ok = false;
  }
  if (reportOut) *reportOut += report;
  return ok;
}

}  // namespace

std::unique_ptr<IndexFile> OpenNtx(const std::string& path, const RecordAccess& layout, bool writable,
                                   std::string* error) {
  auto file = std::make_unique<NtxIndexFile>();
  if (!file->Open(path, layout, writable, error)) return nullptr;
  return file;
}

bool CreateNtx(const std::string& path, const std::string& keyExpr, const std::string& forExpr, unsigned flags,
               TableScan& table, std::string* error) {
  const RecordAccess& layout = table.Record();
  std::string why;
  if (keyExpr.size() > 255 || forExpr.size() > 255)
    return Fail(error, path + ": expression longer than 255 characters");
  auto key = Expression::Compile(keyExpr, layout, &why);
  if (!key) return Fail(error, path + ": key expression \"" + keyExpr + "\": " + why);
  std::unique_ptr<Expression> cond;
  if (!forExpr.empty()) {
    cond = Expression::Compile(forExpr, layout, &why);
    if (!cond) return Fail(error, path + ": FOR expression \"" + forExpr + "\": " + why);
    if (cond->Type() != ValueType::Logical) return Fail(error, path + ": FOR expression is not logical");
  }

  // The key length is that of the key on a blank record, as every writer
  // of this format takes it.
  expr::BlankRecord blank(layout);
  Value v;
  if (!key->Evaluate(blank, v, &why)) return Fail(error, path + ": key expression \"" + keyExpr + "\": " + why);
  ntx::Header h;
  switch (v.type) {
    case ValueType::Character: h.keyLength = static_cast<std::uint16_t>(std::min<std::size_t>(v.str.size(), 65535)); break;
    case ValueType::Numeric:
      h.keyLength = static_cast<std::uint16_t>(expr::DefaultStrWidth(v));
      h.decimals = static_cast<std::uint16_t>(std::max(v.decimals, 0));
      break;
    case ValueType::Date: h.keyLength = 8; break;
    case ValueType::Logical: h.keyLength = 1; break;
  }
  if (h.keyLength < 1 || h.keyLength > ntx::kMaxKeyLength)
    return Fail(error, path + ": key length " + std::to_string(h.keyLength) + " is not between 1 and 256");
  if (h.decimals >= h.keyLength) h.decimals = 0;
  h.flags = static_cast<std::uint16_t>(forExpr.empty() ? 0x0006 : 0x0007);
  h.version = 0;
  h.maxKeys = static_cast<std::uint16_t>(ntx::MaxKeysFor(h.keyLength));
  h.halfPage = static_cast<std::uint16_t>(h.maxKeys / 2);
  h.keyExpr = keyExpr;
  h.forExpr = forExpr;
  h.unique = (flags & kNtxUnique) != 0;
  h.descending = (flags & kNtxDescending) != 0;

  // Built into a new file beside the target that replaces it only when it
  // is complete and on disk; the temporary files go whatever happens.
  platform::TempFileBeside work;
  if (!work.Create(path, error)) return false;
  {
    ntx::Header start = h;
    start.root = ntx::kPageSize;
    start.freeHead = 0;
    std::string image(2 * ntx::kPageSize, '\0');
    auto* raw = reinterpret_cast<std::uint8_t*>(image.data());
    ntx::EncodeHeader(start, raw);
    ntx::Page root;
    root.kids.push_back(0);
    ntx::EncodePage(root, start, raw + ntx::kPageSize);
    platform::RandomFile out;
    if (!out.Open(work.Path(), true, error) || !out.WriteAt(0, image.data(), image.size(), error))
      return false;
  }
  {
    ntx::Store store;
    if (!store.OpenFile(work.Path(), true, error)) return false;
    ntx::Tree tree(store, h.descending);
    KeyCodec codec{key->Type() == ValueType::Character ? 'C' : 'N', h.keyLength, h.decimals};

    // A descending file stores keys in reverse byte order (equal keys still
    // by ascending record number): the sort sees each byte inverted.
    auto stored = [&](std::string& k) {
      if (h.descending)
        for (char& c : k) c = static_cast<char>(~static_cast<unsigned char>(c));
    };
    KeySorter sorter(path, h.keyLength);
    const std::uint32_t count = table.RecordCount();
    for (std::uint32_t r = 1; r <= count; ++r) {
      if (!table.Load(r, &why)) return Fail(error, path + ": record " + std::to_string(r) + ": " + why);
      const RecordAccess& rec = table.Record();
      if (cond) {
        if (!cond->Evaluate(rec, v, &why)) return Fail(error, path + ": record " + std::to_string(r) + ": " + why);
        if (!v.logical) continue;
      }
      if (!key->Evaluate(rec, v, &why)) return Fail(error, path + ": record " + std::to_string(r) + ": " + why);
      std::string k = codec.Encode(v);
      stored(k);
      if (!sorter.Add(k, r, &why)) return Fail(error, path + ": " + why);
    }
    if (!sorter.Finish(&why)) return Fail(error, path + ": " + why);

    // The tree needs the number of entries before the first page: with
    // only the first record of each key, the survivors are counted on the
    // way through a spool.
    std::unique_ptr<RecordSpool> firsts;
    std::uint64_t entries = sorter.Count();
    if (h.unique) {
      firsts = std::make_unique<RecordSpool>(path, std::size_t{h.keyLength} + 4, SortMemory() / 4);
      std::string last, item;
      std::string_view k;
      std::uint32_t r;
      for (bool any = false; sorter.Next(k, r); any = true) {
        if (any && k == last) continue;
        last.assign(k);
        item.assign(k);
        item.append(reinterpret_cast<const char*>(&r), 4);
        if (!firsts->Append(item.data(), &why)) return Fail(error, path + ": " + why);
      }
      if (!sorter.Error().empty()) return Fail(error, path + ": " + sorter.Error());
      if (!firsts->Finish(&why)) return Fail(error, path + ": " + why);
      entries = firsts->Count();
    }
    auto next = [&](Entry& e, std::string* err) {
      if (firsts) {
        const char* item;
        if (!firsts->Next(item)) return Fail(err, firsts->Error().empty() ? "fewer keys than counted" : firsts->Error());
        e.key.assign(item, h.keyLength);
        std::memcpy(&e.recno, item + h.keyLength, 4);
      } else {
        std::string_view k;
        if (!sorter.Next(k, e.recno)) return Fail(err, sorter.Error().empty() ? "fewer keys than counted" : sorter.Error());
        e.key.assign(k);
      }
      stored(e.key);
      return true;
    };
    if (!tree.BulkLoad(entries, next, path, &why)) return Fail(error, path + ": " + why);
    if (!store.Flush(&why)) return Fail(error, path + ": " + why);
  }  // closed before it replaces the file
  return work.ReplaceTarget(error);
}

}  // namespace xbe
