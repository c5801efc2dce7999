#include "Dbf.h"

#include <algorithm>
#include <cstring>
#include <new>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

#include "Prefetch.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/Time.h"

namespace xbe {
namespace {

constexpr std::uint64_t kReserveBytes = 64 * 1024;
constexpr std::uint64_t kReadAheadBlocks = 16;
constexpr int kVfpBackLink = 263;

std::uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
void PutLe32(unsigned char* p, std::uint32_t v) {
  p[0] = v & 0xFF;
  p[1] = (v >> 8) & 0xFF;
  p[2] = (v >> 16) & 0xFF;
  p[3] = (v >> 24) & 0xFF;
}
void PutLe16(unsigned char* p, std::uint32_t v) {
  p[0] = v & 0xFF;
  p[1] = (v >> 8) & 0xFF;
}

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

bool IsVfpVersion(std::uint8_t v) { return v == 0x30 || v == 0x31 || v == 0x32; }

// Width a field of a fixed-size type must have; 0 when the type takes the
// width it is given.
int FixedWidth(char type, bool vfp) {
  switch (type) {
    case 'D': return 8;
    case 'L': return 1;
    case 'M':
    case 'G': return vfp ? 4 : 10;
    case 'I': return 4;
    case 'B':
    case 'Y':
    case 'T': return 8;
    default: return 0;
  }
}

}  // namespace

void HeaderDateToday(std::uint8_t out[3]) {
  const platform::LocalDateTime now = platform::NowLocal();
  out[0] = static_cast<std::uint8_t>(std::clamp(now.year - 1900, 0, 255));
  out[1] = static_cast<std::uint8_t>(now.month);
  out[2] = static_cast<std::uint8_t>(now.day);
}

bool DbfTable::ParseHeader(std::string_view bytes, std::int64_t fileSize, std::string* error) {
  const auto* h = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() < 32) return Fail(error, "the table header is truncated");
  version_ = h[0];
  count_ = Le32(h + 4);
  headerLength_ = Le16(h + 8);
  recordLength_ = Le16(h + 10);
  encrypted_ = h[15] != 0;
  tableFlags_ = h[28];
  switch (version_) {
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x07:
      memo_ = MemoKind::None;
      break;
    case 0x30:
    case 0x31:
    case 0x32:
      memo_ = (tableFlags_ & 0x02) ? MemoKind::Fpt : MemoKind::None;
      break;
    case 0x83:
    case 0x86:
    case 0x87:
      memo_ = MemoKind::Dbt3;
      break;
    case 0x8B:
      memo_ = MemoKind::Dbt4;
      break;
    case 0xF5:
    case 0xF6:
      memo_ = MemoKind::Fpt;
      break;
    case 0xE5:
    case 0xE6:
      memo_ = MemoKind::Smt;
      break;
    default:
      return Fail(error, "not a table file of a known kind (first byte 0x" +
                             std::string(1, "0123456789ABCDEF"[version_ >> 4]) +
                             std::string(1, "0123456789ABCDEF"[version_ & 15]) + ")");
  }
  if (headerLength_ < 33) return Fail(error, "the header length is too small");
  if (recordLength_ < 2) return Fail(error, "the record length is too small");
  if (bytes.size() < static_cast<std::size_t>(headerLength_))
    return Fail(error, "the table header is truncated");

  fields_.clear();
  const bool vfp = IsVfpVersion(version_);
  int offset = 1;
  std::size_t pos = 32;
  bool terminated = false;
  while (pos < static_cast<std::size_t>(headerLength_)) {
    if (h[pos] == 0x0D) {
      terminated = true;
      break;
    }
    if (pos + 32 > static_cast<std::size_t>(headerLength_))
      return Fail(error, "a field descriptor runs past the header length");
    const unsigned char* d = h + pos;
    FieldInfo f;
    std::size_t nameLen = 0;
    while (nameLen < 11 && d[nameLen] != 0) ++nameLen;
    f.name.assign(reinterpret_cast<const char*>(d), std::min<std::size_t>(nameLen, 10));
    if (f.name.empty()) return Fail(error, "a field has no name");
    f.type = static_cast<char>(d[11]);
    f.width = d[16];
    f.decimals = d[17];
    f.flags = vfp ? d[18] : 0;
    // Clipper-style writers keep the high byte of a wide character field in
    // the decimals byte.
    if (f.type == 'C' && !vfp && f.decimals > 0) {
      f.width += 256 * f.decimals;
      f.decimals = 0;
    }
    if (f.width <= 0) return Fail(error, "field " + f.name + " has width 0");
    f.offset = offset;
    offset += f.width;
    fields_.push_back(std::move(f));
    pos += 32;
    if (fields_.size() > 2048) return Fail(error, "too many fields");
  }
  if (!terminated) return Fail(error, "the field list has no terminator");
  if (fields_.empty()) return Fail(error, "the table has no fields");
  if (vfp && pos + 1 + kVfpBackLink > static_cast<std::size_t>(headerLength_))
    return Fail(error, "the header is too short for a Visual FoxPro table");
  if (offset > recordLength_)
    return Fail(error, "the fields are wider than the record length in the header");
  const std::int64_t needed =
      static_cast<std::int64_t>(headerLength_) + static_cast<std::int64_t>(count_) * recordLength_;
  if (fileSize >= 0 && needed > fileSize)
    return Fail(error, "the record count in the header (" + std::to_string(count_) +
                           ") reaches beyond the end of the file");
  return true;
}

