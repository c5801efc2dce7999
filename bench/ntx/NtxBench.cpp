// Building, seeking and maintaining an NTX over an account table of the
// size large Mandanten reach, and evaluating a typical key expression.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "Expression.h"
#include "ntx/NtxIndex.h"

namespace {

constexpr std::uint32_t kRecords = 70000;

class BenchTable final : public xbe::TableScan, public xbe::RecordAccess {
 public:
  std::uint32_t RecordCount() const override { return kRecords; }
  bool Load(std::uint32_t recno, std::string*) override {
    recno_ = recno;
    const std::string n = std::to_string((recno * 7919u) % 100000u);
    num_ = std::string(8 - n.size(), ' ') + n;
    const unsigned day = 1 + recno % 28;
    date_ = "202007" + std::string(day < 10 ? "0" : "") + std::to_string(day);
    return true;
  }
  const xbe::RecordAccess& Record() const override { return *this; }
  int FieldCount() const override { return 2; }
  int FindField(std::string_view name) const override {
    if (name == "KNT_NR" || name == "knt_nr") return 0;
    if (name == "AB" || name == "ab") return 1;
    return -1;
  }
  char FieldType(int f) const override { return f == 0 ? 'N' : 'D'; }
  int FieldWidth(int f) const override { return 8 + 0 * f; }
  int FieldDecimals(int) const override { return 0; }
  std::string_view FieldBytes(int f) const override { return f == 0 ? num_ : date_; }
  std::uint32_t RecNo() const override { return recno_; }
  bool Deleted() const override { return false; }
  std::string_view Alias() const override { return "KONTO"; }

 private:
  std::uint32_t recno_ = 1;
  std::string num_ = "        ", date_ = "        ";
};

std::string BenchPath() {
  return (std::filesystem::temp_directory_path() / "bench-ntx.ntx").string();
}

void BM_CreateNtx(benchmark::State& state) {
  BenchTable table;
  std::string error;
  for (auto _ : state)
    if (!xbe::CreateNtx(BenchPath(), "DTOS(AB) + STR(KNT_NR, 8)", "", 0, table, &error)) state.SkipWithError(error.c_str());
}
BENCHMARK(BM_CreateNtx)->Unit(benchmark::kMillisecond);

void BM_SeekNumeric(benchmark::State& state) {
  BenchTable table;
  std::string error;
  if (!xbe::CreateNtx(BenchPath(), "KNT_NR", "", 0, table, &error)) return state.SkipWithError(error.c_str());
  auto file = xbe::OpenNtx(BenchPath(), table, false, &error);
  auto cur = file->Tag(0).NewCursor();
  std::mt19937 rng(1);
  for (auto _ : state) {
    std::string key;
    bool prefix = false, found = false;
    file->Tag(0).SeekKey(std::to_string(rng() % 100000), key, prefix);
    benchmark::DoNotOptimize(cur->Seek(key, prefix, found));
  }
}
BENCHMARK(BM_SeekNumeric);

void BM_ChangeKey(benchmark::State& state) {
  BenchTable table;
  std::string error;
  if (!xbe::CreateNtx(BenchPath(), "KNT_NR", "", 0, table, &error)) return state.SkipWithError(error.c_str());
  auto file = xbe::OpenNtx(BenchPath(), table, true, &error);
  xbe::IndexTag& tag = file->Tag(0);
  std::mt19937 rng(2);
  for (auto _ : state) {
    const std::uint32_t r = 1 + rng() % kRecords;
    table.Load(r, nullptr);
    std::string key;
    bool included = false;
    tag.KeyFor(table, key, included, nullptr);
    tag.Remove({key, r}, &error);
    tag.Insert({key, r}, &error);
  }
  file->Flush(&error);
}
BENCHMARK(BM_ChangeKey);

void BM_EvalKeyExpression(benchmark::State& state) {
  BenchTable table;
  table.Load(17, nullptr);
  auto e = xbe::Expression::Compile("DTOS(AB) + STR(KNT_NR, 8)", table, nullptr);
  xbe::Value v;
  for (auto _ : state) benchmark::DoNotOptimize(e->Evaluate(table, v, nullptr));
}
BENCHMARK(BM_EvalKeyExpression);

}  // namespace

BENCHMARK_MAIN();
