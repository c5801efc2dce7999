#include "WorkArea.h"

#include <algorithm>
#include <cstring>

#include "platform/Encoding.h"
#include "platform/FileLock.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "xbe50.h"

#if __has_include("cdx/CdxIndex.h")
#include "cdx/CdxIndex.h"
#define XBE_HAVE_CDX 1
#endif
#if __has_include("ntx/NtxIndex.h")
#include "ntx/NtxIndex.h"
#define XBE_HAVE_NTX 1
#endif

namespace xbe {
namespace {

// Locks live far beyond any data so that they never meet byte-range locks
// other programs take on records. One byte marks "open"; shared opens hold
// it shared, exclusive opens exclusively. Record n is locked at base + n.
constexpr std::int64_t kUseLock = XB_USE_LOCK_OFFSET;
constexpr std::int64_t kAppendLock = kUseLock + 1;
constexpr std::int64_t kRecordLockBase = kUseLock + 16;

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

std::string BaseName(std::string_view path) {
  std::string name = platform::FileNamePart(path);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

// The file in the table's folder with the table's base name and `ext`,
// matched without regard to case; empty when there is none.
std::string CompanionFile(const std::string& tablePath, std::string_view ext) {
  std::string dir = platform::DirectoryPart(tablePath);
  if (dir.empty()) dir = ".";
  const auto found = platform::FindNoCase(dir, BaseName(tablePath) + std::string(ext));
  if (!found) return {};
  return platform::JoinPath(platform::DirectoryPart(tablePath), *found);
}

std::unique_ptr<IndexFile> OpenIndexFile(IndexKind kind, const std::string& path,
                                         const RecordAccess& layout, bool writable,
                                         std::string* error) {
  switch (kind) {
    case IndexKind::Cdx:
#ifdef XBE_HAVE_CDX
      return OpenCdx(path, layout, writable, error);
#else
      Fail(error, path + ": CDX indexes are not available in this build");
      return nullptr;
#endif
    case IndexKind::Ntx:
#ifdef XBE_HAVE_NTX
      return OpenNtx(path, layout, writable, error);
#else
      Fail(error, path + ": NTX indexes are not available in this build");
      return nullptr;
#endif
    default:
      return nullptr;
  }
}

}  // namespace

struct WorkArea::TagChange {
  IndexTag* tag = nullptr;
  bool oldIncluded = false;
  bool newIncluded = false;
  bool oldHeld = false;  // unique tags: the record is the one holding its old key
  bool present = false;  // the old entry was found in the tag
  // The keys, with the record number of the entry they are used for.
  IndexEntry oldEntry;
  IndexEntry newEntry;
  // Whether the tag stays as it is: included both times with the same key,
  // or neither time.
  bool Same() const {
    return oldIncluded == newIncluded && (!newIncluded || oldEntry.key == newEntry.key);
  }
};

struct WorkArea::AppliedOp {
  IndexTag* tag = nullptr;
  bool inserted = false;             // else removed
  const std::string* key = nullptr;  // a key of the TagChange it came from
  std::uint32_t recno = 0;
};

std::string AliasFromPath(std::string_view path) {
  std::string name = platform::AsciiUpper(platform::FileNamePart(path));
  const std::size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  if (name.size() > 8) name.resize(8);
  for (char& c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) c = '_';
  return name;
}

std::unique_ptr<WorkArea> WorkArea::Open(const std::string& pathIn, const std::string& alias,
                                         OpenMode mode, Driver driver, std::string* error) {
  std::string path = platform::ResolveNoCase(pathIn);
  if (!platform::FileExists(path) && platform::ExtensionPart(path).empty()) {
    const std::string withExt = platform::ResolveNoCase(pathIn + ".dbf");
    if (platform::FileExists(withExt)) path = withExt;
  }
  if (!platform::FileExists(path)) {
    Fail(error, pathIn + ": the table file does not exist");
    return nullptr;
  }
  auto wa = std::unique_ptr<WorkArea>(new WorkArea());
  wa->path_ = path;
  wa->alias_ = alias.empty() ? AliasFromPath(path) : platform::AsciiUpper(alias);
  wa->mode_ = mode;
  wa->driver_ = driver;
  const bool writable = mode != OpenMode::ReadOnly;

  if (!wa->locks_.Open(path, writable, error)) return nullptr;
  const auto useKind =
      mode == OpenMode::Exclusive ? platform::LockKind::Exclusive : platform::LockKind::Shared;
  if (!platform::TryLockRange(wa->locks_.Fd(), useKind, kUseLock, 1)) {
    Fail(error, path + (mode == OpenMode::Exclusive
                            ? ": the table is in use elsewhere and cannot be opened exclusively"
                            : ": the table is opened exclusively elsewhere"));
    return nullptr;
  }

  wa->table_ = DbfTable::Open(path, writable, error);
  if (!wa->table_) return nullptr;
  const DbfTable& t = *wa->table_;
  if (t.Encrypted()) {
    Fail(error, path + ": the table is encrypted, which this engine does not support");
    return nullptr;
  }
  wa->table_->SetCaching(mode == OpenMode::Exclusive);
  const std::uint8_t v = t.Version();
  if (driver == Driver::Nsx || v == 0xE5 || v == 0xE6 ||
      !CompanionFile(path, ".nsx").empty()) {
    Fail(error, path + ": tables with NSX indexes or SMT memo files are not supported; "
                       "rebuild the index as CDX or NTX");
    return nullptr;
  }

  switch (t.Memo()) {
    case MemoKind::None:
      break;
    case MemoKind::Smt:
      Fail(error, path + ": SMT memo files are not supported");
      return nullptr;
    default: {
      const char* ext = t.Memo() == MemoKind::Fpt ? ".fpt" : ".dbt";
      const std::string memoPath = CompanionFile(path, ext);
      if (memoPath.empty()) {
        Fail(error, path + ": the memo file " + BaseName(path) + platform::AsciiUpper(ext) +
                        " does not exist");
        return nullptr;
      }
      wa->memo_ = MemoFile::Open(memoPath, t.Memo(), writable, error);
      if (!wa->memo_) return nullptr;
    }
  }

  wa->view_ = std::make_unique<RecordView>(t, wa->alias_);
  wa->record_ = t.BlankRecord();
  wa->view_->Point(wa->record_.data(), 0);

  if (driver == Driver::Ntx || (driver == Driver::Auto && (v == 0x83 || v == 0x86 || v == 0x87)))
    wa->indexKind_ = IndexKind::Ntx;
  else
    wa->indexKind_ = IndexKind::Cdx;
  if (!wa->OpenIndexes(error)) return nullptr;
  if (writable) {
    // An index of another kind beside the table would go stale with every
    // write this engine makes: refuse to write rather than damage it.
    const char* others[] = {".mdx", wa->indexKind_ == IndexKind::Ntx ? ".cdx" : ".ntx"};
    for (const char* ext : others) {
      const std::string other = CompanionFile(path, ext);
      if (!other.empty()) {
        Fail(error, other + ": an index this engine does not keep up to date belongs to the "
                            "table; open it read-only");
        return nullptr;
      }
    }
  }

  std::string ignored;
  wa->GoTop(&ignored);
  return wa;
}

bool WorkArea::OpenIndexes(std::string* error) {
  indexes_.clear();
  orders_.clear();
  cursor_.reset();
  order_ = 0;
  orderTag_ = nullptr;
  orderDescending_ = false;
  indexPath_ = CompanionFile(path_, indexKind_ == IndexKind::Ntx ? ".ntx" : ".cdx");
  if (indexPath_.empty()) return true;
  const bool writable = mode_ != OpenMode::ReadOnly;
  std::string why;
  auto file = OpenIndexFile(indexKind_, indexPath_, *view_, writable, &why);
  if (!file) return Fail(error, why.empty() ? indexPath_ + ": the index cannot be opened" : why);
  if (writable && !file->Maintainable(&why))
    return Fail(error, indexPath_ + ": the index cannot be kept up to date by this engine (" +
                           why + "); open the table read-only");
  for (int i = 0; i < file->TagCount(); ++i) orders_.push_back(OrderRef{file.get(), i});
  indexes_.push_back(std::move(file));
  return true;
}

bool WorkArea::CloseIndexes(std::string* error) {
  bool ok = true;
  cursor_.reset();
  for (auto& f : indexes_) {
    std::string why;
    if (mode_ != OpenMode::ReadOnly && !f->Flush(&why)) {
      if (ok) Fail(error, why);
      ok = false;
    }
  }
  indexes_.clear();
  orders_.clear();
  order_ = 0;
  orderTag_ = nullptr;
  orderDescending_ = false;
  return ok;
}

WorkArea::~WorkArea() {
  std::string ignored;
  Close(&ignored);
}

bool WorkArea::Close(std::string* error) {
  if (!table_) return true;
  bool ok = CloseIndexes(error);
  std::string why;
  if (memo_ && !memo_->Sync(&why)) ok = ok ? Fail(error, why) : false;
  if (!table_->Sync(&why)) ok = ok ? Fail(error, why) : false;
  memo_.reset();
  table_.reset();
  recordLocks_.clear();
  locks_.Close();
  return ok;
}

IndexTag* WorkArea::OrderTag(int order) const {
  if (order < 1 || order > OrderCount()) return nullptr;
  const OrderRef& r = orders_[static_cast<std::size_t>(order - 1)];
  return &r.file->Tag(r.tag);
}

int WorkArea::FindOrder(std::string_view tagName) const {
  for (int i = 1; i <= OrderCount(); ++i) {
    const std::string& n = OrderTag(i)->Name();
    if (platform::EqualsNoCase(n, tagName)) return i;
    // An NTX order is named by its file; accept the name with or without extension.
    const std::size_t dot = n.rfind('.');
    if (dot != std::string::npos && platform::EqualsNoCase(n.substr(0, dot), tagName)) return i;
  }
  if (!tagName.empty() && std::all_of(tagName.begin(), tagName.end(),
                                      [](char c) { return c >= '0' && c <= '9'; })) {
    const int n = std::stoi(std::string(tagName));
    if (n >= 1 && n <= OrderCount()) return n;
  }
  return 0;
}

bool WorkArea::SetOrder(int order) {
  if (order < 0 || order > OrderCount()) return false;
  order_ = order;
  cursor_.reset();
  cursorOnRecord_ = false;
  orderTag_ = order_ > 0 ? OrderTag(order_) : nullptr;
  orderDescending_ = orderTag_ && orderTag_->Descending();
  if (orderTag_) cursor_ = orderTag_->NewCursor();
  return true;
}

std::uint32_t WorkArea::RecCount() {
  if (mode_ != OpenMode::Exclusive) {
    std::string ignored;
    table_->RefreshCount(&ignored);
  }
  return table_->RecordCount();
}

void WorkArea::SetEof() {
  eof_ = true;
  recno_ = table_->RecordCount() + 1;
  // A seek that finds nothing lands here: the blank record is made once
  // and copied into the buffer, which keeps its memory.
  if (blank_.empty()) blank_ = table_->BlankRecord();
  record_.assign(blank_);
  view_->Point(record_.data(), recno_);
  cursorOnRecord_ = false;
}

bool WorkArea::LoadRecord(std::uint32_t recno, std::string* error) {
  if (recno < 1 || recno > table_->RecordCount()) {
    if (mode_ != OpenMode::Exclusive) {
      std::string ignored;
      table_->RefreshCount(&ignored);
    }
    if (recno < 1 || recno > table_->RecordCount()) {
      SetEof();
      return Fail(error, path_ + ": record " + std::to_string(recno) + " does not exist");
    }
  }
  if (!table_->ReadRecord(recno, record_.data(), error)) {
    SetEof();
    return false;
  }
  recno_ = recno;
  eof_ = false;
  view_->Point(record_.data(), recno_);
  return true;
}

// ---- natural order -------------------------------------------------------

bool WorkArea::GoTop(std::string* error) {
  bof_ = false;
  RecCount();
  if (order_ == 0) {
    if (table_->RecordCount() == 0) {
      SetEof();
      bof_ = true;
      return true;
    }
    if (!LoadRecord(1, error)) return false;
  } else {
    const bool desc = orderDescending_;
    if (!(desc ? cursor_->Last() : cursor_->First())) {
      SetEof();
      bof_ = true;
      return true;
    }
    if (!LoadFromCursor(error)) return false;
  }
  if (hideDeleted_ && record_[0] == '*') {
    const bool ok = Skip(1, error);
    bof_ = eof_;
    return ok;
  }
  return true;
}

bool WorkArea::GoBottom(std::string* error) {
  bof_ = false;
  RecCount();
  if (order_ == 0) {
    if (table_->RecordCount() == 0) {
      SetEof();
      bof_ = true;
      return true;
    }
    if (!LoadRecord(table_->RecordCount(), error)) return false;
  } else {
    const bool desc = orderDescending_;
    if (!(desc ? cursor_->First() : cursor_->Last())) {
      SetEof();
      bof_ = true;
      return true;
    }
    if (!LoadFromCursor(error)) return false;
  }
  if (hideDeleted_ && record_[0] == '*') {
    const bool ok = Skip(-1, error);
    if (bof_) SetEof();
    return ok;
  }
  return true;
}

bool WorkArea::Go(std::uint32_t recno, std::string* error) {
  bof_ = false;
  // In exclusive use nothing else changes the table: going to the current
  // record keeps its buffer, which every write updates, and the order's
  // cursor on it. A walk that goes to its record before each skip (as the
  // table component does) then costs no extra read and no new descent.
  if (mode_ == OpenMode::Exclusive && !eof_ && recno != 0 && recno == recno_) return true;
  cursorOnRecord_ = false;
  if (recno == 0 || recno > RecCount()) {
    SetEof();
    return Fail(error, "record " + std::to_string(recno) + " does not exist");
  }
  return LoadRecord(recno, error);
}

bool WorkArea::SkipNatural(std::int64_t count, std::string* error) {
  const std::int64_t n = static_cast<std::int64_t>(RecCount());
  std::int64_t target;
  if (eof_) {
    if (count >= 0) return true;
    target = n + 1 + count;
  } else {
    target = static_cast<std::int64_t>(recno_) + count;
  }
  if (target > n) {
    SetEof();
    return true;
  }
  if (target < 1) {
    if (n == 0) {
      SetEof();
      bof_ = true;
      return true;
    }
    if (!LoadRecord(1, error)) return false;
    bof_ = true;
    return true;
  }
  return LoadRecord(static_cast<std::uint32_t>(target), error);
}

// ---- ordered navigation --------------------------------------------------

bool WorkArea::LoadFromCursor(std::string* error) {
  if (!cursor_->Valid()) {
    SetEof();
    return true;
  }
  const std::uint32_t recno = cursor_->Current().recno;
  // The record's bytes and its block's slot at once, not one after the other.
  table_->Prefetch(recno);
  return LoadIndexed(recno, error);
}

bool WorkArea::LoadIndexedAnyWay(std::uint32_t recno, std::string* error) {
  if (!LoadRecord(recno, error)) {
    if (error) *error = indexPath_ + ": the index points at record " + std::to_string(recno) +
                        ", which the table does not have";
    return false;
  }
  cursorOnRecord_ = true;
  return true;
}

// Puts the cursor on the current record's entry (exact) or, for a record the
// tag does not hold, on the first entry after where it would be.
bool WorkArea::PositionCursor(bool& exact, std::string* error) {
  exact = false;
  if (cursorOnRecord_ && cursor_->Valid() && cursor_->Current().recno == recno_) {
    exact = true;
    return true;
  }
  IndexTag& tag = *orderTag_;
  std::string key;
  bool included = false;
  if (!tag.KeyFor(*view_, key, included, error)) return false;
  if (included && cursor_->SeekEntry(IndexEntry{key, recno_})) {
    exact = true;
    cursorOnRecord_ = true;
    return true;
  }
  bool found = false;
  if (cursor_->Seek(key, false, found)) {
    while (cursor_->Valid() && cursor_->Current().key == key && cursor_->Current().recno < recno_)
      if (!cursor_->Next()) break;
  }
  return true;
}

namespace {
// How many entries ahead an ordered walk prefetches records: enough to
// cover a memory access while the records in between are read.
constexpr int kPrefetchDistance = 8;
}  // namespace

// One record on in the current order while the cursor sits on the current
// record and the entry to go to lies in the node the cursor holds: what
// SkipOrdered does for such a step, without finding the cursor's place
// again. False when SkipOrdered has to do the step (nothing has changed
// then); else `ok` tells whether the record could be read.
inline bool WorkArea::StepInOrder(bool forward, bool& ok, std::string* error) {
  const bool ascStep = forward != orderDescending_;
  std::uint32_t ahead = 0;
  const std::uint32_t r =
      cursor_->StepNear(ascStep, recno_, ascStep ? kPrefetchDistance : -kPrefetchDistance, ahead);
  if (r == 0) return false;
  table_->Prefetch(ahead);
  ok = LoadIndexed(r, error);
  return true;
}

bool WorkArea::SkipOrdered(std::int64_t count, std::string* error) {
  const bool desc = orderDescending_;
  if (count == 0) return eof_ ? true : LoadRecord(recno_, error);
  const bool forward = count > 0;
  std::int64_t steps = forward ? count : -count;
  // Stored order is ascending; a descending tag walks it backwards.
  const bool ascStep = forward != desc;
  if (eof_) {
    if (forward) return true;
    if (!(desc ? cursor_->First() : cursor_->Last())) {
      SetEof();
      bof_ = true;
      return true;
    }
    --steps;
  } else {
    bool exact = false;
    if (!PositionCursor(exact, error)) return false;
    if (!exact) {
      // The cursor sits on the entry after the record's place: that entry
      // is one step ascending already.
      if (ascStep) {
        --steps;
      } else if (cursor_->Valid()) {
        if (!cursor_->Prev()) steps = -1;
        else --steps;
      } else {
        if (!cursor_->Last()) steps = -1;
        else --steps;
      }
    }
  }
  while (steps > 0 && cursor_->Valid()) {
    if (!(ascStep ? cursor_->Next() : cursor_->Prev())) break;
    --steps;
  }
  // Walking one entry at a time: the records a few entries on are fetched
  // into the processor's caches while this one is read. A single step comes
  // this way mostly when it has just entered another leaf, whose records
  // nobody asked for yet: all of the next few are fetched, not only the
  // farthest.
  if (steps == 0 && cursor_->Valid() && (count == 1 || count == -1))
    for (int k = 1; k <= kPrefetchDistance; ++k)
      table_->Prefetch(cursor_->Ahead(ascStep ? k : -k));
  if (steps != 0 || !cursor_->Valid()) {
    if (forward) {
      SetEof();
      return true;
    }
    // Before the first entry: BOF on the first record of the order.
    if (!(desc ? cursor_->Last() : cursor_->First())) {
      SetEof();
      bof_ = true;
      return true;
    }
    const bool ok = LoadFromCursor(error);
    bof_ = true;
    return ok;
  }
  return LoadFromCursor(error);
}

bool WorkArea::Skip(std::int64_t count, std::string* error) {
  bof_ = false;
  bool ok = false;
  if (!((count == 1 || count == -1) && order_ != 0 && !eof_ && cursorOnRecord_ &&
        StepInOrder(count > 0, ok, error)))
    ok = order_ == 0 ? SkipNatural(count, error) : SkipOrdered(count, error);
  if (!ok) return false;
  if (hideDeleted_ && count != 0 && !eof_ && record_[0] == '*') {
    const bool wasBof = bof_;
    if (wasBof) return GoTop(error);
    return Skip(count > 0 ? 1 : -1, error);
  }
  return true;
}

bool WorkArea::Seek(std::string_view text, bool& found, std::string* error) {
  found = false;
  bof_ = false;
  if (order_ == 0) {
    SetEof();
    return Fail(error, "no index order is selected");
  }
  IndexTag& tag = *orderTag_;
  std::string& key = seekKey_;
  bool prefix = false;
  if (!tag.SeekKey(text, key, prefix)) {
    SetEof();
    return true;
  }
  bool hit = false;
  if (!cursor_->Seek(key, prefix, hit) || !hit) {
    SetEof();
    return true;
  }
  if (orderDescending_) {
    // First in descending order is the last of the equal keys in stored order.
    auto matches = [&](const IndexEntry& e) {
      return prefix ? e.key.compare(0, key.size(), key) == 0 : e.key == key;
    };
    while (cursor_->Next()) {
      if (!matches(cursor_->Current())) break;
    }
    if (!cursor_->Valid()) cursor_->Last();
    else cursor_->Prev();
  }
  if (!LoadFromCursor(error)) return false;
  found = true;
  if (hideDeleted_ && record_[0] == '*') {
    // The first visible record with that key, if any.
    std::string first = key;
    while (!eof_ && record_[0] == '*') {
      if (!Skip(1, error)) return false;
      if (eof_) break;
      std::string k;
      bool inc = false;
      if (!tag.KeyFor(*view_, k, inc, error)) return false;
      if (!(prefix ? k.compare(0, first.size(), first) == 0 : k == first)) {
        SetEof();
        break;
      }
    }
    found = !eof_;
  }
  return true;
}

// ---- writes --------------------------------------------------------------

bool WorkArea::Writable(std::string* error) const {
  if (mode_ == OpenMode::ReadOnly) return Fail(error, path_ + ": the table is open read-only");
  return true;
}

bool WorkArea::RequireRecord(std::string* error) const {
  if (eof_ || recno_ < 1 || recno_ > table_->RecordCount())
    return Fail(error, "there is no current record");
  return true;
}

bool WorkArea::FindUniqueReplacement(IndexTag& tag, const std::string& key, std::uint32_t skip,
                                     std::uint32_t& found, std::string* error) {
  found = 0;
  DbfScan scan(*table_, alias_);
  const std::uint32_t n = table_->RecordCount();
  for (std::uint32_t r = 1; r <= n; ++r) {
    if (r == skip) continue;
    if (!scan.Load(r, error)) return false;
    std::string k;
    bool inc = false;
    if (!tag.KeyFor(scan.Record(), k, inc, error)) return false;
    if (inc && k == key) {
      found = r;
      return true;
    }
  }
  return true;
}

bool WorkArea::PrepareChanges(std::uint32_t recno, const std::string* oldRec,
                              const std::string& newRec, std::vector<TagChange>& changes,
                              std::string* error) {
  // The elements are reused from call to call, so that their key strings
  // keep their buffers.
  changes.resize(static_cast<std::size_t>(OrderCount()));
  if (!scratchView_) scratchView_ = std::make_unique<RecordView>(*table_, alias_);
  if (!scratchOldView_) scratchOldView_ = std::make_unique<RecordView>(*table_, alias_);
  RecordView& oldView = *scratchOldView_;
  RecordView& newView = *scratchView_;
  oldView.Point(oldRec ? oldRec->data() : nullptr, recno);
  newView.Point(newRec.data(), recno);
  // Every tag's keys first, then the lookups of the old entries together,
  // so that their waits for memory overlap; the findings are then reported
  // tag by tag, as if each tag had been handled in turn.
  std::size_t computed = 0;
  std::string keyError;
  for (; computed < changes.size(); ++computed) {
    TagChange& c = changes[computed];
    c.tag = OrderTag(static_cast<int>(computed) + 1);
    c.oldIncluded = c.newIncluded = c.oldHeld = c.present = false;
    c.oldEntry.key.clear();
    c.oldEntry.recno = recno;
    std::string why;
    if ((oldRec && !c.tag->KeyFor(oldView, c.oldEntry.key, c.oldIncluded, &why)) ||
        !c.tag->KeyFor(newView, c.newEntry.key, c.newIncluded, &why)) {
      keyError = indexPath_ + ", tag " + c.tag->Name() + ": the key of record " +
                 std::to_string(recno) + " cannot be computed: " + why;
      break;
    }
  }
  std::vector<IndexTag*>& lookTags = lookTags_;
  std::vector<const IndexEntry*>& lookEntries = lookEntries_;
  lookTags.clear();
  lookEntries.clear();
  for (std::size_t i = 0; i < computed; ++i)
    if (changes[i].oldIncluded) {
      lookTags.push_back(changes[i].tag);
      lookEntries.push_back(&changes[i].oldEntry);
    }
  if (lookFoundSize_ < lookTags.size()) {
    lookFound_ = std::make_unique<bool[]>(lookTags.size());
    lookFoundSize_ = lookTags.size();
  }
  // The new entries' places are looked for with the old entries: the
  // removals that come first change only the leaves they remove from, and
  // an insertion's way is kept past them. (Without lookups, as for an
  // append, they are looked for just before the insertions.)
  std::vector<IndexTag*>& wayTags = wayTags_;
  std::vector<const IndexEntry*>& wayEntries = wayEntries_;
  wayTags.clear();
  wayEntries.clear();
  if (computed == changes.size() && !lookTags.empty())
    for (TagChange& c : changes)
      if (!c.Same() && !c.tag->Unique() && c.newIncluded) {
        c.newEntry.recno = recno;
        wayTags.push_back(c.tag);
        wayEntries.push_back(&c.newEntry);
      }
  IndexTag::ContainsEach(lookTags.data(), lookEntries.data(), lookFound_.get(), lookTags.size(),
                         wayTags.data(), wayEntries.data(), wayTags.size());
  for (std::size_t i = 0, look = 0; i < computed; ++i)
    if (changes[i].oldIncluded) changes[i].present = lookFound_[look++];
  for (std::size_t i = 0; i < computed; ++i) {
    TagChange& c = changes[i];
    IndexTag& tag = *c.tag;
    if (c.oldIncluded) {
      bool ok = c.present;
      if (tag.Unique()) {
        c.oldHeld = c.present;
        if (!c.present) {
          // Another record with a lower number must hold the key.
          auto cur = tag.NewCursor();
          bool hit = false;
          ok = cur->Seek(c.oldEntry.key, false, hit) && hit && cur->Current().recno < recno;
        }
      }
      if (!ok)
        return Fail(error, indexPath_ + ", tag " + tag.Name() + ": record " +
                               std::to_string(recno) +
                               " is not in the index under the key this engine computes; the "
                               "index was built with other rules or is damaged. Nothing was "
                               "written; rebuild the index");
    }
    if (!c.Same() && c.newIncluded && tag.Candidate()) {
      auto cur = tag.NewCursor();
      bool hit = false;
      if (cur->Seek(c.newEntry.key, false, hit) && hit && cur->Current().recno != recno)
        return Fail(error, indexPath_ + ", tag " + tag.Name() + ": the key of record " +
                               std::to_string(recno) + " is already held by record " +
                               std::to_string(cur->Current().recno) +
                               " and the tag admits each key once");
    }
  }
  if (computed < changes.size()) return Fail(error, keyError);
  return true;
}

bool WorkArea::ApplyChanges(std::uint32_t recno, std::vector<TagChange>& changes,
                            std::vector<AppliedOp>& applied, std::string* error) {
  applied.clear();
  // Each takes the entry of a TagChange, with the record number to use.
  auto remove = [&](IndexTag& tag, IndexEntry& entry, std::uint32_t rec) {
    std::string why;
    entry.recno = rec;
    if (!tag.Remove(entry, &why))
      return Fail(error, indexPath_ + ", tag " + tag.Name() + ": " + why);
    applied.push_back(AppliedOp{&tag, false, &entry.key, rec});
    return true;
  };
  auto insert = [&](IndexTag& tag, IndexEntry& entry, std::uint32_t rec) {
    std::string why;
    entry.recno = rec;
    if (!tag.Insert(entry, &why))
      return Fail(error, indexPath_ + ", tag " + tag.Name() + ": " + why);
    applied.push_back(AppliedOp{&tag, true, &entry.key, rec});
    return true;
  };
  // Tags that are not unique take their removals first, then their
  // insertions, whose places are looked for together in between so that
  // their waits for memory overlap.
  std::vector<IndexTag*>& insertTags = lookTags_;
  std::vector<const IndexEntry*>& insertEntries = lookEntries_;
  insertTags.clear();
  insertEntries.clear();
  for (TagChange& c : changes) {
    IndexTag& tag = *c.tag;
    if (c.Same()) continue;
    if (!tag.Unique()) {
      if (c.oldIncluded && !remove(tag, c.oldEntry, recno)) return false;
      if (c.newIncluded) {
        c.newEntry.recno = recno;
        insertTags.push_back(&tag);
        insertEntries.push_back(&c.newEntry);
      }
      continue;
    }
    // Unique: the tag holds the lowest record number of each key.
    if (c.oldIncluded && c.oldHeld) {
      if (!remove(tag, c.oldEntry, recno)) return false;
      std::uint32_t next = 0;
      if (!FindUniqueReplacement(tag, c.oldEntry.key, recno, next, error)) return false;
      if (next != 0 && !insert(tag, c.oldEntry, next)) return false;
    }
    if (c.newIncluded) {
      auto cur = tag.NewCursor();
      bool hit = false;
      if (cur->Seek(c.newEntry.key, false, hit) && hit) {
        const std::uint32_t holder = cur->Current().recno;
        if (holder > recno) {
          if (!remove(tag, c.newEntry, holder)) return false;
          if (!insert(tag, c.newEntry, recno)) return false;
        }
      } else if (!insert(tag, c.newEntry, recno)) {
        return false;
      }
    }
  }
  IndexTag::PrepareInserts(insertTags.data(), insertEntries.data(), insertTags.size());
  for (TagChange& c : changes)
    if (!c.Same() && !c.tag->Unique() && c.newIncluded && !insert(*c.tag, c.newEntry, recno))
      return false;
  return true;
}

void WorkArea::Revert(std::vector<AppliedOp>& applied) {
  for (auto it = applied.rbegin(); it != applied.rend(); ++it) {
    std::string ignored;
    const IndexEntry entry{*it->key, it->recno};
    if (it->inserted)
      it->tag->Remove(entry, &ignored);
    else
      it->tag->Insert(entry, &ignored);
  }
  applied.clear();
}

bool WorkArea::WriteRecordWithIndexes(std::uint32_t recno, const std::string& newRec,
                                      std::string* error) {
  std::string& oldRec = scratchRecord_;
  oldRec.resize(newRec.size());
  if (!table_->ReadRecord(recno, oldRec.data(), error)) return false;
  std::vector<TagChange>& changes = changes_;
  if (!PrepareChanges(recno, &oldRec, newRec, changes, error)) return false;
  std::vector<AppliedOp>& applied = applied_;
  if (!ApplyChanges(recno, changes, applied, error)) {
    Revert(applied);
    return false;
  }
  if (!table_->WriteRecord(recno, newRec.data(), error)) {
    Revert(applied);
    return false;
  }
  cursorOnRecord_ = false;
  if (recno == recno_) {
    record_ = newRec;
    view_->Point(record_.data(), recno_);
  }
  return true;
}

bool WorkArea::PutRecord(std::string_view data, std::string* error) {
  if (!Writable(error) || !RequireRecord(error)) return false;
  if (data.size() < record_.size()) return Fail(error, "the record buffer is too short");
  std::string& rec = scratchNew_;
  rec.assign(data.substr(0, record_.size()));
  if (rec[0] != '*') rec[0] = ' ';
  return WriteRecordWithIndexes(recno_, rec, error);
}

bool WorkArea::SetDeleted(bool deleted, std::string* error) {
  if (!Writable(error) || !RequireRecord(error)) return false;
  std::string rec = record_;
  // Always from the file: another process may have changed the record.
  if (!table_->ReadRecord(recno_, rec.data(), error)) return false;
  rec[0] = deleted ? '*' : ' ';
  return WriteRecordWithIndexes(recno_, rec, error);
}

bool WorkArea::AppendBlank(std::string* error) {
  return AppendRecord(table_->BlankRecord(), error);
}

bool WorkArea::AppendRecord(std::string_view data, std::string* error) {
  if (!Writable(error)) return false;
  if (data.size() != static_cast<std::size_t>(table_->RecordLength()))
    return Fail(error, "the record has the wrong length");
  const bool shared = mode_ != OpenMode::Exclusive;
  if (shared && !platform::LockRange(locks_.Fd(), platform::LockKind::Exclusive, kAppendLock, 1))
    return Fail(error, path_ + ": the table cannot be locked for appending");
  struct Unlocker {
    int fd;
    bool active;
    ~Unlocker() {
      if (active) platform::UnlockRange(fd, kAppendLock, 1);
    }
  } unlock{locks_.Fd(), shared};
  if (shared && !table_->RefreshCount(error)) return false;
  std::string& blank = scratchNew_;
  blank.assign(data);
  if (blank[0] != '*') blank[0] = ' ';
  const std::uint32_t recno = table_->RecordCount() + 1;
  std::vector<TagChange>& changes = changes_;
  if (!PrepareChanges(recno, nullptr, blank, changes, error)) return false;
  if (!table_->AppendRecord(blank.data(), error)) return false;
  std::vector<AppliedOp>& applied = applied_;
  if (!ApplyChanges(recno, changes, applied, error)) {
    Revert(applied);
    std::string ignored;
    table_->DropLastRecord(&ignored);
    return false;
  }
  record_ = blank;
  recno_ = recno;
  eof_ = false;
  bof_ = false;
  cursorOnRecord_ = false;
  view_->Point(record_.data(), recno_);
  return true;
}

bool WorkArea::MemoRead(int field, std::string& out, std::string* error) {
  out.clear();
  if (field < 0 || field >= static_cast<int>(table_->Fields().size()))
    return Fail(error, "no such field");
  const FieldInfo& f = table_->Fields()[static_cast<std::size_t>(field)];
  if (f.type != 'M' && f.type != 'G' && f.type != 'B' && f.type != 'P' && f.type != 'W')
    return Fail(error, "field " + f.name + " is not a memo field");
  if (f.type == 'B' && table_->IsVfp()) return Fail(error, "field " + f.name + " is not a memo field");
  if (eof_) return true;
  if (!memo_) return Fail(error, path_ + ": the table has no memo file");
  std::uint32_t block = 0;
  if (!ParseMemoRef(std::string_view(record_.data() + f.offset, static_cast<std::size_t>(f.width)),
                    block))
    return Fail(error, path_ + ": record " + std::to_string(recno_) + ", field " + f.name +
                           ": the memo reference is damaged");
  return memo_->Read(block, out, error);
}

bool WorkArea::MemoWrite(int field, std::string_view data, std::string* error) {
  if (!Writable(error) || !RequireRecord(error)) return false;
  if (field < 0 || field >= static_cast<int>(table_->Fields().size()))
    return Fail(error, "no such field");
  const FieldInfo& f = table_->Fields()[static_cast<std::size_t>(field)];
  if (f.type != 'M' && f.type != 'G' && f.type != 'P' && f.type != 'W' &&
      !(f.type == 'B' && !table_->IsVfp()))
    return Fail(error, "field " + f.name + " is not a memo field");
  if (!memo_) return Fail(error, path_ + ": the table has no memo file");
  std::string rec = record_;
  if (!table_->ReadRecord(recno_, rec.data(), error)) return false;
  std::uint32_t block = 0;
  if (!ParseMemoRef(std::string_view(rec.data() + f.offset, static_cast<std::size_t>(f.width)),
                    block))
    block = 0;
  if (!memo_->Write(data, block, error)) return false;
  const std::string ref = FormatMemoRef(block, f.width);
  std::memcpy(rec.data() + f.offset, ref.data(), ref.size());
  return WriteRecordWithIndexes(recno_, rec, error);
}

bool WorkArea::Rlock(std::uint32_t recno, std::string* error) {
  if (recno == 0 || recno > RecCount())
    return Fail(error, "record " + std::to_string(recno) + " does not exist");
  if (recordLocks_.count(recno)) return true;
  if (mode_ == OpenMode::ReadOnly) return Fail(error, path_ + ": the table is open read-only");
  if (!platform::TryLockRange(locks_.Fd(), platform::LockKind::Exclusive,
                              kRecordLockBase + recno, 1))
    return Fail(error, "record " + std::to_string(recno) + " is locked by another user or task");
  recordLocks_.insert(recno);
  return true;
}

bool WorkArea::Locked(std::uint32_t recno) const { return recordLocks_.count(recno) != 0; }

bool WorkArea::Unlock(std::uint32_t recno) {
  if (recno == 0) {
    for (std::uint32_t r : recordLocks_) platform::UnlockRange(locks_.Fd(), kRecordLockBase + r, 1);
    recordLocks_.clear();
    return true;
  }
  if (!recordLocks_.erase(recno)) return false;
  platform::UnlockRange(locks_.Fd(), kRecordLockBase + recno, 1);
  return true;
}

bool WorkArea::Commit(std::string* error) {
  if (mode_ == OpenMode::ReadOnly) return true;
  for (auto& f : indexes_)
    if (!f->Flush(error)) return false;
  if (memo_ && !memo_->Sync(error)) return false;
  return table_->Sync(error);
}

bool WorkArea::EvalString(std::string_view expr, std::string& out, std::string* error) {
  std::string why;
  auto e = Expression::Compile(expr, *view_, &why);
  if (!e) return Fail(error, "expression " + std::string(expr) + ": " + why);
  Value v;
  if (!e->Evaluate(*view_, v, &why)) return Fail(error, "expression " + std::string(expr) + ": " + why);
  out = ValueToText(v);
  return true;
}

bool WorkArea::CreateTag(const std::string& tag, const std::string& keyExpr,
                         const std::string& forExpr, unsigned flags, std::string* error) {
  if (!Writable(error)) return false;
  if (mode_ != OpenMode::Exclusive)
    return Fail(error, path_ + ": an index can be built only with the table open exclusively");
  // The index file is replaced as a whole: let go of the open one first.
  if (!CloseIndexes(error)) return false;
  std::string target = indexPath_;
  const std::string dir = platform::DirectoryPart(path_);
  DbfScan scan(*table_, alias_);
  bool ok = false;
  if (indexKind_ == IndexKind::Ntx) {
    if (target.empty()) target = platform::JoinPath(dir, BaseName(path_) + ".ntx");
#ifdef XBE_HAVE_NTX
    ok = CreateNtx(target, keyExpr, forExpr, flags, scan, error);
#else
    ok = Fail(error, "NTX indexes are not available in this build");
#endif
  } else {
    if (target.empty()) target = platform::JoinPath(dir, BaseName(path_) + ".cdx");
#ifdef XBE_HAVE_CDX
    ok = CreateCdxTag(target, tag, keyExpr, forExpr, flags, scan, error);
#else
    (void)tag;
    ok = Fail(error, "CDX indexes are not available in this build");
#endif
  }
  std::string reopenError;
  const int keepOrder = order_;
  if (!OpenIndexes(&reopenError)) {
    if (ok) Fail(error, reopenError);
    return false;
  }
  SetOrder(keepOrder <= OrderCount() ? keepOrder : 0);
  if (ok && indexKind_ == IndexKind::Cdx && !(table_->TableFlags() & 0x01)) {
    // Mark the table as having a production index, as other programs expect.
    if (!table_->SetTableFlags(static_cast<std::uint8_t>(table_->TableFlags() | 0x01), error))
      return false;
  }
  return ok;
}

bool WorkArea::CheckIndexes(std::string* report) {
  bool ok = true;
  for (auto& f : indexes_) {
    DbfScan scan(*table_, alias_);
    std::string r;
    if (!f->Check(scan, &r)) ok = false;
    if (report && !r.empty()) *report += r;
  }
  return ok;
}

}  // namespace xbe
