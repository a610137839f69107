// Saving and loading a pool of 1e6 entries, against writing the same bytes
// with fwrite and reading the same file line by line into a hash map. Saves
// run for random names and for sequential ids, whose entries sit in long
// chains.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "Data.h"
#include "HashPool.h"

namespace {

const size_t kEntries = 1000000;

// The benchmarks work in a scratch directory, as a server works in its own.
struct Scratch {
  Scratch() {
    char dir[] = "/tmp/pairvault-bench-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0 || mkdir("scriptfiles", 0777) != 0) std::abort();
    path = dir;
  }
  ~Scratch() { std::system(("rm -rf " + path).c_str()); }
  std::string path;
};

CHashPool& SavedPool(KeySet set) {
  static Scratch scratch;
  static std::map<KeySet, std::unique_ptr<CHashPool>> pools;
  auto& pool = pools[set];
  if (!pool) {
    pool = std::make_unique<CHashPool>("bench");
    for (size_t i = 0; i < kEntries; ++i)
      pool->Add(Keys(set, kEntries)[i].c_str(), Values(kEntries)[i].c_str());
    pool->SetFileName((std::string("bench-") + Label(set) + ".txt").c_str());
    if (pool->Save() != 1) std::abort();
  }
  return *pool;
}

CHashPool& SavedPool() { return SavedPool(KeySet::Random); }

// What the pool's save wrote.
std::string FileBytes(KeySet set) {
  SavedPool(set);
  std::FILE* f = std::fopen((std::string("scriptfiles/bench-") + Label(set) + ".txt").c_str(), "r");
  std::string bytes;
  char chunk[65536];
  for (size_t n; f && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
  if (f) std::fclose(f);
  return bytes;
}

void SavePool(benchmark::State& state, KeySet set) {
  CHashPool& pool = SavedPool(set);
  for (auto _ : state) {
    if (pool.Save() != 1) state.SkipWithError("save failed");
  }
}

void SaveFwrite(benchmark::State& state, KeySet set) {
  const std::string bytes = FileBytes(set);
  if (bytes.empty()) state.SkipWithError("no saved file");
  for (auto _ : state) {
    std::FILE* f = std::fopen("scriptfiles/plain.txt", "w");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

void LoadPool(benchmark::State& state) {
  SavedPool();
  CHashPool pool("load");
  pool.SetFileName("bench-random.txt");
  for (auto _ : state) {
    if (pool.Load() != 1) state.SkipWithError("load failed");
  }
  if (pool.Table().size() != kEntries) state.SkipWithError("wrong entry count");
}

void LoadStd(benchmark::State& state) {
  SavedPool();
  std::unordered_map<std::string, std::string> map;
  char* line = nullptr;
  size_t capacity = 0;
  for (auto _ : state) {
    map.clear();
    std::FILE* f = std::fopen("scriptfiles/bench-random.txt", "r");
    std::string key;
    for (ssize_t n; (n = getline(&line, &capacity, f)) > 0;) {
      key.assign(line, size_t(n) - 1);
      if ((n = getline(&line, &capacity, f)) <= 0) break;
      map[key].assign(line, size_t(n) - 1);
    }
    std::fclose(f);
  }
  std::free(line);
  if (map.size() != kEntries) state.SkipWithError("wrong entry count");
}

int Register() {
  for (KeySet set : {KeySet::Random, KeySet::Ids}) {
    const std::string group = std::string("Save/1e6-") + Label(set) + "/";
    benchmark::RegisterBenchmark((group + "pool").c_str(), SavePool, set)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((group + "fwrite").c_str(), SaveFwrite, set)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("Load/1e6/pool", LoadPool)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Load/1e6/std", LoadStd)->Unit(benchmark::kMillisecond);
  return 0;
}

const int registered = Register();

}  // namespace
