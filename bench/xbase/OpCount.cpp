// Instructions and cache misses per operation of the xBase benchmarks, for
// callgrind: on a shared virtual machine timings of the same build lie up
// to 40 % apart, while these counts repeat exactly.
//
//   valgrind --tool=callgrind --cache-sim=yes --collect-atstart=no
//            --instr-atstart=no xbe_opcount edit 1000000 5000
//   (one command line)
//
// builds the benchmark's table of 1 000 000 records (uninstrumented), reads
// every tag once so that its nodes are cached, and counts only the 5000
// operations: seek, walk (one record of a walk in tag order, every field
// read), append or edit, made as bench_xbase makes them. Divide callgrind's
// totals by the count.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "BenchTables.h"

using namespace benchtables;

int main(int argc, char** argv) {
  const std::string op = argc == 4 ? argv[1] : "";
  if (op != "seek" && op != "walk" && op != "append" && op != "edit") {
    std::fprintf(stderr, "usage: xbe_opcount seek|walk|append|edit RECORDS COUNT\n");
    return 2;
  }
  const auto n = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const auto count = static_cast<std::size_t>(std::strtoul(argv[3], nullptr, 10));
  if (n == 0 || count == 0) return 2;
  const bool writes = op == "append" || op == "edit";
  auto wa = Open(Table(n, writes));
  std::string error;
  ReadEveryTag(*wa);
  std::mt19937 rng(3);
  std::vector<std::string> recs;
  if (op == "append") recs = Records(wa->Table(), n + 1, count);
  if (op == "edit")
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint32_t v = rng();
      recs.push_back(MakeRecord(wa->Table(), v % 99999989u, Label(v)));
    }
  std::vector<std::string> keys;
  if (op == "seek")
    for (std::size_t k = 0; k < count; ++k)
      keys.push_back(std::to_string((static_cast<std::uint32_t>(1 + rng() % n) * 7919u) % 99999989u));
  std::vector<std::uint32_t> targets;
  if (op == "edit")
    for (std::size_t k = 0; k < count; ++k) targets.push_back(static_cast<std::uint32_t>(1 + rng() % n));
  wa->SetOrder(op == "walk" ? 2 : 1);
  if (op == "walk") wa->GoTop(&error);

  // Decided once: comparing the strings in the loop would be counted too.
  const bool seek = op == "seek", walk = op == "walk", append = op == "append";
  std::size_t sum = 0, done = 0;
  CALLGRIND_START_INSTRUMENTATION;
  CALLGRIND_TOGGLE_COLLECT;
  for (; done < count; ++done) {
    bool ok = true;
    if (seek) {
      bool found = false;
      ok = wa->Seek(keys[done], found, &error);
      sum += found;
    } else if (walk) {
      if (wa->Eof()) break;
      sum += ReadEveryField(*wa);
      ok = wa->Skip(1, &error);
    } else if (append) {
      ok = wa->AppendRecord(recs[done], &error);
    } else {
      ok = wa->Go(targets[done], &error) && wa->PutRecord(recs[done], &error);
    }
    if (!ok) break;
  }
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_STOP_INSTRUMENTATION;
  if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  wa->Close(&error);
  std::printf("%zu %s operations (checksum %zu)\n", done, op.c_str(), sum);
  return done == count ? 0 : 1;
}
