#include "IndexFile.h"

#include <cerrno>
#include <new>

#include "fts32.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace fts {
namespace {

// Test hook: bytes the file still accepts; negative means unlimited.
std::int64_t g_writeBudget = -1;

bool BudgetedWrite(platform::RandomFile& file, std::uint64_t offset, std::string_view data) {
  if (g_writeBudget >= 0 && static_cast<std::int64_t>(data.size()) > g_writeBudget) {
    const auto part = static_cast<std::size_t>(g_writeBudget);
    g_writeBudget = 0;
    if (part > 0) file.WriteAt(offset, data.data(), part);
    return false;
  }
  if (g_writeBudget >= 0) g_writeBudget -= static_cast<std::int64_t>(data.size());
  return file.WriteAt(offset, data.data(), data.size());
}

bool BudgetedReplace(const std::string& path, const std::string& data) {
  // A rewrite cut short never reaches the rename: the old file stays.
  if (g_writeBudget >= 0 && static_cast<std::int64_t>(data.size()) > g_writeBudget) {
    g_writeBudget = 0;
    return false;
  }
  if (g_writeBudget >= 0) g_writeBudget -= static_cast<std::int64_t>(data.size());
  return platform::WriteFileAtomic(path, data);
}

std::string_view Bounded(std::string_view text) {
  return text.size() > kMaxText ? text.substr(0, kMaxText) : text;
}

SearchKind KindOf(int kind) { return static_cast<SearchKind>(kind); }
bool ValidKind(int kind) { return kind >= FTS_VBEG && kind <= FTS_VONE; }

}  // namespace

void IndexFile::SetWriteBudgetForTesting(std::int64_t bytes) { g_writeBudget = bytes; }

IndexFile::~IndexFile() = default;

std::int32_t IndexFile::Open(const std::string& path, int bufferKiB, int mode,
                             std::unique_ptr<IndexFile>& out) {
  std::unique_ptr<IndexFile> f(new IndexFile());
  const std::int32_t rc = f->Load(path, bufferKiB, mode);
  if (rc == FTS_OK) out = std::move(f);
  return rc;
}

std::int32_t IndexFile::Load(const std::string& path, int bufferKiB, int mode) {
  path_ = path;
  readOnly_ = (mode & FTS_MODE_READONLY) != 0;
  bufferBytes_ = static_cast<std::size_t>(bufferKiB > 0 ? bufferKiB : 32) * 1024;
  if (!platform::FileExists(path)) return FTS_ERR_NOT_FOUND;
  if (!file_.Open(path, !readOnly_)) return FTS_ERR_IO;
  // The lock is taken on the file the descriptor above has open; a second
  // writer (this process or another) is refused rather than left to
  // interleave its records with ours.
  if (!readOnly_ && !lock_.Acquire(path, platform::LockKind::Exclusive, false)) {
    return FTS_ERR_LOCKED;
  }
  const std::int64_t size = file_.Size();
  if (size < 0) return FTS_ERR_IO;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (size > 0 && !file_.ReadAt(0, bytes.data(), bytes.size())) return FTS_ERR_IO;
  Decoded d;
  if (!DecodeFile(bytes, d, nullptr)) return FTS_ERR_CORRUPT;
  bytes = std::string();
  caseSensitive_ = (d.header.flags & kFlagCaseSensitive) != 0;
  sizeHint_ = d.header.sizeHint;
  entries_ = std::move(d.entries);
  baseBytes_ = kHeaderSize + d.header.baseSize;
  fileEnd_ = d.validEnd;
  logBytes_ = d.logBytes;
  truncatePending_ = d.tornTail;
  words_ = std::make_unique<WordIndex>(caseSensitive_);
  return FTS_OK;
}

std::int32_t IndexFile::Create(const std::string& path, int bufferKiB, std::uint32_t sizeHint,
                               bool caseSensitive, std::unique_ptr<IndexFile>& out) {
  // Refuse to replace a file that some handle is writing to.
  if (platform::FileExists(path)) {
    platform::FileLock probe;
    if (!probe.Acquire(path, platform::LockKind::Exclusive, false)) return FTS_ERR_LOCKED;
  }
  Entries none;
  const std::uint32_t flags = caseSensitive ? kFlagCaseSensitive : 0;
  if (!BudgetedReplace(path, EncodeFile(none, flags, sizeHint))) return FTS_ERR_IO;
  return Open(path, bufferKiB, FTS_MODE_READWRITE, out);
}

std::int32_t IndexFile::Writable() const {
  if (readOnly_) return FTS_ERR_READONLY;
  if (failed_) return FTS_ERR_IO;
  return FTS_OK;
}