std::unique_ptr<DbfTable> DbfTable::Open(const std::string& path, bool writable,
                                         std::string* error) {
  auto t = std::unique_ptr<DbfTable>(new DbfTable());
  if (!t->file_.Open(path, writable, error)) return nullptr;
  t->writable_ = writable;
  const std::int64_t size = t->file_.Size();
  if (size < 0) {
    Fail(error, path + ": the size cannot be read");
    return nullptr;
  }
  if (size < 32) {
    Fail(error, path + ": the table header is truncated");
    return nullptr;
  }
  unsigned char fixed[32];
  if (!t->file_.ReadAt(0, fixed, 32, error)) return nullptr;
  const std::size_t headerLength = Le16(fixed + 8);
  std::string header(std::max<std::size_t>(headerLength, 32), '\0');
  const std::size_t avail = std::min<std::size_t>(header.size(), static_cast<std::size_t>(size));
  if (!t->file_.ReadAt(0, header.data(), avail, error)) return nullptr;
  header.resize(avail);
  std::string why;
  if (!t->ParseHeader(header, size, &why)) {
    Fail(error, path + ": " + why);
    return nullptr;
  }
  t->fileSize_ = size;
  return t;
}

DbfTable::~DbfTable() {
  std::string ignored;
  WriteBack(&ignored);
}

bool DbfTable::Create(const std::string& path, std::uint8_t version,
                      const std::vector<FieldSpec>& fieldsIn, std::string* error) {
  const bool vfp = IsVfpVersion(version);
  if (fieldsIn.empty()) return Fail(error, "a table needs at least one field");
  std::vector<FieldSpec> fields = fieldsIn;
  int recordLength = 1;
  bool hasMemo = false;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    FieldSpec& f = fields[i];
    f.name = platform::AsciiUpper(f.name);
    f.type = static_cast<char>(platform::AsciiUpper(std::string(1, f.type))[0]);
    if (f.name.empty() || f.name.size() > 10)
      return Fail(error, "field name '" + f.name + "' must have 1 to 10 characters");
    for (char c : f.name)
      if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
        return Fail(error, "field name '" + f.name + "' may hold only letters, digits and _");
    for (std::size_t j = 0; j < i; ++j)
      if (fields[j].name == f.name) return Fail(error, "field " + f.name + " is given twice");
    const std::string vfpOnly = "IBYT";
    if (std::string("CNFDLM").find(f.type) == std::string::npos &&
        !(vfp && vfpOnly.find(f.type) != std::string::npos))
      return Fail(error, "field " + f.name + ": type " + std::string(1, f.type) +
                             " is not supported in this kind of table");
    if (const int w = FixedWidth(f.type, vfp)) {
      f.width = w;
      if (f.type != 'B') f.decimals = 0;
    }
    if (f.type == 'C' && (f.width < 1 || f.width > 254))
      return Fail(error, "field " + f.name + ": width must be 1 to 254");
    if ((f.type == 'N' || f.type == 'F') &&
        (f.width < 1 || f.width > 20 || f.decimals < 0 || f.decimals > 15 ||
         (f.decimals > 0 && f.decimals > f.width - 2)))
      return Fail(error, "field " + f.name + ": width or decimals out of range");
    if (f.type != 'N' && f.type != 'F' && f.type != 'B') f.decimals = 0;
    if (f.type == 'M') hasMemo = true;
    recordLength += f.width;
  }
  if (recordLength > 65535) return Fail(error, "the record is longer than 65535 bytes");
  const int headerLength =
      32 + 32 * static_cast<int>(fields.size()) + 1 + (vfp ? kVfpBackLink : 0);
  if (headerLength > 65535) return Fail(error, "too many fields");
  std::string file(static_cast<std::size_t>(headerLength) + 1, '\0');
  auto* h = reinterpret_cast<unsigned char*>(file.data());
  h[0] = version;
  HeaderDateToday(h + 1);
  PutLe32(h + 4, 0);
  PutLe16(h + 8, static_cast<std::uint32_t>(headerLength));
  PutLe16(h + 10, static_cast<std::uint32_t>(recordLength));
  if (vfp && hasMemo) h[28] = 0x02;
  if (vfp) h[29] = 0x03;  // Windows-1252
  int offset = 1;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    unsigned char* d = h + 32 + 32 * i;
    std::memcpy(d, fields[i].name.data(), fields[i].name.size());
    d[11] = static_cast<unsigned char>(fields[i].type);
    if (vfp) PutLe32(d + 12, static_cast<std::uint32_t>(offset));
    d[16] = static_cast<unsigned char>(fields[i].width);
    d[17] = static_cast<unsigned char>(fields[i].decimals);
    if (vfp && (fields[i].type == 'I' || fields[i].type == 'T' || fields[i].type == 'B' ||
                fields[i].type == 'Y'))
      d[18] = 0x04;
    offset += fields[i].width;
  }
  h[32 + 32 * fields.size()] = 0x0D;
  h[headerLength] = 0x1A;
  return platform::WriteFileAtomic(path, file, error);
}

