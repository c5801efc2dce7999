#pragma once
// Encoding and decoding of the ".TS" index file (FORMAT.md): a header, a base
// section with every entry as of the last rewrite, and a tail of change
// records appended since. Decoding replays the tail and stops at the first
// record that is cut short or fails its checksum: that is where a crash
// interrupted a write, and everything before it is intact.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fts {

inline constexpr char kMagic[8] = {'T', 'S', 'I', 'N', 'D', 'E', 'X', '\x1a'};
inline constexpr std::uint32_t kFormatVersion = 1;
inline constexpr std::size_t kHeaderSize = 64;
inline constexpr std::size_t kRecordHeaderSize = 11;  // crc 4, op 1, recno 4, length 2
inline constexpr std::size_t kMaxText = 1023;
inline constexpr std::uint32_t kFlagCaseSensitive = 1;

enum class LogOp : std::uint8_t { Add = 1, Replace = 2, Delete = 3, Undelete = 4 };

// Every entry of an index, record number n at position n - 1. The texts
// lie back to back in one buffer, so a million entries cost a few
// allocations, not a million. A replaced text is appended to the buffer;
// the bytes it replaces stay unused until the next rewrite of the file.
class Entries {
 public:
  std::size_t Count() const { return offsets_.size(); }
  // Valid until the next Add or Replace.
  std::string_view Text(std::size_t i) const { return {pool_.data() + offsets_[i], lengths_[i]}; }
  bool Deleted(std::size_t i) const { return deleted_[i] != 0; }
  void SetDeleted(std::size_t i, bool deleted) { deleted_[i] = deleted ? 1 : 0; }
  // `text` must not point into these entries.
  void Add(std::string_view text, bool deleted = false);
  void Replace(std::size_t i, std::string_view text);
  void Reserve(std::size_t count, std::size_t textBytes);
  // Same texts and marks, in the same order.
  bool operator==(const Entries& other) const;

 private:
  std::string pool_;
  std::vector<std::uint64_t> offsets_;
  std::vector<std::uint16_t> lengths_;
  std::vector<std::uint8_t> deleted_;
};

struct Header {
  std::uint32_t flags = 0;
  std::uint32_t count = 0;     // entries in the base section
  std::uint32_t sizeHint = 0;  // expected number of entries, given at creation
  std::uint64_t baseSize = 0;  // bytes of the base section
  std::uint32_t baseCrc = 0;
};

struct Decoded {
  Header header;
  Entries entries;
  std::uint64_t validEnd = 0;    // end of the last intact change record
  std::uint64_t logBytes = 0;    // bytes of intact change records
  bool tornTail = false;         // bytes after validEnd were dropped
};

// The whole file for `entries` with an empty change tail.
std::string EncodeFile(const Entries& entries, std::uint32_t flags, std::uint32_t sizeHint);

// One change record, appended to `out`.
void AppendRecord(std::string& out, LogOp op, std::uint32_t recNo, std::string_view text);

// Applies one change to `entries`; false when it does not fit them (an add
// out of sequence, a record number out of range, a text too long).
bool ApplyRecord(Entries& entries, LogOp op, std::uint32_t recNo, std::string_view text);

// False with *why set when the bytes are not an intact index file. A tail
// cut short or failing its checksum is not an error: it is dropped.
bool DecodeFile(std::string_view bytes, Decoded& out, std::string* why);

}  // namespace fts
