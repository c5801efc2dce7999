// Any text as an expression: compiles or fails with a message, and a
// compiled expression evaluates (or fails) without crashing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Expression.h"
#include "FuzzRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::FuzzRecord record;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto e = xbe::Expression::Compile(text, record, &error);
  if (!e) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  xbe::Value v;
  if (e->Evaluate(record, v, &error)) {
    if (v.type != e->Type()) __builtin_trap();
    (void)xbe::ValueToText(v);
  }
  return 0;
}