std::int32_t IndexFile::Log(LogOp op, std::uint32_t recNo, std::string_view text) {
  AppendRecord(pending_, op, recNo, text);
  logBytes_ += kRecordHeaderSize + text.size();
  return pending_.size() >= bufferBytes_ ? Flush() : FTS_OK;
}

std::int32_t IndexFile::Flush() {
  if (failed_) return FTS_ERR_IO;
  if (pending_.empty()) return FTS_OK;
  if (truncatePending_) {
    if (!file_.Truncate(fileEnd_)) {
      failed_ = true;
      return FTS_ERR_IO;
    }
    truncatePending_ = false;
  }
  if (!BudgetedWrite(file_, fileEnd_, pending_)) {
    // What reached the file is a torn record at worst, which every reader
    // drops; from here on this handle refuses changes.
    failed_ = true;
    return FTS_ERR_IO;
  }
  fileEnd_ += pending_.size();
  pending_.clear();
  return FTS_OK;
}

std::int32_t IndexFile::Add(std::string_view text) {
  if (const auto rc = Writable(); rc != FTS_OK) return rc;
  if (entries_.Count() >= 0x7FFFFFFFu) return FTS_ERR_RECNO;
  text = Bounded(text);
  const auto recNo = static_cast<std::uint32_t>(entries_.Count() + 1);
  entries_.Add(text);
  words_->OnAdd(recNo, text);
  const auto rc = Log(LogOp::Add, recNo, text);
  return rc == FTS_OK ? static_cast<std::int32_t>(recNo) : rc;
}

std::int32_t IndexFile::Replace(std::int32_t recNo, std::string_view text) {
  if (const auto rc = Writable(); rc != FTS_OK) return rc;
  if (recNo < 1 || static_cast<std::size_t>(recNo) > entries_.Count()) return FTS_ERR_RECNO;
  text = Bounded(text);
  const std::size_t i = static_cast<std::size_t>(recNo) - 1;
  words_->OnReplace(static_cast<std::uint32_t>(recNo), entries_.Text(i), text);
  entries_.Replace(i, text);
  return Log(LogOp::Replace, static_cast<std::uint32_t>(recNo), text);
}

std::int32_t IndexFile::SetDeleted(std::int32_t recNo, bool deleted) {
  if (const auto rc = Writable(); rc != FTS_OK) return rc;
  if (recNo < 1 || static_cast<std::size_t>(recNo) > entries_.Count()) return FTS_ERR_RECNO;
  entries_.SetDeleted(static_cast<std::size_t>(recNo) - 1, deleted);
  return Log(deleted ? LogOp::Delete : LogOp::Undelete, static_cast<std::uint32_t>(recNo), {});
}

std::int32_t IndexFile::IsDeleted(std::int32_t recNo) const {
  if (recNo < 1 || static_cast<std::size_t>(recNo) > entries_.Count()) return FTS_ERR_RECNO;
  return entries_.Deleted(static_cast<std::size_t>(recNo) - 1) ? 1 : 0;
}

std::int32_t IndexFile::Search(std::string_view query, int kind) {
  if (!ValidKind(kind)) return FTS_ERR_ARGUMENT;
  if (!words_->Built()) words_->Build(entries_);
  found_ = words_->Find(query, KindOf(kind));
  std::erase_if(found_, [&](std::uint32_t r) { return entries_.Deleted(r - 1); });
  cursor_ = 0;
  return static_cast<std::int32_t>(found_.size());
}

std::int32_t IndexFile::NextRec() {
  if (cursor_ >= found_.size()) return 0;
  return static_cast<std::int32_t>(found_[cursor_++]);
}

std::int32_t IndexFile::Verify(std::string_view query, std::string_view target,
                               int kind) const {
  if (!ValidKind(kind)) return FTS_ERR_ARGUMENT;
  return TextMatches(query, target, KindOf(kind), caseSensitive_) ? 1 : 0;
}

std::int32_t IndexFile::Close() {
  if (readOnly_) return FTS_OK;
  std::int32_t rc = Flush();
  if (rc == FTS_OK && fileEnd_ > baseBytes_ && !file_.Sync()) rc = FTS_ERR_IO;
  if (failed_) rc = FTS_ERR_IO;
  // Fold the change tail into a new base once it outweighs a quarter of the
  // base: reading stays fast and the rewrite's cost is spread over many
  // changes. The old file stays whole until the rename.
  const bool compact = rc == FTS_OK && logBytes_ > 64 * 1024 && logBytes_ * 4 > baseBytes_;
  if (compact) {
    const std::uint32_t flags = caseSensitive_ ? kFlagCaseSensitive : 0;
    // Failing here loses nothing: the appended records are durable.
    BudgetedReplace(path_, EncodeFile(entries_, flags, sizeHint_));
  }
  file_.Close();
  lock_.Release();
  failed_ = true;
  return rc;
}

}  // namespace fts
