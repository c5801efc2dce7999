// The exported Fts* entries: a table of open indexes behind one mutex, and a
// boundary that turns every exception into a result code.
#include <array>
#include <memory>
#include <mutex>
#include <new>

#include "IndexFile.h"
#include "fts32.h"

namespace {

constexpr int kSlots = 256;
// A handle is (generation << 8) | slot: a stale handle of a closed index
// never reaches the index that later took its slot.
constexpr std::uint32_t kMaxGeneration = 0x7FFFFF;

struct Slot {
  std::uint32_t generation = 0;
  std::unique_ptr<fts::IndexFile> file;
};

std::mutex g_mutex;
std::array<Slot, kSlots> g_slots;

fts::IndexFile* Find(std::int32_t handle) {
  if (handle < 0) return nullptr;
  Slot& s = g_slots[static_cast<std::size_t>(handle & 0xFF)];
  if (!s.file || s.generation != static_cast<std::uint32_t>(handle) >> 8) return nullptr;
  return s.file.get();
}

std::int32_t Issue(std::unique_ptr<fts::IndexFile> file) {
  for (int i = 0; i < kSlots; ++i) {
    Slot& s = g_slots[static_cast<std::size_t>(i)];
    if (s.file) continue;
    s.generation = s.generation >= kMaxGeneration ? 1 : s.generation + 1;
    s.file = std::move(file);
    return static_cast<std::int32_t>((s.generation << 8) | static_cast<std::uint32_t>(i));
  }
  file->Close();
  return FTS_ERR_NO_HANDLES;
}

template <class F>
std::int32_t Guarded(F f) {
  try {
    std::lock_guard<std::mutex> guard(g_mutex);
    return f();
  } catch (const std::bad_alloc&) {
    return FTS_ERR_MEMORY;
  } catch (...) {
    return FTS_ERR_INTERNAL;
  }
}

template <class F>
std::int32_t WithIndex(std::int32_t handle, F f) {
  return Guarded([&]() -> std::int32_t {
    fts::IndexFile* file = Find(handle);
    return file ? f(*file) : FTS_ERR_HANDLE;
  });
}

bool Empty(const char* s) { return !s || !*s; }

}  // namespace

extern "C" {

int32_t FtsOpen(const char* fileName, int16_t buffSize, int16_t mode) {
  if (Empty(fileName)) return FTS_ERR_ARGUMENT;
  return Guarded([&]() -> std::int32_t {
    std::unique_ptr<fts::IndexFile> file;
    const std::int32_t rc = fts::IndexFile::Open(fileName, buffSize, mode, file);
    return rc == FTS_OK ? Issue(std::move(file)) : rc;
  });
}

int32_t FtsCreate(const char* fileName, int32_t buffSize, int32_t idxSize, int32_t caseSensitive,
                  int32_t filter) {
  if (Empty(fileName) || filter != 0) return FTS_ERR_ARGUMENT;
  return Guarded([&]() -> std::int32_t {
    std::unique_ptr<fts::IndexFile> file;
    const auto hint = static_cast<std::uint32_t>(idxSize > 0 ? idxSize : 0);
    const std::int32_t rc =
        fts::IndexFile::Create(fileName, buffSize, hint, caseSensitive != 0, file);
    return rc == FTS_OK ? Issue(std::move(file)) : rc;
  });
}

int32_t FtsClose(int32_t handle) {
  return Guarded([&]() -> std::int32_t {
    if (!Find(handle)) return FTS_ERR_HANDLE;
    Slot& s = g_slots[static_cast<std::size_t>(handle & 0xFF)];
    const std::int32_t rc = s.file->Close();
    s.file.reset();
    return rc;
  });
}

int32_t FtsAdd(int32_t handle, const char* idxStr) {
  if (!idxStr) return FTS_ERR_ARGUMENT;
  return WithIndex(handle, [&](fts::IndexFile& f) { return f.Add(idxStr); });
}

int32_t FtsReplace(int32_t handle, const char* idxStr, int32_t recNo) {
  if (!idxStr) return FTS_ERR_ARGUMENT;
  return WithIndex(handle, [&](fts::IndexFile& f) { return f.Replace(recNo, idxStr); });
}

int32_t FtsDelete(int32_t handle, int32_t recNo) {
  return WithIndex(handle, [&](fts::IndexFile& f) { return f.SetDeleted(recNo, true); });
}

int32_t FtsUnDelete(int32_t handle, int32_t recNo) {
  return WithIndex(handle, [&](fts::IndexFile& f) { return f.SetDeleted(recNo, false); });
}

int32_t FtsIsDelete(int32_t handle, int32_t recNo) {
  return WithIndex(handle, [&](fts::IndexFile& f) { return f.IsDeleted(recNo); });
}

int32_t FtsNumRecs(int32_t handle) {
  return WithIndex(handle, [&](fts::IndexFile& f) { return f.Count(); });
}

int32_t FtsNextRec(int32_t handle) {
  return WithIndex(handle, [&](fts::IndexFile& f) { return f.NextRec(); });
}

int32_t FtsSet(int32_t handle, const char* query) {
  if (!query) return FTS_ERR_ARGUMENT;
  return WithIndex(handle, [&](fts::IndexFile& f) { return f.Search(query, FTS_VAND); });
}

int32_t FtsVerify(int32_t handle, const char* query, const char* target, int32_t type) {
  if (!query) return FTS_ERR_ARGUMENT;
  return WithIndex(handle, [&](fts::IndexFile& f) {
    return target ? f.Verify(query, target, type) : f.Search(query, type);
  });
}

const char* FtsVersion(void) { return "fts32 1.0 (index format 1)"; }

}  // extern "C"
