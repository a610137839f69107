// What keeping journals durable costs with many of them taking changes. One
// pass of the syncer over N journals, each with a new record: a fdatasync
// for each against one syncfs for their file system. And the syncer itself
// for 2 seconds while N journaled pools take 10,000 changes a second between
// them: its syncs a second and its longest pass; a record waits at most a
// tick and a pass for the disk.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "HashPool.h"
#include "JournalSyncer.h"

namespace {

// A scratch directory on the disk, as the working directory while it lives.
struct InScratch {
  InScratch() : back(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    char dir[] = "/tmp/pairvault-sync-XXXXXX";
    if (back < 0 || !mkdtemp(dir) || chdir(dir) != 0 || mkdir("scriptfiles", 0777) != 0)
      std::abort();
    path = dir;
  }
  ~InScratch() {
    if (fchdir(back) != 0) std::abort();
    close(back);
    std::system(("rm -rf " + path).c_str());
  }
  int back;
  std::string path;
};

struct Files {
  explicit Files(size_t n) {
    for (size_t i = 0; i < n; ++i) {
      const std::string path = "scriptfiles/sync-" + std::to_string(i) + ".bin";
      fds.push_back(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
      if (fds.back() < 0) std::abort();
    }
  }
  ~Files() {
    for (int fd : fds) close(fd);
  }
  void Append() {
    for (int fd : fds) {
      if (write(fd, "record of a change\n", 19) != 19) std::abort();
    }
  }
  std::vector<int> fds;
};

// One pass with a syncfs of the file system first, a fdatasync of each file
// after it, or both: a fdatasync after the syncfs finds the data on the disk
// and would only report a failed write back.
void Pass(benchmark::State& state, bool syncfs, bool fdatasyncs) {
  InScratch scratch;
  Files files(size_t(state.range(0)));
  for (auto _ : state) {
    files.Append();
    if (syncfs) syscall(SYS_syncfs, files.fds[0]);
    for (size_t i = 0; fdatasyncs && i < files.fds.size(); ++i) fdatasync(files.fds[i]);
  }
}

void Thread(benchmark::State& state) {
  InScratch scratch;
  const size_t n = size_t(state.range(0));
  std::vector<std::unique_ptr<CHashPool>> pools;
  for (size_t i = 0; i < n; ++i) {
    pools.emplace_back(new CHashPool("p"));
    pools.back()->SetFileName(("syncer-" + std::to_string(i) + ".txt").c_str());
    if (pools.back()->OpenJournal() != 0) std::abort();
  }
  const auto tick = std::chrono::microseconds(100);  // 10 changes a tick
  for (auto _ : state) {
    const JournalSyncer::Stats before = JournalSyncer::Totals();
    const auto start = std::chrono::steady_clock::now();
    size_t change = 0;
    for (auto next = start; next - start < std::chrono::seconds(2); next += tick * 10) {
      for (int i = 0; i < 10; ++i, ++change) {
        pools[change % n]->Add(("k" + std::to_string(change % 1000)).c_str(), "value");
      }
      std::this_thread::sleep_until(next + tick * 10);
    }
    const JournalSyncer::Stats after = JournalSyncer::Totals();
    state.counters["syncs/s"] = double(after.syncs - before.syncs) / 2;
    state.counters["passes/s"] = double(after.passes - before.passes) / 2;
    state.counters["longest_wait_ms"] = JournalSyncer::kTickMs + double(after.longestPassUs) / 1000;
  }
  for (auto& pool : pools) pool->CloseJournal(true);
}

int Register() {
  for (int n : {10, 100, 1000}) {
    const struct {
      const char* name;
      bool syncfs, fdatasyncs;
    } passes[] = {{"Sync/pass/fdatasync", false, true},
                  {"Sync/pass/syncfs", true, false},
                  {"Sync/pass/syncfs-then-fdatasync", true, true}};
    for (const auto& pass : passes) {
      benchmark::RegisterBenchmark(pass.name, Pass, pass.syncfs, pass.fdatasyncs)
          ->Arg(n)
          ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("Sync/thread", Thread)
        ->Arg(n)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
  return 0;
}

const int registered = Register();

}  // namespace
