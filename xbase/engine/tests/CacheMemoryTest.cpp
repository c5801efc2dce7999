// The index caches when memory runs out: a lookup table that cannot grow,
// or a page cache that cannot get a chunk for a new page, stays exactly as
// it was. This program replaces the global operator new so that a chosen
// allocation fails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "cdx/OffsetMap.h"
#include "cdx/PageCache.h"

namespace {
int allocationsBeforeFailure = -1;  // -1: none fails
}

void* operator new(std::size_t bytes) {
  if (allocationsBeforeFailure == 0) {
    allocationsBeforeFailure = -1;
    throw std::bad_alloc();
  }
  if (allocationsBeforeFailure > 0) --allocationsBeforeFailure;
  if (void* p = std::malloc(bytes ? bytes : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using xbe::cdx::OffsetMap;
using xbe::cdx::PageCache;

TEST(CacheMemory, ALookupTableThatCannotGrowKeepsItsEntries) {
  OffsetMap<int> map;
  // 32 entries fill the first 64 slots to half: the next one grows them.
  for (int i = 1; i <= 32; ++i) *map.Emplace(512u * i).first = i;
  allocationsBeforeFailure = 0;
  EXPECT_THROW(map.Emplace(512u * 33), std::bad_alloc);
  allocationsBeforeFailure = -1;
  EXPECT_EQ(map.Size(), 32u);
  EXPECT_EQ(map.Find(512u * 33), nullptr);
  for (int i = 1; i <= 32; ++i) {
    const int* v = map.Find(512u * i);
    ASSERT_NE(v, nullptr) << i;
    EXPECT_EQ(*v, i);
  }
  *map.Emplace(512u * 33).first = 33;
  EXPECT_EQ(*map.Find(512u * 33), 33);
}

TEST(CacheMemory, APageWithoutMemoryForItsSlotIsNotHeld) {
  PageCache cache;
  // Three chunks of 256 slots full; the lookup table has room for more,
  // so the next page needs memory only for its chunk.
  for (std::uint32_t i = 1; i <= 768; ++i) {
    const auto [slot, added] = cache.Insert(512u * i);
    cache.PageOf(slot).fill(static_cast<std::uint8_t>(i));
  }
  allocationsBeforeFailure = 0;
  EXPECT_THROW(cache.Insert(512u * 769), std::bad_alloc);
  allocationsBeforeFailure = -1;
  EXPECT_EQ(cache.Size(), 768u);
  EXPECT_EQ(cache.Find(512u * 769), PageCache::kNone);
  for (std::uint32_t i = 1; i <= 768; ++i) {
    const std::uint32_t slot = cache.Find(512u * i);
    ASSERT_NE(slot, PageCache::kNone) << i;
    EXPECT_EQ(cache.PageOf(slot)[0], static_cast<std::uint8_t>(i));
  }
  const auto [slot, added] = cache.Insert(512u * 769);
  EXPECT_TRUE(added);
  cache.PageOf(slot).fill(0xAB);
  EXPECT_EQ(cache.PageOf(cache.Find(512u * 1))[0], 1);
  EXPECT_EQ(cache.PageOf(cache.Find(512u * 769))[0], 0xAB);
}

}  // namespace
