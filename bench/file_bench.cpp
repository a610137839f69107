// Saving and loading a pool of 1e6 entries, against writing the same bytes
// with fwrite and reading the same file line by line into a hash map. Saves
// run for random names and for sequential ids, whose entries sit in long
// chains, and for a pool of 1 KB. A save syncs its file to the disk, and so
// does the fwrite baseline; "unsynced" writes the bytes without the sync,
// which shows what the sync costs.
#include <benchmark/benchmark.h>
#include <errno.h>
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
const size_t kSmall = 50;

std::string FileName(KeySet set, size_t entries) {
  return std::string("bench-") + Label(set) + (entries == kEntries ? "" : "-small") + ".txt";
}

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

// Random names, or the first 50 of them: a file of about 1 KB.
CHashPool& SavedPool(KeySet set, size_t entries = kEntries) {
  static Scratch scratch;
  static std::map<std::pair<KeySet, size_t>, std::unique_ptr<CHashPool>> pools;
  auto& pool = pools[{set, entries}];
  if (!pool) {
    pool = std::make_unique<CHashPool>("bench");
    for (size_t i = 0; i < entries; ++i)
      pool->Add(Keys(set, kEntries)[i].c_str(), Values(kEntries)[i].c_str());
    pool->SetFileName(FileName(set, entries).c_str());
    if (pool->Save() != 1) std::abort();
  }
  return *pool;
}

CHashPool& SavedPool() { return SavedPool(KeySet::Random); }

// What the pool's save wrote.
std::string FileBytes(KeySet set, size_t entries) {
  SavedPool(set, entries);
  std::FILE* f = std::fopen(("scriptfiles/" + FileName(set, entries)).c_str(), "r");
  std::string bytes;
  char chunk[65536];
  for (size_t n; f && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
  if (f) std::fclose(f);
  return bytes;
}

void SavePool(benchmark::State& state, KeySet set, size_t entries) {
  CHashPool& pool = SavedPool(set, entries);
  for (auto _ : state) {
    if (pool.Save() != 1) state.SkipWithError("save failed");
  }
}

void SaveFwrite(benchmark::State& state, KeySet set, size_t entries, bool sync) {
  const std::string bytes = FileBytes(set, entries);
  if (bytes.empty()) state.SkipWithError("no saved file");
  for (auto _ : state) {
    std::FILE* f = std::fopen("scriptfiles/plain.txt", "w");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    if (sync && (std::fflush(f) != 0 || fdatasync(fileno(f)) != 0)) state.SkipWithError("sync");
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

// What a crash before the first save leaves: a journal of 1e6 changes.
void JournalOfAMillion() {
  static bool written = false;
  if (written) return;
  SavedPool();  // the scratch directory
  CHashPool pool("journaled");
  pool.SetFileName("bench-recover.txt");
  if (pool.OpenJournal() != 0) std::abort();
  for (size_t i = 0; i < kEntries; ++i)
    pool.Add(Keys(KeySet::Random, kEntries)[i].c_str(), Values(kEntries)[i].c_str());
  pool.CloseJournal(false);
  written = true;
}

// A pool coming back from that journal alone, against one loaded from a file
// of the same entries; both start empty.
void Recover(benchmark::State& state, bool journal) {
  JournalOfAMillion();
  for (auto _ : state) {
    CHashPool pool("recover");
    pool.SetFileName(journal ? "bench-recover.txt" : "bench-random.txt");
    bool ok = pool.Load() == 1 || pool.FileError() == ENOENT;
    Journal::Replayed replayed;
    if (journal) {
      ok = ok && pool.OpenJournal() == 0 && pool.ReplayJournal(&replayed) == 0;
      pool.CloseJournal(false);
    }
    if (!ok || pool.Count() != kEntries) state.SkipWithError("recovery failed");
  }
}

int Register() {
  const struct {
    const char* label;
    KeySet set;
    size_t entries;
  } saves[] = {{"1e6-random", KeySet::Random, kEntries},
               {"1e6-ids", KeySet::Ids, kEntries},
               {"1KB-random", KeySet::Random, kSmall}};
  for (const auto& save : saves) {
    const std::string group = std::string("Save/") + save.label + "/";
    const auto unit = save.entries == kEntries ? benchmark::kMillisecond : benchmark::kMicrosecond;
    benchmark::RegisterBenchmark((group + "pool").c_str(), SavePool, save.set, save.entries)
        ->Unit(unit);
    benchmark::RegisterBenchmark((group + "fwrite").c_str(), SaveFwrite, save.set, save.entries,
                                 true)
        ->Unit(unit);
    benchmark::RegisterBenchmark((group + "unsynced").c_str(), SaveFwrite, save.set, save.entries,
                                 false)
        ->Unit(unit);
  }
  benchmark::RegisterBenchmark("Load/1e6/pool", LoadPool)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Recover/1e6/journal", Recover, true)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Recover/1e6/load", Recover, false)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Load/1e6/std", LoadStd)->Unit(benchmark::kMillisecond);
  return 0;
}

const int registered = Register();

}  // namespace
