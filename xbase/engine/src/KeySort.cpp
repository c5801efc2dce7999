#include "KeySort.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace xbe {

namespace {

std::atomic<std::size_t> sortMemory{std::size_t{32} << 20};

constexpr std::size_t kWriteBuffer = std::size_t{64} << 10;
// A merge reads at least this much of a run at a time, and never merges
// more runs at once than kMaxFanIn.
constexpr std::size_t kMinReadBuffer = std::size_t{64} << 10;
constexpr std::size_t kMaxFanIn = 64;

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

void PutBE(char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(v >> (24 - 8 * i));
}

std::uint32_t GetBE(const char* p) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

}  // namespace

std::size_t SortMemory() { return sortMemory.load(); }
void SetSortMemory(std::size_t bytes) { sortMemory.store(bytes); }

std::size_t SortMemoryFor(std::uint64_t count, std::size_t keyLen, std::size_t budget) {
  // A record and its place in the sort order per key (see KeySorter), and
  // room for the alignment between them.
  const std::uint64_t perKey = keyLen + 4 + 16;
  if (count >= budget / perKey) return budget;
  return static_cast<std::size_t>((count + 1) * perKey + 64);
}

namespace sort {

bool SpillFile::Open(const std::string& beside, std::string* error) {
  if (!name_.CreateScratch(beside, error)) return false;
  size_ = 0;
  return file_.Open(name_.Path(), true, error);
}

bool SpillFile::Append(const char* data, std::size_t size, std::string* error) {
  if (!file_.WriteAt(size_, data, size, error)) return false;
  size_ += size;
  return true;
}

bool RunWriter::Flush(std::string* error) {
  if (buf_.empty()) return true;
  if (!file_.Append(buf_.data(), buf_.size(), error)) return false;
  buf_.clear();
  return true;
}

RunReader::RunReader(const SpillFile& file, std::uint64_t offset, std::uint64_t count,
                     std::size_t size, char* buffer, std::size_t bufferBytes)
    : file_(file), next_(offset), left_(count), size_(size), buf_(buffer),
      capacity_(bufferBytes / size) {}

bool RunReader::Fill(std::string* error) {
  at_ = have_ = 0;
  if (left_ == 0) return true;
  const std::uint64_t n = std::min<std::uint64_t>(left_, capacity_);
  const auto bytes = static_cast<std::size_t>(n) * size_;
  if (!file_.ReadAt(next_, buf_, bytes, error)) return false;
  next_ += bytes;
  left_ -= n;
  have_ = bytes;
  return true;
}

bool RunReader::Advance(std::string* error) {
  at_ += size_;
  return at_ < have_ || Fill(error);
}

}  // namespace sort

// ------------------------------------------------------------ RecordSpool

RecordSpool::RecordSpool(std::string beside, std::size_t recordSize, std::size_t memory)
    : beside_(std::move(beside)), size_(recordSize), memory_(std::max(memory, recordSize)) {}

bool RecordSpool::Append(const char* record, std::string* error) {
  if (writer_) {
    if (!writer_->Put(record, size_, error)) return false;
  } else if (buf_.size() + size_ <= memory_) {
    buf_.insert(buf_.end(), record, record + size_);
  } else {
    // Outgrown: from now on everything goes through the file.
    file_ = std::make_unique<sort::SpillFile>();
    if (!file_->Open(beside_, error) || !file_->Append(buf_.data(), buf_.size(), error))
      return false;
    std::vector<char>().swap(buf_);
    writer_ = std::make_unique<sort::RunWriter>(*file_, std::min(memory_, kWriteBuffer));
    if (!writer_->Put(record, size_, error)) return false;
  }
  ++count_;
  return true;
}

bool RecordSpool::Finish(std::string* error) {
  read_ = 0;
  if (!writer_) return true;
  if (!writer_->Flush(error)) return false;
  writer_.reset();
  readBuf_.resize(std::max(size_, std::min(memory_, kWriteBuffer)));
  reader_ = std::make_unique<sort::RunReader>(*file_, 0, count_, size_, readBuf_.data(), readBuf_.size());
  return reader_->Start(error);
}

bool RecordSpool::Next(const char*& record) {
  if (read_ == count_) return false;
  if (!reader_) {
    record = buf_.data() + static_cast<std::size_t>(read_) * size_;
  } else {
    if (read_ > 0 && !reader_->Advance(&error_)) return false;
    record = reader_->Current();
    if (!record) return Fail(&error_, beside_ + ": a temporary file ended early");
  }
  ++read_;
  return true;
}

// -------------------------------------------------------------- KeySorter

KeySorter::KeySorter(std::string beside, std::size_t keyLen, std::size_t memory)
    : beside_(std::move(beside)), keyLen_(keyLen), size_(keyLen + 4), memory_(memory) {
  // Items number the records with 32 bits.
  capacity_ = std::clamp<std::size_t>(memory_ / (size_ + sizeof(Item)), 16, 0xFFFFFFFFu);
  // A small budget merges two runs at a time, so that each run's share of
  // the block still holds several records.
  fanIn_ = std::clamp<std::size_t>(memory_ / kMinReadBuffer, 2, kMaxFanIn);
  const std::size_t records = (capacity_ * size_ + alignof(Item) - 1) / alignof(Item) * alignof(Item);
  blockBytes_ = records + capacity_ * sizeof(Item);
  block_ = std::make_unique_for_overwrite<char[]>(blockBytes_);
  data_ = block_.get();
  items_ = reinterpret_cast<Item*>(block_.get() + records);
}

