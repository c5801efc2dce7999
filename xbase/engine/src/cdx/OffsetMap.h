#pragma once
// A hash map from page offsets to values, flat in one array (open
// addressing, linear probing), so that a lookup costs one memory access
// where a node-based map costs three. Offsets are multiples of the page
// size, so 0xFFFFFFFF never occurs and marks a free slot.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace xbe::cdx {

template <typename V>
class OffsetMap {
 public:
  V* Find(std::uint32_t key) {
    if (slots_.empty()) return nullptr;
    for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (s.key == key) return &s.value;
      if (s.key == kFree) return nullptr;
    }
  }
  const V* Find(std::uint32_t key) const { return const_cast<OffsetMap*>(this)->Find(key); }

  // The value of `key`, default-constructed when it was missing (second:
  // true then).
  std::pair<V*, bool> Emplace(std::uint32_t key) {
    if ((size_ + 1) * 2 > slots_.size()) Grow();
    for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (s.key == key) return {&s.value, false};
      if (s.key == kFree) {
        s.key = key;
        s.value = V();
        ++size_;
        return {&s.value, true};
      }
    }
  }

  bool Erase(std::uint32_t key) {
    if (slots_.empty()) return false;
    std::size_t i = Home(key);
    for (;; i = (i + 1) & mask_) {
      if (slots_[i].key == key) break;
      if (slots_[i].key == kFree) return false;
    }
    // Backward shift: later members of the probe run move into the gap
    // when their home lies at or before it, so no lookup stops early.
    for (std::size_t j = (i + 1) & mask_;; j = (j + 1) & mask_) {
      Slot& s = slots_[j];
      if (s.key == kFree) break;
      const std::size_t home = Home(s.key);
      const bool movable = i <= j ? (home <= i || home > j) : (home <= i && home > j);
      if (movable) {
        slots_[i].key = s.key;
        slots_[i].value = std::move(s.value);
        i = j;
      }
    }
    slots_[i].key = kFree;
    slots_[i].value = V();
    --size_;
    return true;
  }

  // Where a lookup of `key` starts, for a prefetch; null when empty.
  const void* HomeSlot(std::uint32_t key) const {
    return slots_.empty() ? nullptr : &slots_[Home(key)];
  }

  std::size_t Size() const { return size_; }
  void Clear() {
    slots_.clear();
    mask_ = 0;
    size_ = 0;
  }

  // Calls fn(key, value) for every member; fn must not change the map.
  template <typename Fn>
  void ForEach(Fn&& fn) {
    for (Slot& s : slots_)
      if (s.key != kFree) fn(s.key, s.value);
  }

  // Up to `count` keys, taken in slot order from a position that moves on
  // with every call, so that repeated calls spread over the whole map.
  std::vector<std::uint32_t> SomeKeys(std::size_t count) {
    std::vector<std::uint32_t> keys;
    if (slots_.empty()) return keys;
    keys.reserve(count);
    for (std::size_t n = 0; n < slots_.size() && keys.size() < count; ++n) {
      const std::size_t i = (sweep_ + n) & mask_;
      if (slots_[i].key != kFree) keys.push_back(slots_[i].key);
    }
    sweep_ = (sweep_ + slots_.size() / 8 + 1) & mask_;
    return keys;
  }

 private:
  static constexpr std::uint32_t kFree = 0xFFFFFFFFu;
  // Aligned to its own size (a power of two up to a cache line) so that no
  // slot straddles two cache lines: a lookup then costs one line, not two.
  static constexpr std::size_t kSlotAlign = [] {
    std::size_t a = 8;
    while (a < 64 && a < sizeof(std::uint32_t) + sizeof(V)) a *= 2;
    return a < alignof(V) ? alignof(V) : a;
  }();
  struct alignas(kSlotAlign) Slot {
    std::uint32_t key = kFree;
    V value{};
  };
  std::size_t Home(std::uint32_t key) const {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(key / 512 + 1) * 0x9E3779B97F4A7C15ull) >> 32) & mask_;
  }
  void Grow() {
    // The new array first: when memory runs out the map stays as it was.
    const std::size_t cap = slots_.empty() ? 64 : slots_.size() * 2;
    std::vector<Slot> old(cap);
    old.swap(slots_);
    mask_ = cap - 1;
    size_ = 0;
    for (Slot& s : old)
      if (s.key != kFree) {
        auto [v, added] = Emplace(s.key);
        *v = std::move(s.value);
      }
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
  std::size_t sweep_ = 0;
};

}  // namespace xbe::cdx
