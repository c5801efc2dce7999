// The full-text library over a million entries: building the file, opening
// it, replacing entries (each close durable) and searching with every kind.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fts32.h"
#include "fulltext/MakeIdxStr.h"

namespace {

constexpr int kEntries = 1000000;

const std::vector<std::string>& Labels() {
  static const std::vector<std::string> labels = [] {
    const char* words[] = {"Erl\xF6se", "USt", "Vorsteuer", "Bank", "Kasse", "Wareneingang",
                           "Umsatzsteuer", "Forderungen", "Verbindlichkeiten", "Porto",
                           "Miete", "Kfz-Kosten", "Bewirtung", "Reisekosten", "Zinsen",
                           "Skonti", "Boni", "Provision", "innergemeinschaftlich", "Lieferung",
                           "steuerfrei", "Anzahlungen", "Privatentnahme", "Abschreibung"};
    std::mt19937 rng(2020);
    std::vector<std::string> out;
    out.reserve(kEntries);
    for (int i = 0; i < kEntries; ++i) {
      std::string label = words[rng() % std::size(words)];
      label += ' ';
      label += words[rng() % std::size(words)];
      if (rng() % 2) label += ' ' + std::to_string(rng() % 20) + " %";
      if (rng() % 3 == 0) label += ' ' + std::to_string(rng() % 100000);
      out.push_back(fulltext::MakeIdxStr(label, false));
    }
    return out;
  }();
  return labels;
}

// A temporary folder for the index, removed at program end.
struct BenchDir {
  BenchDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "fts-bench-XXXXXX").string();
    path = ::mkdtemp(templ.data());
  }
  ~BenchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

std::string IndexPath() {
  static const BenchDir dir;
  return dir.path + "/konto.TS1";
}

void EnsureIndex() {
  static const bool built = [] {
    const int h = FtsCreate(IndexPath().c_str(), 1024, kEntries, 0, 0);
    for (const auto& t : Labels()) FtsAdd(h, t.c_str());
    return FtsClose(h) == FTS_OK;
  }();
  if (!built) std::abort();
}

void BM_Build(benchmark::State& state) {
  const auto& labels = Labels();
  const std::string path = IndexPath() + ".build";
  for (auto _ : state) {
    const int h = FtsCreate(path.c_str(), 1024, kEntries, 0, 0);
    for (const auto& t : labels) FtsAdd(h, t.c_str());
    if (FtsClose(h) != FTS_OK) state.SkipWithError("close failed");
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
  std::filesystem::remove(path);
}
BENCHMARK(BM_Build)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Open(benchmark::State& state) {
  EnsureIndex();
  for (auto _ : state) {
    const int h = FtsOpen(IndexPath().c_str(), 32, 0);
    if (FtsNumRecs(h) != kEntries) state.SkipWithError("wrong count");
    FtsClose(h);
  }
}
BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond)->Iterations(3);

// As the conversion uses it: open, replace a handful of entries, close.
void BM_ReplaceAndClose(benchmark::State& state) {
  EnsureIndex();
  std::mt19937 rng(1);
  const int perClose = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const int h = FtsOpen(IndexPath().c_str(), 32, 0);
    for (int i = 0; i < perClose; ++i) {
      FtsReplace(h, Labels()[rng() % kEntries].c_str(), static_cast<int>(rng() % kEntries) + 1);
    }
    FtsClose(h);
  }
}
BENCHMARK(BM_ReplaceAndClose)->Arg(10)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

// Replacing on an open handle whose word index is built.
void BM_ReplaceSearched(benchmark::State& state) {
  EnsureIndex();
  const int h = FtsOpen(IndexPath().c_str(), 32, 0);
  FtsSet(h, "KASSE");
  std::mt19937 rng(2);
  for (auto _ : state) {
    FtsReplace(h, Labels()[rng() % kEntries].c_str(), static_cast<int>(rng() % kEntries) + 1);
  }
  FtsClose(h);
}
BENCHMARK(BM_ReplaceSearched)->Unit(benchmark::kMicrosecond);

void BM_FirstSearch(benchmark::State& state) {
  EnsureIndex();
  for (auto _ : state) {
    state.PauseTiming();
    const int h = FtsOpen(IndexPath().c_str(), 32, FTS_MODE_READONLY);
    state.ResumeTiming();
    benchmark::DoNotOptimize(FtsSet(h, "PORTO"));
    state.PauseTiming();
    FtsClose(h);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FirstSearch)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Search(benchmark::State& state, const char* query, int kind) {
  EnsureIndex();
  const int h = FtsOpen(IndexPath().c_str(), 32, FTS_MODE_READONLY);
  FtsSet(h, "X");  // builds the word index outside the timing
  std::int64_t hits = 0;
  for (auto _ : state) {
    const int n = FtsVerify(h, query, nullptr, kind);
    for (int r; (r = FtsNextRec(h)) > 0;) benchmark::DoNotOptimize(r);
    hits = n;
  }
  state.counters["hits"] = static_cast<double>(hits);
  FtsClose(h);
}
BENCHMARK_CAPTURE(BM_Search, and_rare, "PORTO BONI n7n", FTS_VAND)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Search, and_common, "UST", FTS_VAND)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Search, one, "PORTO MIETE", FTS_VONE)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Search, beg, "n1234", FTS_VBEG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Search, beg_short, "V", FTS_VBEG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Search, end, "STEUER", FTS_VEND)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Search, end_digits, "99n", FTS_VEND)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
