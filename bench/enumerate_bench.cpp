// Walking a whole pool by index, as scripts do, against one direct pass over
// the table.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "Data.h"
#include "HashPool.h"

namespace {

void Fill(CHashPool& pool, size_t n) {
  for (size_t i = 0; i < n; ++i) pool.Add(Keys(n)[i].c_str(), Values(n)[i].c_str());
}

void ByIndex(benchmark::State& state, size_t n) {
  CHashPool pool("bench");
  Fill(pool, n);
  for (auto _ : state) {
    size_t total = 0;
    for (uint32_t i = 0; i < pool.Table().size(); ++i) total += std::strlen(pool.GetIndex(i));
    benchmark::DoNotOptimize(total);
  }
}

void Direct(benchmark::State& state, size_t n) {
  CHashPool pool("bench");
  Fill(pool, n);
  for (auto _ : state) {
    size_t total = 0;
    for (auto* e = pool.Table().first(); e; e = pool.Table().next(e)) {
      total += std::strlen(e->value.c_str());
    }
    benchmark::DoNotOptimize(total);
  }
}

int Register() {
  for (size_t n : {1000, 10000, 100000}) {
    const std::string s = n == 1000 ? "1e3" : n == 10000 ? "1e4" : "1e5";
    benchmark::RegisterBenchmark(("Enumerate/" + s + "/index").c_str(), ByIndex, n)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("Enumerate/" + s + "/direct").c_str(), Direct, n)
        ->Unit(benchmark::kMicrosecond);
  }
  return 0;
}

const int registered = Register();

}  // namespace