int DbfTable::FindField(std::string_view name) const {
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i].name.size() == name.size() && platform::EqualsNoCase(fields_[i].name, name))
      return static_cast<int>(i);
  return -1;
}

bool DbfTable::RefreshCount(std::string* error) {
  unsigned char b[4];
  if (!file_.ReadAt(4, b, 4, error)) return false;
  const std::uint32_t c = Le32(b);
  if (c != count_) {
    const std::int64_t size = file_.Size();
    if (size >= 0 && static_cast<std::int64_t>(headerLength_) +
                             static_cast<std::int64_t>(c) * recordLength_ > size)
      return Fail(error, file_.Path() + ": the record count reaches beyond the end of the file");
    count_ = c;
    fileSize_ = size;
    DropCache();
  }
  return true;
}

bool DbfTable::SetCaching(bool on, std::string* error) {
  if (on == caching_) return true;
  if (!on && writable_) {
    if (!WriteBackAll(error)) return false;
    if (headerDirty_ && !WriteHeaderCountAndDate(error)) return false;
  }
  caching_ = on;
  DropCache();
  blocks_.clear();
  chunks_.clear();
  if (!on) {
    const std::int64_t size = file_.Size();
    if (size >= 0) fileSize_ = size;
  }
  return true;
}

void DbfTable::DropCache() {
  // Dirty blocks are written back before anyone calls this.
  for (Block& b : blocks_) {
    b.number = ~std::uint64_t{0};
    b.dirty = false;
  }
}

void DbfTable::PatchCache(std::uint64_t offset, const void* data, std::size_t size) {
  if (blocks_.empty() || size == 0) return;
  const auto* bytes = static_cast<const char*>(data);
  for (std::uint64_t n = offset / kBlockBytes; n <= (offset + size - 1) / kBlockBytes; ++n) {
    Block& b = blocks_[n % kCacheBlocks];
    if (b.number != n) continue;
    const std::uint64_t start = n * kBlockBytes;
    const std::uint64_t from = std::max(offset, start);
    const std::uint64_t to = std::min<std::uint64_t>(offset + size, start + b.valid);
    if (from < to)
      std::memcpy(b.bytes + (from - start), bytes + (from - offset),
                  static_cast<std::size_t>(to - from));
  }
}

bool DbfTable::WriteBackBlock(Block& b, std::string* error) {
  if (!b.dirty) return true;
  const std::uint64_t start = b.number * kBlockBytes;
  if (!file_.WriteAt(start, b.bytes, b.valid, error)) return false;
  b.dirty = false;
  fileSize_ = std::max<std::int64_t>(fileSize_, static_cast<std::int64_t>(start + b.valid));
  return true;
}

