// The CDX layer on its own: walking a tag, exact and prefix seeks, and
// inserts (in ascending order, as appends give them, and at random). Tags of
// 10 000 to 1 000 000 entries are built once per size in a temporary folder.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <random>

#include "CdxTestSupport.h"
#include "cdx/CdxIndex.h"
#include "cdx/CdxKeys.h"

namespace {

using cdxtest::MemTable;

struct Built {
  cdxtest::TempDir dir;
  MemTable table;
  std::unique_ptr<xbe::IndexFile> file;
  std::vector<std::string> names;
};

std::string Name(std::uint32_t i) {
  std::string s = "KONTO " + std::to_string((i * 2654435761u) % 1000000u);
  s.resize(20, ' ');
  return s;
}

Built& Get(int n) {
  static std::map<int, std::unique_ptr<Built>> cache;
  auto& b = cache[n];
  if (!b) {
    b = std::make_unique<Built>();
    b->table.AddField("NR", 'N', 8);
    b->table.AddField("NAME", 'C', 20);
    for (int i = 1; i <= n; ++i) {
      auto r = b->table.Append();
      b->table.Set(r, "NR", std::to_string(i * 7 % 100003));
      b->names.push_back(Name(static_cast<std::uint32_t>(i)));
      b->table.Set(r, "NAME", b->names.back());
    }
    std::string path = b->dir.File("b.cdx"), err;
    xbe::CreateCdxTag(path, "NR", "NR", "", 0, b->table, &err);
    xbe::CreateCdxTag(path, "NAME", "NAME", "", 0, b->table, &err);
    b->file = xbe::OpenCdx(path, b->table, false, &err);
  }
  return *b;
}

void BM_Walk(benchmark::State& state) {
  Built& b = Get(static_cast<int>(state.range(0)));
  auto c = b.file->Tag(1).NewCursor();
  std::int64_t n = 0;
  for (auto _ : state) {
    for (bool ok = c->First(); ok; ok = c->Next()) ++n;
  }
  state.SetItemsProcessed(n);
}
BENCHMARK(BM_Walk)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_SeekNumber(benchmark::State& state) {
  Built& b = Get(static_cast<int>(state.range(0)));
  xbe::IndexTag& tag = b.file->Tag(0);
  auto c = tag.NewCursor();
  std::mt19937 rng(1);
  std::vector<std::string> keys;
  for (int i = 0; i < 4096; ++i) {
    std::string key;
    bool prefix;
    tag.SeekKey(std::to_string(rng() % 100003), key, prefix);
    keys.push_back(key);
  }
  std::size_t i = 0;
  for (auto _ : state) {
    bool found;
    benchmark::DoNotOptimize(c->Seek(keys[i++ & 4095], false, found));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SeekNumber)->Arg(10000)->Arg(1000000);

void BM_SeekPrefix(benchmark::State& state) {
  Built& b = Get(static_cast<int>(state.range(0)));
  auto c = b.file->Tag(1).NewCursor();
  std::size_t i = 0;
  for (auto _ : state) {
    bool found;
    const std::string& n = b.names[(i++ * 7919) % b.names.size()];
    benchmark::DoNotOptimize(c->Seek(std::string_view(n).substr(0, 9), true, found));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SeekPrefix)->Arg(10000)->Arg(1000000);

// Inserts into an empty tag: ascending record numbers with ascending keys
// (appends to a numbered table) or random keys; Contains first, as the
// engine does.
void Insert(benchmark::State& state, bool ascending) {
  for (auto _ : state) {
    state.PauseTiming();
    cdxtest::TempDir dir;
    MemTable table;
    table.AddField("NAME", 'C', 20);
    std::string path = dir.File("i.cdx"), err;
    xbe::CreateCdxTag(path, "NAME", "NAME", "", 0, table, &err);
    auto file = xbe::OpenCdx(path, table, true, &err);
    xbe::IndexTag& tag = file->Tag(0);
    std::vector<std::string> keys;
    for (int i = 0; i < state.range(0); ++i) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%-20u", ascending ? i : (i * 2654435761u) % 1000003u);
      keys.emplace_back(buf, 20);
    }
    state.ResumeTiming();
    std::uint32_t r = 0;
    for (const auto& k : keys) {
      xbe::IndexEntry e{k, ++r};
      if (!tag.Contains(e)) tag.Insert(e, &err);
    }
    file->Flush(&err);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
void BM_InsertAscending(benchmark::State& state) { Insert(state, true); }
void BM_InsertRandom(benchmark::State& state) { Insert(state, false); }
BENCHMARK(BM_InsertAscending)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertRandom)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
