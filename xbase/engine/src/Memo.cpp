#include "Memo.h"

#include <algorithm>
#include <cstring>

#include "platform/Files.h"

namespace xbe {
namespace {

constexpr std::uint32_t kMaxMemo = 64u * 1024 * 1024;  // refuse absurd lengths from damaged files

std::uint32_t Be32(const unsigned char* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
std::uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void PutBe32(unsigned char* p, std::uint32_t v) {
  p[0] = (v >> 24) & 0xFF;
  p[1] = (v >> 16) & 0xFF;
  p[2] = (v >> 8) & 0xFF;
  p[3] = v & 0xFF;
}
void PutLe32(unsigned char* p, std::uint32_t v) {
  p[0] = v & 0xFF;
  p[1] = (v >> 8) & 0xFF;
  p[2] = (v >> 16) & 0xFF;
  p[3] = (v >> 24) & 0xFF;
}

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

}  // namespace

bool ParseMemoRef(std::string_view field, std::uint32_t& block) {
  block = 0;
  if (field.size() == 4) {
    block = Le32(reinterpret_cast<const unsigned char*>(field.data()));
    return true;
  }
  std::uint64_t v = 0;
  bool digits = false;
  for (char c : field) {
    if (c == ' ' || c == '\0') {
      if (digits) {
        // Blanks after the digits are tolerated only as trailing fill.
        continue;
      }
      continue;
    }
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
    if (v > 0xFFFFFFFFull) return false;
    digits = true;
  }
  block = static_cast<std::uint32_t>(v);
  return true;
}

std::string FormatMemoRef(std::uint32_t block, int width) {
  if (width == 4) {
    std::string r(4, '\0');
    PutLe32(reinterpret_cast<unsigned char*>(r.data()), block);
    return r;
  }
  std::string r(static_cast<std::size_t>(width), ' ');
  if (block == 0) return r;
  std::string digits = std::to_string(block);
  if (digits.size() > r.size()) digits = digits.substr(digits.size() - r.size());
  std::memcpy(r.data() + r.size() - digits.size(), digits.data(), digits.size());
  return r;
}

bool MemoFile::ParseHeader(std::string_view header, std::int64_t fileSize, std::string* error) {
  const auto* h = reinterpret_cast<const unsigned char*>(header.data());
  if (header.size() < 32) return Fail(error, "the memo header is truncated");
  size_ = fileSize;
  switch (kind_) {
    case MemoKind::Fpt:
      nextFree_ = Be32(h);
      blockSize_ = static_cast<std::uint32_t>((h[6] << 8) | h[7]);
      if (blockSize_ == 0) return Fail(error, "the memo block size is 0");
      break;
    case MemoKind::Dbt3:
      nextFree_ = Le32(h);
      blockSize_ = 512;
      break;
    case MemoKind::Dbt4:
      nextFree_ = Le32(h);
      blockSize_ = static_cast<std::uint32_t>(h[20] | (h[21] << 8));
      if (blockSize_ == 0) blockSize_ = 512;
      break;
    default:
      return Fail(error, "memo files of this kind are not supported");
  }
  // The first block a memo may start in lies after the 512-byte header.
  const std::uint64_t headerBlocks = (512 + blockSize_ - 1) / blockSize_;
  const std::uint64_t endBlocks = (static_cast<std::uint64_t>(std::max<std::int64_t>(fileSize, 0)) +
                                   blockSize_ - 1) / blockSize_;
  if (nextFree_ < headerBlocks) nextFree_ = static_cast<std::uint32_t>(headerBlocks);
  // A next-free pointer below the end would make new memos overwrite old
  // ones: start new memos at the end of the file instead.
  if (nextFree_ < endBlocks) {
    if (endBlocks > 0xFFFFFFFFull) return Fail(error, "the memo file is too large");
    nextFree_ = static_cast<std::uint32_t>(endBlocks);
  }
  return true;
}

std::unique_ptr<MemoFile> MemoFile::Open(const std::string& path, MemoKind kind, bool writable,
                                         std::string* error) {
  auto m = std::unique_ptr<MemoFile>(new MemoFile());
  m->kind_ = kind;
  m->writable_ = writable;
  if (!m->file_.Open(path, writable, error)) return nullptr;
  const std::int64_t size = m->file_.Size();
  unsigned char h[32] = {};
  if (size < 32) {
    Fail(error, path + ": the memo header is truncated");
    return nullptr;
  }
  if (!m->file_.ReadAt(0, h, sizeof h, error)) return nullptr;
  std::string why;
  if (!m->ParseHeader(std::string_view(reinterpret_cast<const char*>(h), sizeof h), size, &why)) {
    Fail(error, path + ": " + why);
    return nullptr;
  }
  return m;
}

bool MemoFile::Create(const std::string& path, MemoKind kind, const std::string& tableBaseName,
                      std::string* error) {
  std::string file(512, '\0');
  auto* h = reinterpret_cast<unsigned char*>(file.data());
  switch (kind) {
    case MemoKind::Fpt:
      PutBe32(h, 8);  // 64-byte blocks: the header fills blocks 0..7
      h[6] = 0;
      h[7] = 64;
      break;
    case MemoKind::Dbt3:
      PutLe32(h, 1);
      break;
    case MemoKind::Dbt4: {
      PutLe32(h, 1);
      const std::string name = tableBaseName.substr(0, 8);
      std::memcpy(h + 8, name.data(), name.size());
      h[20] = 0x00;
      h[21] = 0x02;
      break;
    }
    default:
      return Fail(error, "memo files of this kind cannot be created");
  }
  return platform::WriteFileAtomic(path, file, error);
}

bool MemoFile::StoredLength(std::uint32_t block, std::uint64_t& length, std::string* error) {
  const std::uint64_t off = static_cast<std::uint64_t>(block) * blockSize_;
  unsigned char b[8];
  if (off + 8 > static_cast<std::uint64_t>(size_))
    return Fail(error, file_.Path() + ": memo block " + std::to_string(block) +
                           " lies beyond the end of the file");
  if (!file_.ReadAt(off, b, 8, error)) return false;
  if (kind_ == MemoKind::Fpt) {
    length = Be32(b + 4);
  } else {
    if (b[0] != 0xFF || b[1] != 0xFF || b[2] != 0x08 || b[3] != 0x00)
      return Fail(error, file_.Path() + ": memo block " + std::to_string(block) +
                             " does not start a memo");
    const std::uint32_t l = Le32(b + 4);
    if (l < 8) return Fail(error, file_.Path() + ": memo block " + std::to_string(block) +
                                      " has an impossible length");
    length = l - 8;
  }
  if (length > kMaxMemo || off + 8 + length > static_cast<std::uint64_t>(size_))
    return Fail(error, file_.Path() + ": the memo at block " + std::to_string(block) +
                           " runs past the end of the file");
  return true;
}

bool MemoFile::Read(std::uint32_t block, std::string& out, std::string* error) {
  out.clear();
  if (block == 0) return true;
  const std::uint64_t off = static_cast<std::uint64_t>(block) * blockSize_;
  if (off < 512)
    return Fail(error, file_.Path() + ": memo block " + std::to_string(block) +
                           " lies inside the file header");
  if (kind_ == MemoKind::Dbt3) {
    if (off >= static_cast<std::uint64_t>(size_))
      return Fail(error, file_.Path() + ": memo block " + std::to_string(block) +
                             " lies beyond the end of the file");
    std::uint64_t pos = off;
    char chunk[512];
    while (pos < static_cast<std::uint64_t>(size_)) {
      const std::size_t n = static_cast<std::size_t>(
          std::min<std::uint64_t>(sizeof chunk, static_cast<std::uint64_t>(size_) - pos));
      if (!file_.ReadAt(pos, chunk, n, error)) return false;
      const void* eof = std::memchr(chunk, 0x1A, n);
      if (eof) {
        out.append(chunk, static_cast<const char*>(eof) - chunk);
        return true;
      }
      out.append(chunk, n);
      if (out.size() > kMaxMemo)
        return Fail(error, file_.Path() + ": the memo at block " + std::to_string(block) +
                               " has no end");
      pos += n;
    }
    // Some writers leave the last memo without terminator at the end of the file.
    return true;
  }
  std::uint64_t length = 0;
  if (!StoredLength(block, length, error)) return false;
  out.resize(static_cast<std::size_t>(length));
  return length == 0 || file_.ReadAt(off + 8, out.data(), out.size(), error);
}

bool MemoFile::WriteNextFree(std::string* error) {
  unsigned char b[4];
  if (kind_ == MemoKind::Fpt)
    PutBe32(b, nextFree_);
  else
    PutLe32(b, nextFree_);
  return file_.WriteAt(0, b, 4, error);
}

bool MemoFile::Write(std::string_view data, std::uint32_t& block, std::string* error) {
  if (!writable_) return Fail(error, file_.Path() + ": the memo file is open read-only");
  if (data.size() > kMaxMemo) return Fail(error, file_.Path() + ": the memo is too long");
  if (data.empty()) {
    block = 0;
    return true;
  }
  std::string image;
  if (kind_ == MemoKind::Dbt3) {
    if (data.find('\x1A') != std::string_view::npos)
      return Fail(error, "a dBASE III memo cannot hold the byte 0x1A");
    image.assign(data);
    image.append("\x1A\x1A");
  } else {
    image.assign(8, '\0');
    auto* h = reinterpret_cast<unsigned char*>(image.data());
    if (kind_ == MemoKind::Fpt) {
      PutBe32(h, 1);
      PutBe32(h + 4, static_cast<std::uint32_t>(data.size()));
    } else {
      h[0] = 0xFF;
      h[1] = 0xFF;
      h[2] = 0x08;
      h[3] = 0x00;
      PutLe32(h + 4, static_cast<std::uint32_t>(data.size() + 8));
    }
    image.append(data);
  }
  const std::uint64_t blocksNeeded = (image.size() + blockSize_ - 1) / blockSize_;
  // Rewrite in place when the old run is long enough (not for dBASE III,
  // whose memos have no length and may be shared by copies of a record).
  if (block != 0 && kind_ != MemoKind::Dbt3 &&
      static_cast<std::uint64_t>(block) * blockSize_ >= 512) {
    std::uint64_t oldLength = 0;
    std::string ignored;
    if (StoredLength(block, oldLength, &ignored)) {
      const std::uint64_t oldBlocks = (oldLength + 8 + blockSize_ - 1) / blockSize_;
      if (oldBlocks >= blocksNeeded) {
        return file_.WriteAt(static_cast<std::uint64_t>(block) * blockSize_, image.data(),
                             image.size(), error);
      }
    }
  }
  const std::uint64_t newNext = static_cast<std::uint64_t>(nextFree_) + blocksNeeded;
  if (newNext > 0xFFFFFFFFull) return Fail(error, file_.Path() + ": the memo file is full");
  // Pad to whole blocks so the next-free pointer and the file end agree.
  image.resize(static_cast<std::size_t>(blocksNeeded * blockSize_), '\0');
  const std::uint64_t off = static_cast<std::uint64_t>(nextFree_) * blockSize_;
  if (!file_.WriteAt(off, image.data(), image.size(), error)) return false;
  const std::uint32_t at = nextFree_;
  nextFree_ = static_cast<std::uint32_t>(newNext);
  size_ = std::max<std::int64_t>(size_, static_cast<std::int64_t>(off + image.size()));
  if (!WriteNextFree(error)) {
    nextFree_ = at;
    return false;
  }
  block = at;
  return true;
}

bool MemoFile::Sync(std::string* error) { return !writable_ || file_.Sync(error); }

}  // namespace xbe