bool DbfTable::WriteBackAll(std::string* error) {
  // In file order, so that the file never has holes for long.
  std::vector<Block*> dirty;
  for (Block& b : blocks_)
    if (b.dirty) dirty.push_back(&b);
  std::sort(dirty.begin(), dirty.end(),
            [](const Block* a, const Block* b) { return a->number < b->number; });
  for (Block* b : dirty)
    if (!WriteBackBlock(*b, error)) return false;
  return true;
}

// The cache slot holding block `number`, read from the file when needed. A
// dirty block in the slot is written back first; when that fails the slot
// keeps it and the caller gets the error.
DbfTable::Block* DbfTable::CachedBlock(std::uint64_t number, std::string* error) {
  if (blocks_.empty()) blocks_.resize(kCacheBlocks);
  Block& b = blocks_[number % kCacheBlocks];
  if (b.number == number) return &b;
  if (!WriteBackBlock(b, error)) return nullptr;
  if (!b.bytes) b.bytes = SlotBytes(number % kCacheBlocks);
  b.number = ~std::uint64_t{0};
  const std::uint64_t start = number * kBlockBytes;
  const std::uint64_t size = fileSize_ > 0 ? static_cast<std::uint64_t>(fileSize_) : 0;
  // While the following blocks have nowhere been cached yet (a cold cache),
  // they come along in the same read: a table that fits the cache is in it
  // after a few reads, whatever order it is read in. A full cache is never
  // disturbed for blocks nobody asked for.
  std::uint64_t ahead = 0;
  while (ahead + 1 < kReadAheadBlocks && start + (ahead + 1) * kBlockBytes < size) {
    const std::uint64_t m = number + ahead + 1;
    const Block& next = blocks_[m % kCacheBlocks];
    if (next.number != ~std::uint64_t{0} || next.dirty || m % kCacheBlocks == number % kCacheBlocks)
      break;
    ++ahead;
  }
  const std::uint64_t end = std::min(size, start + (ahead + 1) * kBlockBytes);
  const std::size_t len =
      end > start ? static_cast<std::size_t>(std::min<std::uint64_t>(kBlockBytes, end - start)) : 0;
  if (ahead == 0) {
    if (len > 0 && !file_.ReadAt(start, b.bytes, len, error)) return nullptr;
  } else {
    readAhead_.resize(static_cast<std::size_t>(end - start));
    if (!file_.ReadAt(start, readAhead_.data(), readAhead_.size(), error)) return nullptr;
    for (std::uint64_t i = 1; i <= ahead; ++i) {
      Block& next = blocks_[(number + i) % kCacheBlocks];
      const std::uint64_t from = i * kBlockBytes;
      if (from >= readAhead_.size()) break;
      if (!next.bytes) next.bytes = SlotBytes((number + i) % kCacheBlocks);
      const std::size_t take = std::min<std::size_t>(kBlockBytes, readAhead_.size() - from);
      std::memcpy(next.bytes, readAhead_.data() + from, take);
      next.number = number + i;
      next.valid = static_cast<std::uint32_t>(take);
    }
    std::memcpy(b.bytes, readAhead_.data(), len);
  }
  b.number = number;
  b.valid = static_cast<std::uint32_t>(len);
  return &b;
}

bool DbfTable::ReadCached(std::uint64_t offset, char* out, std::size_t size, std::string* error) {
  while (size > 0) {
    const std::uint64_t n = offset / kBlockBytes;
    const std::size_t in = static_cast<std::size_t>(offset % kBlockBytes);
    Block* b = CachedBlock(n, error);
    if (!b) return false;
    const std::size_t take = std::min<std::size_t>(size, kBlockBytes - in);
    if (in + take > b->valid) return Fail(error, file_.Path() + ": read beyond the end of the file");
    std::memcpy(out, b->bytes + in, take);
    out += take;
    size -= take;
    offset += take;
  }
  return true;
}

bool DbfTable::WriteCached(std::uint64_t offset, const char* data, std::size_t size,
                           std::string* error) {
  while (size > 0) {
    const std::uint64_t n = offset / kBlockBytes;
    const std::size_t in = static_cast<std::size_t>(offset % kBlockBytes);
    Block* b = CachedBlock(n, error);
    if (!b) return false;
    // Writes continue the data in the block (records end to end): no holes.
    if (in > b->valid) return Fail(error, file_.Path() + ": write beyond the end of the file");
    const std::size_t take = std::min<std::size_t>(size, kBlockBytes - in);
    std::memcpy(b->bytes + in, data, take);
    b->valid = std::max<std::uint32_t>(b->valid, static_cast<std::uint32_t>(in + take));
    b->dirty = true;
    data += take;
    size -= take;
    offset += take;
  }
  return true;
}

