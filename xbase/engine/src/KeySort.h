#pragma once
// Index builds in bounded memory: the keys of every record sorted with a
// fixed memory budget (sorted runs beyond it wait in a temporary file and
// are merged), and a spool of fixed-size records that moves to a temporary
// file once it outgrows its share. Temporary files lie beside the index
// being built, so they sit on the same disk or share, and are removed when
// the object dies, on success or failure alike.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Files.h"
#include "platform/RandomFile.h"

namespace xbe {

// What one key sort may hold in memory (32 MiB unless changed). Tests make
// it small so that modest tables already spill.
std::size_t SortMemory();
void SetSortMemory(std::size_t bytes);
// The memory a KeySorter for keys of `keyLen` bytes needs to sort `count`
// keys without a temporary file, but no more than `budget`: a sort whose
// input is known to be small then takes no more than it uses.
std::size_t SortMemoryFor(std::uint64_t count, std::size_t keyLen, std::size_t budget);

namespace sort {

// A temporary file written at its end and read at any offset.
class SpillFile {
 public:
  bool Open(const std::string& beside, std::string* error);
  bool IsOpen() const { return file_.IsOpen(); }
  std::uint64_t Size() const { return size_; }
  bool Append(const char* data, std::size_t size, std::string* error);
  bool ReadAt(std::uint64_t offset, char* data, std::size_t size, std::string* error) const {
    return file_.ReadAt(offset, data, size, error);
  }

 private:
  platform::TempFileBeside name_;
  platform::RandomFile file_;
  std::uint64_t size_ = 0;
};

// Buffered appends of fixed-size records to a SpillFile.
class RunWriter {
 public:
  RunWriter(SpillFile& file, std::size_t bufferBytes) : file_(file) { buf_.reserve(bufferBytes); }
  bool Put(const char* record, std::size_t size, std::string* error) {
    if (buf_.size() + size > buf_.capacity() && !Flush(error)) return false;
    buf_.insert(buf_.end(), record, record + size);
    return true;
  }
  bool Flush(std::string* error);

 private:
  SpillFile& file_;
  std::vector<char> buf_;
};

// Reads `count` records of `size` bytes from `offset` through a buffer of
// the caller's (at least one record).
class RunReader {
 public:
  RunReader(const SpillFile& file, std::uint64_t offset, std::uint64_t count, std::size_t size,
            char* buffer, std::size_t bufferBytes);
  // The current record; valid until the next Advance. Null at the end.
  const char* Current() const { return at_ < have_ ? buf_ + at_ : nullptr; }
  bool Advance(std::string* error);
  bool Start(std::string* error) { return Fill(error); }

 private:
  bool Fill(std::string* error);
  const SpillFile& file_;
  std::uint64_t next_, left_;  // the file's records not yet in the buffer
  std::size_t size_;
  char* buf_;
  std::size_t capacity_;  // whole records
  std::size_t at_ = 0, have_ = 0;
};

}  // namespace sort

// Fixed-size records, appended and then read back once in the same order.
// Up to `memory` bytes stay in memory; beyond that everything goes to a
// temporary file beside `beside`.
class RecordSpool {
 public:
  RecordSpool(std::string beside, std::size_t recordSize, std::size_t memory);
  bool Append(const char* record, std::string* error);
  std::uint64_t Count() const { return count_; }
  // Ends appending; Next then gives the records in order.
  bool Finish(std::string* error);
  // False at the end, or on a read error (Error() then says why).
  bool Next(const char*& record);
  const std::string& Error() const { return error_; }

 private:
  std::string beside_;
  std::size_t size_, memory_;
  std::vector<char> buf_;
  std::uint64_t count_ = 0, read_ = 0;
  std::unique_ptr<sort::SpillFile> file_;
  std::unique_ptr<sort::RunWriter> writer_;
  std::vector<char> readBuf_;
  std::unique_ptr<sort::RunReader> reader_;
  std::string error_;
};

// Keys of `keyLen` bytes with their record numbers, given in any order and
// taken back in ascending order of key bytes (unsigned), then record
// number. Memory stays within `memory` bytes whatever the number of keys:
// a full buffer is sorted and written to a temporary file beside `beside`
// as a run, and the runs are merged at the end, several at a time (more
// than one pass when there are very many). The merge reads through the
// same block of memory that held the keys, so the budget is one
// allocation that lives as long as the sorter, and the pages of it that a
// small table never reaches are never touched.
class KeySorter {
 public:
  KeySorter(std::string beside, std::size_t keyLen, std::size_t memory = SortMemory());
  bool Add(std::string_view key, std::uint32_t rec, std::string* error);
  // Ends input; Next then gives the entries in order.
  bool Finish(std::string* error);
  // False at the end, or on a read error (Error() then says why). The key
  // stays valid until the next call.
  bool Next(std::string_view& key, std::uint32_t& rec);
  const std::string& Error() const { return error_; }
  // Keys added.
  std::uint64_t Count() const { return added_; }
  // Runs written to disk so far.
  std::size_t Runs() const { return spilled_; }

 private:
  struct Run {
    std::uint64_t offset, count;
  };
  // Orders the buffered records; items_ then lists them.
  void SortBuffer();
  bool SpillBuffer(std::string* error);
  // Merges runs [first, first + n) into one run at the end of `to`.
  bool MergeRuns(std::size_t first, std::size_t n, sort::SpillFile& to, std::string* error);
  bool StartMerge(std::size_t first, std::size_t n, std::string* error);
  // The heap of readers: smallest current record on top.
  bool Less(std::size_t a, std::size_t b) const;
  void SiftDown(std::size_t i);
  // Takes the smallest record of the merge; null when all are used up.
  const char* Pop(std::string* error);

  std::string beside_;
  std::size_t keyLen_, size_, memory_;
  std::size_t capacity_;  // records the buffer holds
  std::size_t fanIn_;     // runs merged at a time
  struct Item {
    std::uint64_t prefix;  // first bytes of the record, big-endian, for quick comparison
    std::uint32_t index;
  };
  // The budget: `capacity_` records, then as many Items; the merge's read
  // buffers later.
  std::unique_ptr<char[]> block_;
  std::size_t blockBytes_ = 0;
  char* data_ = nullptr;
  Item* items_ = nullptr;
  std::size_t count_ = 0;
  std::size_t next_ = 0;
  std::unique_ptr<sort::SpillFile> file_;
  std::vector<Run> runs_;
  std::size_t spilled_ = 0;
  std::uint64_t added_ = 0;
  bool merging_ = false;
  std::vector<std::unique_ptr<sort::RunReader>> readers_;
  std::vector<std::size_t> heap_;
  std::size_t lastReader_ = SIZE_MAX;  // advanced at the next Pop
  std::string error_;
};

}  // namespace xbe
