// Temporary: every entry fails until the work-area layer is in.
#include "xbe50.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

template <class T>
static T Zero() {
  return T{};
}

extern "C" {
#define XBE_STUB(ret, name, params, args) \
  ret name params { return Zero<ret>(); }
XBE_ENTRIES(XBE_STUB)
#undef XBE_STUB
}