void DbfTable::ChunkFree::operator()(char* p) const {
  ::operator delete(p, std::align_val_t{kChunkSlots * kBlockBytes});
}

char* DbfTable::SlotBytes(std::size_t slot) {
  const std::size_t chunk = slot / kChunkSlots;
  if (chunks_.size() <= chunk) chunks_.resize(chunk + 1);
  if (!chunks_[chunk]) {
    constexpr std::size_t bytes = kChunkSlots * kBlockBytes;
    char* p = static_cast<char*>(::operator new(bytes, std::align_val_t{bytes}));
#if defined(MADV_HUGEPAGE)
    // A large table read in index order touches its blocks at random:
    // huge pages spare the processor an address translation per record.
    if (fileSize_ >= std::int64_t{32} << 20) ::madvise(p, bytes, MADV_HUGEPAGE);
#endif
    chunks_[chunk].reset(p);
  }
  return chunks_[chunk].get() + (slot % kChunkSlots) * kBlockBytes;
}

bool DbfTable::ReadRecordAnyWay(std::uint32_t recno, char* out, std::string* error) {
  if (recno < 1 || recno > count_)
    return Fail(error, file_.Path() + ": record " + std::to_string(recno) + " does not exist");
  const std::size_t len = static_cast<std::size_t>(recordLength_);
  const std::uint64_t at = static_cast<std::uint64_t>(headerLength_) + (recno - 1ull) * len;
  if (caching_) {
    // The common case, one record inside one cached block, without the loop.
    const std::uint64_t n = at / kBlockBytes;
    const std::size_t in = static_cast<std::size_t>(at % kBlockBytes);
    if (in + len <= kBlockBytes && !blocks_.empty()) {
      const Block& b = blocks_[n % kCacheBlocks];
      if (b.number == n && in + len <= b.valid) {
        std::memcpy(out, b.bytes + in, len);
        lastRead_ = recno;
        return true;
      }
      // A record out of sequence whose slot holds another block: a table
      // larger than the cache read in index order. Evicting a block for one
      // record would copy a whole block per record and keep nothing useful;
      // the record alone is read instead. Its block is not cached, so it
      // has nothing unwritten; the slot keeps what it holds.
      if (b.number != ~std::uint64_t{0} && recno != lastRead_ + 1 && at + len <= static_cast<std::uint64_t>(fileSize_)) {
        lastRead_ = recno;
        return file_.ReadAt(at, out, len, error);
      }
    }
    lastRead_ = recno;
    return ReadCached(at, out, len, error);
  }
  return file_.ReadAt(at, out, len, error);
}

bool DbfTable::WriteRecord(std::uint32_t recno, const char* data, std::string* error) {
  if (!writable_) return Fail(error, file_.Path() + ": the table is open read-only");
  if (recno < 1 || recno > count_)
    return Fail(error, file_.Path() + ": record " + std::to_string(recno) + " does not exist");
  const std::size_t len = static_cast<std::size_t>(recordLength_);
  const std::uint64_t at = static_cast<std::uint64_t>(headerLength_) + (recno - 1ull) * len;
  if (caching_) {
    if (!WriteCached(at, data, len, error)) return false;
    headerDirty_ = true;
    return true;
  }
  if (!file_.WriteAt(at, data, len, error)) return false;
  // The header date tells other programs the table changed.
  return WriteHeaderCountAndDate(error);
}

bool DbfTable::WriteHeaderCountAndDate(std::string* error) {
  unsigned char h[7];
  HeaderDateToday(h);
  PutLe32(h + 3, count_);
  PatchCache(1, h, sizeof h);
  if (!file_.WriteAt(1, h, sizeof h, error)) return false;
  headerDirty_ = false;
  return true;
}

