// The table component as the chart update drives it, on a copy of the
// account fixture (3000 records, six tags): a walk in account order reading
// every field, seeks by account number, and edit-post cycles of a label.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "xbase/XbDSet.h"
#include "xbase/engine/binding/XBE50.h"

namespace {

namespace fs = std::filesystem;

// A fresh copy of the fixture, opened exclusively in order 1.
struct Table {
  Table() {
    dir = fs::temp_directory_path() / ("bench_xbtable_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const char* ext : {".dbf", ".cdx", ".fpt"}) {
      const fs::path to = dir / (std::string("konto") + ext);
      fs::copy_file(std::string(UST_FIXTURES_DIR) + "/xbase/konto" + ext, to, fs::copy_options::overwrite_existing);
      fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
    }
    t.SetDatabaseName(dir.string());
    t.SetTableName("konto.dbf");
    t.SetExclusive(true);
    t.Open();
    t.SetOrder(1);
  }
  ~Table() {
    t.Close();
    fs::remove_all(dir);
  }
  TXBEEngine engine;
  fs::path dir;
  TXbTable t;
};

void BM_WalkReadingEveryField(benchmark::State& state) {
  Table tab;
  for (auto _ : state) {
    std::size_t bytes = 0;
    for (tab.t.GoTop(); !tab.t.Eof(); tab.t.Skip())
      for (int i = 0; i < tab.t.FieldCount(); ++i) bytes += tab.t.Fields(i).AsString().size();
    benchmark::DoNotOptimize(bytes);
  }
  state.SetItemsProcessed(state.iterations() * 3000);
}
BENCHMARK(BM_WalkReadingEveryField)->Unit(benchmark::kMillisecond);

void BM_SeekAccountNumber(benchmark::State& state) {
  Table tab;
  std::int32_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tab.t.Seek(std::to_string(1000 + (n * 7919) % 32000)));
    ++n;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SeekAccountNumber);

void BM_EditPostLabel(benchmark::State& state) {
  Table tab;
  tab.t.GoTop();
  std::int32_t n = 0;
  for (auto _ : state) {
    tab.t.Edit();
    tab.t.FieldByName("BEZ").SetAsString("Erlöse " + std::to_string(n++) + " % USt");
    tab.t.Post();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EditPostLabel);

}  // namespace

BENCHMARK_MAIN();
