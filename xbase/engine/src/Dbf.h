#pragma once
// The DBF table file: header, field descriptors and fixed-length records.
//
//   [32-byte header][n x 32-byte field descriptors][0x0D]
//   [VFP only: 263-byte back-link area][padding up to header length]
//   [record 1]...[record N][0x1A]
//
// The header's record count is authoritative; the header length and record
// length are taken from the header, never recomputed. Shared: every append
// rewrites the record count and the date of last update and puts 0x1A after
// the last record, so other processes see a complete file after each append.
// Exclusive (the block cache on): records are written back from the cache,
// and the header and end marker once at Sync, which every flush, commit and
// close goes through.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Prefetch.h"
#include "platform/RandomFile.h"

namespace xbe {

struct FieldInfo {
  std::string name;   // as stored (ASCII, at most 10 characters)
  char type = 'C';
  int offset = 0;     // in the record; 1 = first byte after the deletion flag
  int width = 0;
  int decimals = 0;
  std::uint8_t flags = 0;  // VFP field flags
};

enum class MemoKind { None, Fpt, Dbt3, Dbt4, Smt };

// A field given to Create: name, type letter, width and decimals.
struct FieldSpec {
  std::string name;
  char type = 'C';
  int width = 0;
  int decimals = 0;
};

class DbfTable {
 public:
  // Reads and checks the header. A table that does not hold together (header
  // or record length inconsistent with its fields, record count beyond the
  // end of the file) is refused with the reason in *error.
  static std::unique_ptr<DbfTable> Open(const std::string& path, bool writable,
                                        std::string* error);
  // A table without a file, for ParseHeader alone (the header fuzz target).
  DbfTable() = default;
  // Writes back what the cache still holds (without fsync); call Sync to
  // learn about failures.
  ~DbfTable();
  DbfTable(const DbfTable&) = delete;
  DbfTable& operator=(const DbfTable&) = delete;
  // Parses a header image (the first bytes of a file of `fileSize` bytes).
  // Shared with the fuzz target, which feeds it arbitrary bytes.
  bool ParseHeader(std::string_view bytes, std::int64_t fileSize, std::string* error);

  // Writes a new empty table atomically. `version` is the first byte.
  static bool Create(const std::string& path, std::uint8_t version,
                     const std::vector<FieldSpec>& fields, std::string* error);

  const std::string& Path() const { return file_.Path(); }
  std::uint8_t Version() const { return version_; }
  bool IsVfp() const { return version_ == 0x30 || version_ == 0x31 || version_ == 0x32; }
  MemoKind Memo() const { return memo_; }
  std::uint8_t TableFlags() const { return tableFlags_; }
  bool Encrypted() const { return encrypted_; }
  const std::vector<FieldInfo>& Fields() const { return fields_; }
  int FindField(std::string_view name) const;  // -1 when absent; any case
  int RecordLength() const { return recordLength_; }
  int HeaderLength() const { return headerLength_; }
  std::uint32_t RecordCount() const { return count_; }
  bool Writable() const { return writable_; }

  // Re-reads the record count from the file (another process may append
  // while the table is open shared).
  bool RefreshCount(std::string* error);
  // Turns the block cache on or off; off for shared use, where other
  // processes change records under us. Turning it off writes back first.
  bool SetCaching(bool on, std::string* error = nullptr);

  // `recno` 1..RecordCount; `out` holds RecordLength bytes. A record that
  // lies whole in a cached block is copied here; everything else (and every
  // error) takes ReadRecordAnyWay.
  bool ReadRecord(std::uint32_t recno, char* out, std::string* error) {
    if (caching_ && recno - 1u < count_ && !blocks_.empty()) {
      const std::uint64_t at = RecordOffset(recno);
      const std::uint64_t n = at / kBlockBytes;
      const std::size_t in = static_cast<std::size_t>(at % kBlockBytes);
      const std::size_t len = static_cast<std::size_t>(recordLength_);
      const Block& b = blocks_[static_cast<std::size_t>(n % kCacheBlocks)];
      // valid never exceeds a block, so the record does not cross its end.
      if (b.number == n && in + len <= b.valid) {
        std::memcpy(out, b.bytes + in, len);
        lastRead_ = recno;
        return true;
      }
    }
    return ReadRecordAnyWay(recno, out, error);
  }
  // Asks the processor to fetch a cached record into its caches, so that a
  // read soon after does not wait for memory. Does nothing else.
  void Prefetch(std::uint32_t recno) const {
    if (!caching_ || recno - 1u >= count_) return;
    const std::uint64_t at = RecordOffset(recno);
    // A slot's bytes lie at its place in its chunk, so the record's address
    // is the chunk's plus the offset's remainder by the chunk's size. If
    // the slot holds another block, the fetch is wasted, nothing else.
    constexpr std::size_t kChunkBytes = kChunkSlots * kBlockBytes;
    const std::size_t chunk =
        static_cast<std::size_t>(at / kChunkBytes) % (kCacheBlocks / kChunkSlots);
    if (chunk >= chunks_.size() || !chunks_[chunk] || blocks_.empty()) return;
    const std::size_t in = static_cast<std::size_t>(at % kChunkBytes);
    const char* base = chunks_[chunk].get();
    // Up to the end of the record's block: the slot after it may hold any block.
    const std::size_t end = std::min<std::size_t>(in + static_cast<std::size_t>(recordLength_),
                                                  (in | (kBlockBytes - 1)) + 1);
    for (std::size_t line = in & ~std::size_t{63}; line < end; line += 64) PrefetchLine(base + line);
    PrefetchLine(&blocks_[static_cast<std::size_t>(at / kBlockBytes) % kCacheBlocks]);
  }
  bool WriteRecord(std::uint32_t recno, const char* data, std::string* error);
  // Writes the record after the last one, then 0x1A, then the header (count
  // and date). On failure the record count is unchanged.
  bool AppendRecord(const char* data, std::string* error);
  // Undoes the last append (used when its index updates fail).
  bool DropLastRecord(std::string* error);
  // Writes back cached records, the header and the end marker, then fsyncs.
  bool Sync(std::string* error);
  // Rewrites the table-flags byte (offset 28).
  bool SetTableFlags(std::uint8_t flags, std::string* error);

