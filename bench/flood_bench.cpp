// Hash flooding: lookups of keys picked to share one lookup chain under the
// fixed lookup hash the tables used before (MurmurHash3, seed 0), against
// random keys, in a table with that hash ("seed0") and in one with the keyed
// hash the plugin uses ("keyed").
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

// The old lookup hash, kept here only: the plugin no longer has it.
struct Seed0Murmur {
  uint32_t operator()(const char* key, size_t len) const {
    auto rotl = [](uint32_t x, int r) { return (x << r) | (x >> (32 - r)); };
    auto mixWord = [&](uint32_t k) { return rotl(k * 0xcc9e2d51u, 15) * 0x1b873593u; };
    uint32_t h = 0;
    size_t i = 0;
    for (; i + 4 <= len; i += 4) {
      uint32_t k;
      std::memcpy(&k, key + i, 4);
      h = rotl(h ^ mixWord(k), 13) * 5u + 0xe6546b64u;
    }
    uint32_t tail = 0;
    for (size_t j = len; j > i; --j) tail = (tail << 8) | static_cast<unsigned char>(key[j - 1]);
    if (len > i) h ^= mixWord(tail);
    h ^= static_cast<uint32_t>(len);
    h = (h ^ (h >> 16)) * 0x85ebca6bu;
    h = (h ^ (h >> 13)) * 0xc2b2ae35u;
    return h ^ (h >> 16);
  }
};

const size_t kKeys = 20000;

template <typename Hash>
using Table = StringHashTable<PoolValue, Hash>;

// Account-like names that all land in lookup slot 0 of a seed0 table holding
// kKeys entries, found by trying names in turn: about one in as many as the
// table has slots.
std::vector<std::string> FindColliding() {
  Table<Seed0Murmur> sized;
  for (size_t i = 0; i < kKeys; ++i) {
    const std::string key = std::to_string(i);
    sized.find_or_insert(key.data(), key.size());
  }
  std::vector<std::string> keys;
  char name[] = "acct_0000000";
  const size_t first = 5, len = sizeof name - 1;
  while (keys.size() < kKeys) {
    if (sized.lookup_slot(name, len) == 0) keys.push_back(name);
    for (size_t i = len; i-- > first;) {  // the next name, in base 36
      name[i] = name[i] == '9' ? 'a' : name[i] == 'z' ? '0' : char(name[i] + 1);
      if (name[i] != '0') break;
    }
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

template <typename Hash>
void Lookups(benchmark::State& state, bool colliding) {
  const std::vector<std::string>& keys = KeysOf(colliding);
  Table<Hash> table;
  for (const std::string& key : keys) table.find_or_insert(key.data(), key.size());
  if (table.size() != kKeys) state.SkipWithError("keys are not distinct");
  for (auto _ : state) {
    for (const std::string& key : keys) {
      benchmark::DoNotOptimize(table.find_or_insert(key.data(), key.size()));
    }
  }
}

int Register() {
  for (bool colliding : {true, false}) {
    const std::string group = std::string("Flood/20k-") + (colliding ? "colliding" : "random");
    benchmark::RegisterBenchmark((group + "/keyed").c_str(), Lookups<KeyedHash>, colliding)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((group + "/seed0").c_str(), Lookups<Seed0Murmur>, colliding)
        ->Unit(benchmark::kMicrosecond);
  }
  return 0;
}

const int registered = Register();

}  // namespace
