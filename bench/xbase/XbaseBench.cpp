// The engine as the wizard drives it: a table of 10 000, 100 000 and
// 1 000 000 records with three CDX tags (a number, an upper-cased label and
// a composite key). Random seeks, a walk in tag order reading every field,
// appends and key-changing edits, each keeping all three tags.
// The tables are built once per size in a temporary folder. The records
// that appends and edits write are made before the timing starts: turning
// field texts into record bytes is the caller's work, not the engine's.
//
// Each benchmark runs twice per size: "warm:0" right after opening (the
// first operations read and decode the index's nodes and the table's
// blocks from the file, and touch fresh memory), "warm:1" after every tag
// has been walked once, as in a session that has already read the table:
// the rate an operation keeps up.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "BenchTables.h"

namespace {

using namespace benchtables;

void BM_Seek(benchmark::State& state) {
  const auto n = static_cast<std::uint32_t>(state.range(0));
  auto wa = Open(Table(n, false));
  if (state.range(1)) ReadEveryTag(*wa);
  wa->SetOrder(1);
  std::mt19937 rng(1);
  std::string error;
  for (auto _ : state) {
    const std::uint32_t i = 1 + rng() % n;
    bool found = false;
    wa->Seek(std::to_string((i * 7919u) % 99999989u), found, &error);
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_WalkInTagOrder(benchmark::State& state) {
  const auto n = static_cast<std::uint32_t>(state.range(0));
  auto wa = Open(Table(n, false));
  if (state.range(1)) ReadEveryTag(*wa);
  wa->SetOrder(2);
  std::string error;
  std::int64_t records = 0;
  for (auto _ : state) {
    wa->GoTop(&error);
    while (!wa->Eof()) {
      benchmark::DoNotOptimize(ReadEveryField(*wa));
      wa->Skip(1, &error);
      ++records;
    }
  }
  state.SetItemsProcessed(records);
}

void BM_Append(benchmark::State& state) {
  const auto n = static_cast<std::uint32_t>(state.range(0));
  auto wa = Open(Table(n, true));
  if (state.range(1)) ReadEveryTag(*wa);
  std::string error;
  const auto recs = Records(wa->Table(), n + 1, kPrepared);
  std::size_t i = 0;
  for (auto _ : state) {
    if (!wa->AppendRecord(recs[i++ % kPrepared], &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
  wa->Close(&error);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_KeyChangingEdit(benchmark::State& state) {
  const auto n = static_cast<std::uint32_t>(state.range(0));
  auto wa = Open(Table(n, true));
  if (state.range(1)) ReadEveryTag(*wa);
  std::mt19937 rng(2);
  std::string error;
  std::vector<std::string> recs;
  recs.reserve(kPrepared);
  for (std::size_t k = 0; k < kPrepared; ++k) {
    const std::uint32_t v = rng();
    recs.push_back(MakeRecord(wa->Table(), v % 99999989u, Label(v)));
  }
  std::size_t i = 0;
  for (auto _ : state) {
    const std::uint32_t r = 1 + rng() % n;
    wa->Go(r, &error);
    if (!wa->PutRecord(recs[i++ % kPrepared], &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
  wa->Close(&error);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"records", "warm"});
  for (const std::int64_t warm : {0, 1})
    for (const std::int64_t n : {10000, 100000, 1000000}) b->Args({n, warm});
}

}  // namespace

BENCHMARK(BM_Seek)->Apply(Sizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkInTagOrder)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Append)->Apply(Sizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeyChangingEdit)->Apply(Sizes)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
