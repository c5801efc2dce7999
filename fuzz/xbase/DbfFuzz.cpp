// A table file of arbitrary bytes: the header parse in memory, then the
// whole open-and-read path over a real file (no memo, no index), formatting
// every field of every record. Any result but a crash or a hang is fine.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Dbf.h"
#include "ValueText.h"
#include "WorkArea.h"

namespace {

// Plain writes: the atomic, synced write of the platform layer would make
// every run wait for the disk.
bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string TempDir() {
  static std::string dir = [] {
    std::string t = "/tmp/fuzz_xbase_dbf_XXXXXX";
    if (!::mkdtemp(t.data())) std::abort();
    return t;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  xbe::DbfTable header;
  std::string error;
  if (header.ParseHeader(bytes, static_cast<std::int64_t>(bytes.size()), &error)) {
    // Records as the header describes them must lie inside the bytes.
    const std::uint64_t count = header.RecordCount();
    const std::uint64_t len = static_cast<std::uint64_t>(header.RecordLength());
    const std::uint64_t n = count < 64 ? count : 64;
    for (std::uint64_t r = 0; r < n; ++r) {
      const std::uint64_t at = static_cast<std::uint64_t>(header.HeaderLength()) + r * len;
      if (at + len > bytes.size()) std::abort();
      for (const auto& f : header.Fields())
        (void)xbe::FieldText(f, std::string_view(bytes).substr(at + static_cast<std::uint64_t>(f.offset),
                                                               static_cast<std::size_t>(f.width)));
    }
  }
  const std::string path = TempDir() + "/t.dbf";
  if (!WriteFile(path, bytes)) return 0;
  auto wa = xbe::WorkArea::Open(path, "", xbe::OpenMode::ReadOnly, xbe::Driver::Fox, &error);
  if (!wa) return 0;
  if (!wa->GoTop(&error)) return 0;
  for (int i = 0; i < 64 && !wa->Eof(); ++i) {
    std::string line;
    xbe::RecordLine(*wa, line, &error);
    if (!wa->Skip(1, &error)) break;
  }
  return 0;
}
