#pragma once
// One open index file: its entries in memory, the file kept open (and locked
// for exclusive use when writable) to append change records, and the last
// search's results. Results are the FTS_* codes of fts32.h.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "TsFormat.h"
#include "WordIndex.h"
#include "platform/FileLock.h"
#include "platform/RandomFile.h"

namespace fts {

class IndexFile {
 public:
  ~IndexFile();
  IndexFile(const IndexFile&) = delete;
  IndexFile& operator=(const IndexFile&) = delete;

  // bufferKiB <= 0 means 32; mode is FTS_MODE_*.
  static std::int32_t Open(const std::string& path, int bufferKiB, int mode,
                           std::unique_ptr<IndexFile>& out);
  static std::int32_t Create(const std::string& path, int bufferKiB, std::uint32_t sizeHint,
                             bool caseSensitive, std::unique_ptr<IndexFile>& out);

  std::int32_t Add(std::string_view text);  // the new record number
  std::int32_t Replace(std::int32_t recNo, std::string_view text);
  std::int32_t SetDeleted(std::int32_t recNo, bool deleted);
  std::int32_t IsDeleted(std::int32_t recNo) const;
  std::int32_t Count() const { return static_cast<std::int32_t>(entries_.Count()); }

  std::int32_t Search(std::string_view query, int kind);
  std::int32_t NextRec();
  std::int32_t Verify(std::string_view query, std::string_view target, int kind) const;

  // Writes what is pending, makes it durable and, when the change tail has
  // grown large against the base, replaces the file by a compact one. The
  // object is unusable afterwards whatever the result.
  std::int32_t Close();

  // For tools: read access to the entries.
  const Entries& AllEntries() const { return entries_; }

  // For tests: when set to n >= 0, the file accepts n more bytes and then
  // every write fails, as if the process died in the middle of a write.
  static void SetWriteBudgetForTesting(std::int64_t bytes);

 private:
  IndexFile() = default;
  std::int32_t Load(const std::string& path, int bufferKiB, int mode);
  std::int32_t Log(LogOp op, std::uint32_t recNo, std::string_view text);
  std::int32_t Flush();
  std::int32_t Writable() const;

  std::string path_;
  platform::RandomFile file_;
  platform::FileLock lock_;
  bool readOnly_ = false;
  bool failed_ = false;          // a write failed: the file holds an earlier state
  bool caseSensitive_ = false;
  std::uint32_t sizeHint_ = 0;
  std::size_t bufferBytes_ = 32 * 1024;
  Entries entries_;
  std::uint64_t baseBytes_ = 0;  // header and base section
  std::uint64_t fileEnd_ = 0;    // where the next record goes
  std::uint64_t logBytes_ = 0;   // change records in the file and pending
  bool truncatePending_ = false; // a torn tail must go before the next append
  std::string pending_;
  std::unique_ptr<WordIndex> words_;
  std::vector<std::uint32_t> found_;
  std::size_t cursor_ = 0;
};

}  // namespace fts