bool KeySorter::Add(std::string_view key, std::uint32_t rec, std::string* error) {
  if (key.size() != keyLen_)
    return Fail(error, "key of " + std::to_string(key.size()) + " bytes for a key length of " +
                           std::to_string(keyLen_));
  if (count_ == capacity_ && !SpillBuffer(error)) return false;
  char* at = data_ + count_ * size_;
  std::memcpy(at, key.data(), keyLen_);
  // Big-endian, so that one byte comparison orders by key, then record.
  PutBE(at + keyLen_, rec);
  ++count_;
  ++added_;
  return true;
}

void KeySorter::SortBuffer() {
  const char* data = data_;
  const std::size_t head = std::min<std::size_t>(size_, 8);
  for (std::size_t i = 0; i < count_; ++i) {
    std::uint64_t p = 0;
    const char* r = data + i * size_;
    for (std::size_t b = 0; b < 8; ++b)
      p = (p << 8) | (b < head ? static_cast<unsigned char>(r[b]) : 0u);
    items_[i] = {p, static_cast<std::uint32_t>(i)};
  }
  const std::size_t size = size_;
  std::sort(items_, items_ + count_, [data, size](const Item& a, const Item& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    if (size <= 8) return false;
    return std::memcmp(data + std::size_t{a.index} * size + 8, data + std::size_t{b.index} * size + 8,
                       size - 8) < 0;
  });
}

bool KeySorter::SpillBuffer(std::string* error) {
  if (!file_) {
    file_ = std::make_unique<sort::SpillFile>();
    if (!file_->Open(beside_, error)) return false;
  }
  SortBuffer();
  const std::uint64_t start = file_->Size();
  sort::RunWriter out(*file_, kWriteBuffer);
  for (const Item* it = items_; it != items_ + count_; ++it)
    if (!out.Put(data_ + std::size_t{it->index} * size_, size_, error)) return false;
  if (!out.Flush(error)) return false;
  runs_.push_back({start, count_});
  ++spilled_;
  count_ = 0;
  return true;
}

bool KeySorter::Finish(std::string* error) {
  if (!file_) {
    // Everything fitted: no file at all.
    SortBuffer();
    next_ = 0;
    return true;
  }
  if (count_ > 0 && !SpillBuffer(error)) return false;
  while (runs_.size() > fanIn_) {
    // Too many runs to read at once: merge them in groups into a new file.
    auto to = std::make_unique<sort::SpillFile>();
    if (!to->Open(beside_, error)) return false;
    std::vector<Run> merged;
    for (std::size_t first = 0; first < runs_.size(); first += fanIn_) {
      const std::size_t n = std::min(fanIn_, runs_.size() - first);
      const std::uint64_t start = to->Size();
      std::uint64_t count = 0;
      for (std::size_t i = first; i < first + n; ++i) count += runs_[i].count;
      if (!MergeRuns(first, n, *to, error)) return false;
      merged.push_back({start, count});
    }
    file_ = std::move(to);
    runs_ = std::move(merged);
  }
  merging_ = true;
  return StartMerge(0, runs_.size(), error);
}

bool KeySorter::StartMerge(std::size_t first, std::size_t n, std::string* error) {
  readers_.clear();
  heap_.clear();
  lastReader_ = SIZE_MAX;
  // The block that held the keys is shared out among the runs.
  const std::size_t share = blockBytes_ / std::max<std::size_t>(n, 1) / size_ * size_;
  for (std::size_t i = first; i < first + n; ++i) {
    readers_.push_back(std::make_unique<sort::RunReader>(
        *file_, runs_[i].offset, runs_[i].count, size_, block_.get() + (i - first) * share, share));
    if (!readers_.back()->Start(error)) return false;
    if (readers_.back()->Current()) heap_.push_back(readers_.size() - 1);
  }
  for (std::size_t i = heap_.size() / 2; i-- > 0;) SiftDown(i);
  return true;
}

bool KeySorter::Less(std::size_t a, std::size_t b) const {
  const int c = std::memcmp(readers_[a]->Current(), readers_[b]->Current(), size_);
  return c < 0 || (c == 0 && a < b);
}

void KeySorter::SiftDown(std::size_t i) {
  for (;;) {
    std::size_t least = i;
    const std::size_t l = 2 * i + 1, r = l + 1;
    if (l < heap_.size() && Less(heap_[l], heap_[least])) least = l;
    if (r < heap_.size() && Less(heap_[r], heap_[least])) least = r;
    if (least == i) return;
    std::swap(heap_[i], heap_[least]);
    i = least;
  }
}

const char* KeySorter::Pop(std::string* error) {
  if (lastReader_ != SIZE_MAX) {
    // The record handed out last is used up now.
    lastReader_ = SIZE_MAX;
    if (!readers_[heap_.front()]->Advance(error)) return nullptr;
    if (!readers_[heap_.front()]->Current()) {
      heap_.front() = heap_.back();
      heap_.pop_back();
    }
    if (!heap_.empty()) SiftDown(0);
  }
  if (heap_.empty()) return nullptr;
  lastReader_ = heap_.front();
  return readers_[lastReader_]->Current();
}

bool KeySorter::MergeRuns(std::size_t first, std::size_t n, sort::SpillFile& to,
                          std::string* error) {
  if (!StartMerge(first, n, error)) return false;
  sort::RunWriter out(to, kWriteBuffer);
  std::string err;
  while (const char* r = Pop(&err))
    if (!out.Put(r, size_, error)) return false;
  if (!err.empty()) return Fail(error, err);
  readers_.clear();
  return out.Flush(error);
}

bool KeySorter::Next(std::string_view& key, std::uint32_t& rec) {
  const char* r;
  if (!merging_) {
    if (next_ == count_) return false;
    r = data_ + std::size_t{items_[next_++].index} * size_;
  } else {
    r = Pop(&error_);
    if (!r) return false;
  }
  key = std::string_view(r, keyLen_);
  rec = GetBE(r + keyLen_);
  return true;
}

}  // namespace xbe
