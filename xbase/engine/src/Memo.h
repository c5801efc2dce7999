#pragma once
// Memo files. The record holds a block number; the memo file holds the text.
//
// FPT (FoxPro):  header 512 bytes: [0] next free block BE32, [6] block size
//                BE16. Memo at block*size: type BE32, length BE32, data.
// DBT dBASE III: 512-byte blocks, header [0] next free block LE32. Data ends
//                at the first 0x1A (written as 0x1A 0x1A); no length field.
// DBT dBASE IV:  header [0] next free LE32, [20] block size LE16. Memo:
//                FF FF 08 00, LE32 length including these 8 bytes, data.
//
// New and grown memos go to the next free block, which then advances; a memo
// that still fits its old blocks is rewritten in place (FPT, dBASE IV).
// A block number that points outside the file, a length that runs past its
// end or a memo without terminator is reported as damage, never followed.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Dbf.h"
#include "platform/RandomFile.h"

namespace xbe {

class MemoFile {
 public:
  static std::unique_ptr<MemoFile> Open(const std::string& path, MemoKind kind, bool writable,
                                        std::string* error);
  // Writes an empty memo file atomically.
  static bool Create(const std::string& path, MemoKind kind, const std::string& tableBaseName,
                     std::string* error);
  // Checks a header image (the fuzz target feeds it arbitrary bytes).
  bool ParseHeader(std::string_view header, std::int64_t fileSize, std::string* error);

  MemoKind Kind() const { return kind_; }
  std::uint32_t BlockSize() const { return blockSize_; }

  // Block 0 reads as the empty memo.
  bool Read(std::uint32_t block, std::string& out, std::string* error);
  // Stores `data`; `block` is the memo's present block (0 for none) and
  // receives the block now holding it (0 for an empty value).
  bool Write(std::string_view data, std::uint32_t& block, std::string* error);
  bool Sync(std::string* error);

 private:
  bool StoredLength(std::uint32_t block, std::uint64_t& length, std::string* error);
  bool WriteNextFree(std::string* error);

  platform::RandomFile file_;
  MemoKind kind_ = MemoKind::None;
  bool writable_ = false;
  std::uint32_t blockSize_ = 512;
  std::uint32_t nextFree_ = 0;
  std::int64_t size_ = 0;
};

// The block number a memo field holds: 10 ASCII digits (blank = none) or, in
// Visual FoxPro tables, a LE32. False when the bytes are not a block number.
bool ParseMemoRef(std::string_view field, std::uint32_t& block);
// The field bytes for `block` in a field of `width` (10 or 4) bytes.
std::string FormatMemoRef(std::uint32_t block, int width);

}  // namespace xbe
