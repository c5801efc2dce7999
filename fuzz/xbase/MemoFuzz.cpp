// A memo file of arbitrary bytes, read as FPT, dBASE III DBT and dBASE IV
// DBT: the header check and every block a record could name. Reading must
// end in a value or an error, never a crash, a hang or a huge allocation.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Memo.h"

namespace {

// Plain writes: the atomic, synced write of the platform layer would make
// every run wait for the disk.
bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string TempFile() {
  static std::string file = [] {
    std::string t = "/tmp/fuzz_xbase_memo_XXXXXX";
    if (!::mkdtemp(t.data())) std::abort();
    return t + "/m.fpt";
  }();
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (!WriteFile(TempFile(), bytes)) return 0;
  const xbe::MemoKind kinds[] = {xbe::MemoKind::Fpt, xbe::MemoKind::Dbt3, xbe::MemoKind::Dbt4};
  const xbe::MemoKind kind = kinds[data[0] % 3];
  std::string error;
  auto memo = xbe::MemoFile::Open(TempFile(), kind, false, &error);
  if (!memo) return 0;
  const std::uint32_t blocks =
      static_cast<std::uint32_t>(bytes.size() / (memo->BlockSize() ? memo->BlockSize() : 1)) + 2;
  std::string out;
  for (std::uint32_t b = 0; b < blocks && b < 256; ++b) {
    if (memo->Read(b, out, &error) && out.size() > bytes.size()) std::abort();
  }
  memo->Read(0xFFFFFFFFu, out, &error);
  // Block references as records hold them.
  std::uint32_t block = 0;
  xbe::ParseMemoRef(std::string_view(bytes).substr(0, bytes.size() < 10 ? bytes.size() : 10), block);
  memo->Read(block, out, &error);
  return 0;
}