bool DbfTable::AppendRecord(const char* data, std::string* error) {
  if (!writable_) return Fail(error, file_.Path() + ": the table is open read-only");
  if (count_ == 0xFFFFFFFFu) return Fail(error, file_.Path() + ": the table is full");
  const std::size_t len = static_cast<std::size_t>(recordLength_);
  const std::uint64_t at =
      static_cast<std::uint64_t>(headerLength_) + count_ * static_cast<std::uint64_t>(len);
  if (caching_) {
    if (!Reserve(at + len + 1, error) || !WriteCached(at, data, len, error)) return false;
    ++count_;
    headerDirty_ = true;
    countChanged_ = true;
    return true;
  }
  std::string buf(data, len);
  buf.push_back('\x1A');
  if (!file_.WriteAt(at, buf.data(), buf.size(), error)) return false;
  fileSize_ = std::max<std::int64_t>(fileSize_, static_cast<std::int64_t>(at + buf.size()));
  ++count_;
  if (!WriteHeaderCountAndDate(error)) {
    --count_;
    return false;
  }
  return true;
}

bool DbfTable::DropLastRecord(std::string* error) {
  if (count_ == 0) return true;
  --count_;
  if (caching_) {
    // The record's bytes may stay in the cache or the file: Sync puts the
    // end marker after the last record and cuts the file there.
    headerDirty_ = true;
    countChanged_ = true;
    return true;
  }
  DropCache();
  const std::uint64_t end = static_cast<std::uint64_t>(headerLength_) +
                            count_ * static_cast<std::uint64_t>(recordLength_);
  const char eof = '\x1A';
  if (!file_.WriteAt(end, &eof, 1, error)) return false;
  if (!WriteHeaderCountAndDate(error)) return false;
  if (!file_.Truncate(end + 1, error)) return false;
  fileSize_ = static_cast<std::int64_t>(end + 1);
  return true;
}

bool DbfTable::SetTableFlags(std::uint8_t flags, std::string* error) {
  if (!writable_) return Fail(error, file_.Path() + ": the table is open read-only");
  if (!file_.WriteAt(28, &flags, 1, error)) return false;
  PatchCache(28, &flags, 1);
  tableFlags_ = flags;
  return true;
}

bool DbfTable::WriteBack(std::string* error) {
  if (!writable_ || !caching_) return true;
  if (!WriteBackAll(error)) return false;
  if (countChanged_) {
    const std::uint64_t end = static_cast<std::uint64_t>(headerLength_) +
                              count_ * static_cast<std::uint64_t>(recordLength_);
    const char eof = '\x1A';
    if (!file_.WriteAt(end, &eof, 1, error)) return false;
    // Every block is clean now; those reaching past the last record may
    // hold a dropped record's bytes or the room reserved ahead: let them
    // be read again.
    for (Block& b : blocks_)
      if (b.number != ~std::uint64_t{0} && b.number * kBlockBytes + b.valid > end)
        b.number = ~std::uint64_t{0};
    if (fileSize_ > static_cast<std::int64_t>(end + 1) && !file_.Truncate(end + 1, error))
      return false;
    fileSize_ = static_cast<std::int64_t>(end + 1);
    countChanged_ = false;
  }
  if (headerDirty_ && !WriteHeaderCountAndDate(error)) return false;
  return true;
}

bool DbfTable::Sync(std::string* error) {
  if (!writable_) return true;
  if (!WriteBack(error)) return false;
  return file_.Sync(error);
}

bool DbfTable::Reserve(std::uint64_t end, std::string* error) {
  if (static_cast<std::int64_t>(end) <= fileSize_) return true;
  // The file grows here, not when the cache writes back, so that a full
  // disk or a size limit refuses the append itself. Room for many records
  // at a time; Sync cuts off what was not used.
  const auto old = static_cast<std::uint64_t>(fileSize_);
  std::uint64_t reached = 0;
  if (!file_.Grow(old, end, std::max<std::uint64_t>(end, old + kReserveBytes), reached, error))
    return false;
  fileSize_ = static_cast<std::int64_t>(reached);
  return true;
}

std::string DbfTable::BlankRecord() const {
  std::string r(static_cast<std::size_t>(recordLength_), ' ');
  const bool vfp = IsVfp();
  for (const FieldInfo& f : fields_) {
    bool zero = false;
    switch (f.type) {
      case 'I':
      case 'B':
      case 'Y':
      case 'T':
      case '@':
      case '0':
        zero = true;
        break;
      case 'M':
      case 'G':
      case 'W':
      case 'P':
        zero = vfp && f.width == 4;
        break;
      default:
        break;
    }
    if (zero) std::memset(r.data() + f.offset, 0, static_cast<std::size_t>(f.width));
  }
  return r;
}

}  // namespace xbe
