// Pool operations against std::unordered_map doing the same work, for each
// kind of key. Lookups and deletions go in an order unrelated to insertion,
// as a server's players come and go.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "Data.h"
#include "HashPool.h"

namespace {

using StdMap = std::unordered_map<std::string, std::string>;

std::unique_ptr<CHashPool> FilledPool(KeySet set, size_t n) {
  auto pool = std::make_unique<CHashPool>("bench");
  for (size_t i = 0; i < n; ++i) pool->Add(Keys(set, n)[i].c_str(), Values(n)[i].c_str());
  return pool;
}

std::unique_ptr<StdMap> FilledMap(KeySet set, size_t n) {
  auto map = std::make_unique<StdMap>();
  for (size_t i = 0; i < n; ++i) (*map)[Keys(set, n)[i]] = Values(n)[i];
  return map;
}

// As the natives read: the key's length is known.
const char* Get(CHashPool& pool, const std::string& key) {
  size_t len;
  return pool.Get(key.data(), key.size(), &len);
}

void AddPool(benchmark::State& state, KeySet set, size_t n) {
  const auto& keys = Keys(set, n);
  const auto& values = Values(n);
  for (auto _ : state) {
    auto pool = std::make_unique<CHashPool>("bench");
    for (size_t i = 0; i < n; ++i) pool->Add(keys[i].c_str(), values[i].c_str());
    state.PauseTiming();
    pool.reset();
    state.ResumeTiming();
  }
}

void AddStd(benchmark::State& state, KeySet set, size_t n) {
  const auto& keys = Keys(set, n);
  const auto& values = Values(n);
  for (auto _ : state) {
    auto map = std::make_unique<StdMap>();
    for (size_t i = 0; i < n; ++i) (*map)[keys[i]] = values[i];
    state.PauseTiming();
    map.reset();
    state.ResumeTiming();
  }
}

void GetHitPool(benchmark::State& state, KeySet set, size_t n) {
  auto pool = FilledPool(set, n);
  const auto& keys = Shuffled(set, n);
  for (auto _ : state) {
    for (const std::string& key : keys) benchmark::DoNotOptimize(Get(*pool, key));
  }
}

void GetHitStd(benchmark::State& state, KeySet set, size_t n) {
  auto map = FilledMap(set, n);
  const auto& keys = Shuffled(set, n);
  for (auto _ : state) {
    for (const std::string& key : keys) benchmark::DoNotOptimize((*map)[key].c_str());
  }
}

// A read of a missing key inserts it, in both; it is deleted again so that
// every round misses.
void GetMissPool(benchmark::State& state, KeySet set, size_t n) {
  auto pool = FilledPool(set, n);
  const auto& missing = Missing(set, n);
  for (auto _ : state) {
    for (const std::string& key : missing) {
      benchmark::DoNotOptimize(Get(*pool, key));
      pool->Del(key.c_str());
    }
  }
}

void GetMissStd(benchmark::State& state, KeySet set, size_t n) {
  auto map = FilledMap(set, n);
  const auto& missing = Missing(set, n);
  for (auto _ : state) {
    for (const std::string& key : missing) {
      benchmark::DoNotOptimize((*map)[key].c_str());
      map->erase(key);
    }
  }
}

void DelPool(benchmark::State& state, KeySet set, size_t n) {
  const auto& keys = Shuffled(set, n);
  for (auto _ : state) {
    state.PauseTiming();
    auto pool = FilledPool(set, n);
    state.ResumeTiming();
    for (const std::string& key : keys) pool->Del(key.c_str());
  }
}

void DelStd(benchmark::State& state, KeySet set, size_t n) {
  const auto& keys = Shuffled(set, n);
  for (auto _ : state) {
    state.PauseTiming();
    auto map = FilledMap(set, n);
    state.ResumeTiming();
    for (const std::string& key : keys) map->erase(key);
  }
}

template <typename Fill>
void Memory(benchmark::State& state, KeySet set, size_t n, Fill fill) {
  Keys(set, n);
  Values(n);
  for (auto _ : state) {
    const size_t before = HeapInUse();
    auto container = fill(set, n);
    state.counters["bytes/entry"] = double(HeapInUse() - before) / double(n);
  }
}

const struct {
  const char* label;
  size_t n;
} kSizes[] = {{"1e5", 100000}, {"1e6", 1000000}};

template <typename Fn>
void Pair(const std::string& what, const std::string& where, Fn pool, Fn std, KeySet set,
          size_t n) {
  benchmark::RegisterBenchmark((what + "/" + where + "/pool").c_str(), pool, set, n);
  benchmark::RegisterBenchmark((what + "/" + where + "/std").c_str(), std, set, n);
}

int Register() {
  for (const auto& size : kSizes) {
    for (KeySet set : {KeySet::Random, KeySet::Ids, KeySet::Users}) {
      const size_t n = size.n;
      const std::string where = std::string(size.label) + "-" + Label(set);
      Pair("Add", where, AddPool, AddStd, set, n);
      Pair("GetHit", where, GetHitPool, GetHitStd, set, n);
      Pair("GetMiss", where, GetMissPool, GetMissStd, set, n);
      Pair("Del", where, DelPool, DelStd, set, n);
      benchmark::RegisterBenchmark(("Memory/" + where + "/pool").c_str(),
                                   Memory<decltype(&FilledPool)>, set, n, &FilledPool)
          ->Iterations(1);
      benchmark::RegisterBenchmark(("Memory/" + where + "/std").c_str(),
                                   Memory<decltype(&FilledMap)>, set, n, &FilledMap)
          ->Iterations(1);
    }
  }
  return 0;
}

const int registered = Register();

}  // namespace