  // A record of blanks in each field's blank form (deletion flag blank).
  std::string BlankRecord() const;

 private:
  static constexpr std::size_t kBlockBytes = 4 * 1024;
  static constexpr std::size_t kCacheBlocks = 32768;  // 128 MiB at most, whatever the table size
  static constexpr std::size_t kChunkSlots = 512;     // 2 MiB of blocks per allocation
  static_assert(kCacheBlocks % kChunkSlots == 0, "a chunk's slots are neighbours in the cache");

  std::uint64_t RecordOffset(std::uint32_t recno) const {
    return static_cast<std::uint64_t>(headerLength_) +
           (recno - 1ull) * static_cast<std::uint64_t>(recordLength_);
  }
  bool ReadRecordAnyWay(std::uint32_t recno, char* out, std::string* error);
  bool WriteHeaderCountAndDate(std::string* error);

  platform::RandomFile file_;
  bool writable_ = false;
  std::uint8_t version_ = 0;
  std::uint8_t tableFlags_ = 0;
  bool encrypted_ = false;
  MemoKind memo_ = MemoKind::None;
  std::vector<FieldInfo> fields_;
  int headerLength_ = 0;
  int recordLength_ = 0;
  std::uint32_t count_ = 0;

  // A bounded cache of file blocks for exclusive use: direct-mapped, so its
  // memory does not grow beyond a fixed size whatever the table size. Writes
  // land in the cache and reach the file when their block is evicted or at
  // Sync; the header (count and date) and the end marker only at Sync.
  // 32 bytes on a 32-byte boundary: a block's slot never straddles two
  // cache lines, so a lookup (and its prefetch) is one line.
  struct alignas(32) Block {
    std::uint64_t number = ~std::uint64_t{0};
    std::uint32_t valid = 0;  // bytes that hold file data (short at the end)
    bool dirty = false;
    char* bytes = nullptr;  // the slot's room in its chunk, once used
  };
  // The blocks' bytes lie in chunks of neighbouring slots, allocated when a
  // slot of theirs is first used: a slot's bytes stay at one address, so a
  // prefetch needs no lookup, and a large table's cache can sit on huge
  // pages.
  struct ChunkFree {
    void operator()(char* p) const;
  };
  std::vector<std::unique_ptr<char, ChunkFree>> chunks_;
  char* SlotBytes(std::size_t slot);
  Block* CachedBlock(std::uint64_t number, std::string* error);
  bool WriteBackBlock(Block& b, std::string* error);
  bool WriteBackAll(std::string* error);
  // Everything Sync writes, without the fsync.
  bool WriteBack(std::string* error);
  // Makes the file at least `end` bytes long (zeros), or fails leaving it
  // as it was.
  bool Reserve(std::uint64_t end, std::string* error);
  bool ReadCached(std::uint64_t offset, char* out, std::size_t size, std::string* error);
  bool WriteCached(std::uint64_t offset, const char* data, std::size_t size, std::string* error);
  // Copies bytes written straight to the file into the blocks holding them.
  void PatchCache(std::uint64_t offset, const void* data, std::size_t size);
  void DropCache();
  bool caching_ = true;
  std::vector<Block> blocks_;
  std::vector<char> readAhead_;
  std::int64_t fileSize_ = 0;    // on disk, as far as this object wrote or saw it
  bool headerDirty_ = false;     // date (and count) to be written at Sync
  std::uint32_t lastRead_ = 0;   // record last read, to tell a sequential read
  bool countChanged_ = false;    // end marker and length to be fixed at Sync
};

// Today's date in the header's form: year - 1900, month, day.
void HeaderDateToday(std::uint8_t out[3]);

}  // namespace xbe
