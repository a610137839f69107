// Saving and loading a pool of 1e6 entries, against writing the same bytes
// with fwrite and reading the same file line by line into a hash map.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

CHashPool& SavedPool() {
  static Scratch scratch;
  static std::unique_ptr<CHashPool> pool = [] {
    auto p = std::make_unique<CHashPool>("bench");
    for (size_t i = 0; i < kEntries; ++i)
      p->Add(Keys(kEntries)[i].c_str(), Values(kEntries)[i].c_str());
    p->SetFileName("bench.txt");
    if (p->Save() != 1) std::abort();
    return p;
  }();
  return *pool;
}

std::string FileBytes() {
  std::string bytes;
  for (auto* e = SavedPool().Table().first(); e; e = SavedPool().Table().next(e)) {
    bytes.append(e->key(), e->keyLen).append("\n").append(e->value.c_str()).append("\n");
  }
  return bytes;
}

void SavePool(benchmark::State& state) {
  CHashPool& pool = SavedPool();
  for (auto _ : state) {
    if (pool.Save() != 1) state.SkipWithError("save failed");
  }
}

void SaveFwrite(benchmark::State& state) {
  SavedPool();
  const std::string bytes = FileBytes();
  for (auto _ : state) {
    std::FILE* f = std::fopen("scriptfiles/plain.txt", "w");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

void LoadPool(benchmark::State& state) {
  SavedPool();
  CHashPool pool("load");
  pool.SetFileName("bench.txt");
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
    std::FILE* f = std::fopen("scriptfiles/bench.txt", "r");
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
  benchmark::RegisterBenchmark("Save/1e6/pool", SavePool)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Save/1e6/fwrite", SaveFwrite)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Load/1e6/pool", LoadPool)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Load/1e6/std", LoadStd)->Unit(benchmark::kMillisecond);
  return 0;
}

const int registered = Register();

}  // namespace
