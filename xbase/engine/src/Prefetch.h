#pragma once
// A hint to the processor to fetch the cache line at an address soon to be
// read; it never faults and changes nothing else.
#if defined(_MSC_VER)
#include <xmmintrin.h>
#endif

namespace xbe {

inline void PrefetchLine(const void* p) {
#if defined(_MSC_VER)
  _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0);
#else
  __builtin_prefetch(p);
#endif
}

}  // namespace xbe
