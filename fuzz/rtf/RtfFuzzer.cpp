#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "wizard/RtfReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::string html = wizard::RtfToHtml(in);
  // Each input byte yields a bounded amount of output; a blow-up is a fault.
  if (html.size() > 256 * size + 4096) std::abort();
  return 0;
}
