#pragma once
// A hint to the processor to fetch the cache line at an address soon to be
// read; it never faults and changes nothing else.
//
// On x86 with GCC or Clang the instruction is written out: GCC's dead-code
// pass drops __builtin_prefetch in some inlined contexts (a hashed slot
// address, a loop over a node's keys), so that the hint silently vanished.
#if defined(_MSC_VER)
#include <xmmintrin.h>
#endif

namespace xbe {

inline void PrefetchLine(const void* p) {
#if defined(_MSC_VER)
  _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0);
#elif defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetcht0 (%0)" : : "r"(p));
#else
  __builtin_prefetch(p);
#endif
}

}  // namespace xbe
