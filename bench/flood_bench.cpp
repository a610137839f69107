// Hash flooding: lookups of keys picked to collide under the quick lookup
// hash by someone who knows its seed, against random keys, in tables with
// that seed. The colliding keys drive their table to the keyed hash after a
// few hundred insertions; the "keyed" counter says whether it switched.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Data.h"
#include "PoolValue.h"
#include "StringHashTable.h"

namespace {

const size_t kKeys = 20000;

LookupSecret KnownSeed() {
  LookupSecret secret = DrawSecret();
  secret.seed0 = 0x5eed5eed5eed5eedull;
  secret.seed1 = 0x6b6579737061636full;  // no zero byte, so keys can spell it
  return secret;
}

// Keys of two words whose first spells the seed's second word: the quick
// hash multiplies by zero and gives 0 for every one of them.
std::vector<std::string> FindColliding() {
  const size_t W = sizeof(size_t);
  const uint64_t seed1 = KnownSeed().seed1;
  std::vector<std::string> keys;
  for (size_t i = 0; keys.size() < kKeys; ++i) {
    std::string key(reinterpret_cast<const char*>(&seed1), W);
    std::string tail = std::to_string(i);
    key += std::string(W - tail.size(), '_') + tail;
    keys.push_back(key);
  }
  return keys;
}

const std::vector<std::string>& KeysOf(bool colliding) {
  static std::vector<std::string> sets[2];
  std::vector<std::string>& keys = sets[colliding];
  if (keys.empty()) {
    keys = colliding ? FindColliding() : Keys(kKeys);
    std::shuffle(keys.begin(), keys.end(), std::mt19937(3));
  }
  return keys;
}

void Lookups(benchmark::State& state, bool colliding) {
  const std::vector<std::string>& keys = KeysOf(colliding);
  StringHashTable<PoolValue> table(100, KnownSeed());
  for (const std::string& key : keys) table.find_or_insert(key.data(), key.size());
  if (table.size() != kKeys) state.SkipWithError("keys are not distinct");
  for (auto _ : state) {
    for (const std::string& key : keys) {
      benchmark::DoNotOptimize(table.find_or_insert(key.data(), key.size()));
    }
  }
  state.counters["keyed"] = table.keyed();
}

int Register() {
  for (bool colliding : {true, false}) {
    benchmark::RegisterBenchmark(colliding ? "Flood/20k/colliding" : "Flood/20k/random", Lookups,
                                 colliding)
        ->Unit(benchmark::kMicrosecond);
  }
  return 0;
}

const int registered = Register();

}  // namespace
