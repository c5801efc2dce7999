// Any bytes as a settings file: reading them back gives the same bytes, and
// a write changes the value it concerns and nothing before that line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "hostenv/IniFile.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  hostenv::TIniDocument doc(bytes);
  Check(doc.Bytes() == bytes);

  for (const auto& section : doc.Sections()) {
    for (const auto& key : doc.SectionKeys(section)) Check(doc.Read(section, key).has_value());
  }

  hostenv::TIniDocument changed(bytes);
  changed.Write("Konstanten", "SKR", "SKR04");
  Check(changed.Read("konstanten", "skr") == std::string("SKR04"));
  // Every other value reads as before.
  for (const auto& section : doc.Sections()) {
    for (const auto& key : doc.SectionKeys(section)) {
      if (hostenv::TIniDocument::SameName(section, "Konstanten") &&
          hostenv::TIniDocument::SameName(key, "SKR"))
        continue;
      Check(changed.Read(section, key) == doc.Read(section, key));
    }
  }
  // Writing the same value again changes no byte.
  const std::string once = changed.Bytes();
  changed.Write("KONSTANTEN", "skr", "SKR04");
  Check(changed.Bytes() == once);

  hostenv::TIniDocument replaced(bytes);
  replaced.ReplaceSection("Konstanten", {"a=1", "b=2"});
  Check(replaced.Read("Konstanten", "b") == std::string("2"));
  replaced.EraseSection("Konstanten");
  Check(!replaced.SectionExists("Konstanten"));
  return 0;
}
