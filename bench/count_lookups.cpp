// Shuffled lookups of every key once, with callgrind counting only them:
//   valgrind --tool=callgrind --instr-atstart=no pvcount pool|find user|ids|random N
// "pool" reads as the natives do, "find" is std::unordered_map::find.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include "Data.h"
#include "HashPool.h"

namespace {

template <typename T>
void Keep(T value) {
  asm volatile("" : : "r"(value) : "memory");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s pool|find user|ids|random N\n", argv[0]);
    return 2;
  }
  const bool pool = !std::strcmp(argv[1], "pool");
  const KeySet set = !std::strcmp(argv[2], "user")  ? KeySet::Users
                     : !std::strcmp(argv[2], "ids") ? KeySet::Ids
                                                    : KeySet::Random;
  const size_t n = std::strtoul(argv[3], nullptr, 10);
  const auto& keys = Keys(set, n);
  const auto& values = Values(n);
  const auto& shuffled = Shuffled(set, n);
  CHashPool table("count");
  std::unordered_map<std::string, std::string> map;
  for (size_t i = 0; i < n; ++i) {
    if (pool)
      table.Add(keys[i].c_str(), values[i].c_str());
    else
      map[keys[i]] = values[i];
  }
  CALLGRIND_START_INSTRUMENTATION;
  for (const std::string& key : shuffled) {
    size_t len;
    if (pool)
      Keep(table.Get(key.data(), key.size(), &len));
    else
      Keep(map.find(key)->second.c_str());
  }
  CALLGRIND_STOP_INSTRUMENTATION;
  return 0;
}
