// Pool operations against std::unordered_map doing the same work.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "Data.h"
#include "HashPool.h"

namespace {

using StdMap = std::unordered_map<std::string, std::string>;

std::unique_ptr<CHashPool> FilledPool(size_t n) {
  auto pool = std::make_unique<CHashPool>("bench");
  for (size_t i = 0; i < n; ++i) pool->Add(Keys(n)[i].c_str(), Values(n)[i].c_str());
  return pool;
}

std::unique_ptr<StdMap> FilledMap(size_t n) {
  auto map = std::make_unique<StdMap>();
  for (size_t i = 0; i < n; ++i) (*map)[Keys(n)[i]] = Values(n)[i];
  return map;
}

void AddPool(benchmark::State& state, size_t n) {
  const auto& keys = Keys(n);
  const auto& values = Values(n);
  for (auto _ : state) {
    auto pool = std::make_unique<CHashPool>("bench");
    for (size_t i = 0; i < n; ++i) pool->Add(keys[i].c_str(), values[i].c_str());
    state.PauseTiming();
    pool.reset();
    state.ResumeTiming();
  }
}

void AddStd(benchmark::State& state, size_t n) {
  const auto& keys = Keys(n);
  const auto& values = Values(n);
  for (auto _ : state) {
    auto map = std::make_unique<StdMap>();
    for (size_t i = 0; i < n; ++i) (*map)[keys[i]] = values[i];
    state.PauseTiming();
    map.reset();
    state.ResumeTiming();
  }
}

void GetHitPool(benchmark::State& state, size_t n) {
  auto pool = FilledPool(n);
  const auto& keys = Keys(n);
  for (auto _ : state) {
    for (size_t i = 0; i < n; ++i) benchmark::DoNotOptimize(pool->Get(keys[n - 1 - i].c_str()));
  }
}

void GetHitStd(benchmark::State& state, size_t n) {
  auto map = FilledMap(n);
  const auto& keys = Keys(n);
  for (auto _ : state) {
    for (size_t i = 0; i < n; ++i) benchmark::DoNotOptimize((*map)[keys[n - 1 - i]].c_str());
  }
}

// A read of a missing key inserts it, in both; it is deleted again so that
// every round misses.
void GetMissPool(benchmark::State& state, size_t n) {
  auto pool = FilledPool(n);
  const auto& missing = Keys(2 * n);
  for (auto _ : state) {
    for (size_t i = n; i < 2 * n; ++i) {
      benchmark::DoNotOptimize(pool->Get(missing[i].c_str()));
      pool->Del(missing[i].c_str());
    }
  }
}

void GetMissStd(benchmark::State& state, size_t n) {
  auto map = FilledMap(n);
  const auto& missing = Keys(2 * n);
  for (auto _ : state) {
    for (size_t i = n; i < 2 * n; ++i) {
      benchmark::DoNotOptimize((*map)[missing[i]].c_str());
      map->erase(missing[i]);
    }
  }
}

void DelPool(benchmark::State& state, size_t n) {
  const auto& keys = Keys(n);
  for (auto _ : state) {
    state.PauseTiming();
    auto pool = FilledPool(n);
    state.ResumeTiming();
    for (size_t i = 0; i < n; ++i) pool->Del(keys[i].c_str());
  }
}

void DelStd(benchmark::State& state, size_t n) {
  const auto& keys = Keys(n);
  for (auto _ : state) {
    state.PauseTiming();
    auto map = FilledMap(n);
    state.ResumeTiming();
    for (size_t i = 0; i < n; ++i) map->erase(keys[i]);
  }
}

template <typename Fill>
void Memory(benchmark::State& state, size_t n, Fill fill) {
  Keys(n);
  Values(n);
  for (auto _ : state) {
    const size_t before = HeapInUse();
    auto container = fill(n);
    state.counters["bytes/entry"] = double(HeapInUse() - before) / double(n);
  }
}

const struct {
  const char* label;
  size_t n;
} kSizes[] = {{"1e3", 1000}, {"1e5", 100000}, {"1e6", 1000000}};

int Register() {
  for (const auto& size : kSizes) {
    const size_t n = size.n;
    const std::string s = size.label;
    benchmark::RegisterBenchmark(("Add/" + s + "/pool").c_str(), AddPool, n);
    benchmark::RegisterBenchmark(("Add/" + s + "/std").c_str(), AddStd, n);
    benchmark::RegisterBenchmark(("GetHit/" + s + "/pool").c_str(), GetHitPool, n);
    benchmark::RegisterBenchmark(("GetHit/" + s + "/std").c_str(), GetHitStd, n);
    benchmark::RegisterBenchmark(("GetMiss/" + s + "/pool").c_str(), GetMissPool, n);
    benchmark::RegisterBenchmark(("GetMiss/" + s + "/std").c_str(), GetMissStd, n);
    benchmark::RegisterBenchmark(("Del/" + s + "/pool").c_str(), DelPool, n);
    benchmark::RegisterBenchmark(("Del/" + s + "/std").c_str(), DelStd, n);
  }
  benchmark::RegisterBenchmark("Memory/1e6/pool", Memory<decltype(&FilledPool)>, 1000000,
                               &FilledPool);
  benchmark::RegisterBenchmark("Memory/1e6/std", Memory<decltype(&FilledMap)>, 1000000, &FilledMap);
  return 0;
}

const int registered = Register();

}  // namespace
