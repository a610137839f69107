// Kills a process at random moments of its work on a pool, again and again,
// and checks what it left behind.
//   kill_test saves [KILLS [SEED]]   a process saving a pool over and over:
//                                    the file must always be one whole
//                                    version, and after the next save no
//                                    temporary file may be left.
//   kill_test journal [KILLS [SEED]] a journaled process changing a pool and
//                                    telling each change once its native
//                                    returned: restarted with its journal,
//                                    the pool must hold every change told.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "HashPoolManager.h"
#include "LinkedPlugin.h"
#include "Script.h"

namespace {

const int kEntries = 20000;

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

int TemporaryFiles() {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("scriptfiles")) {
    n += entry.path().filename().string().find(".tmp.") != std::string::npos;
  }
  return n;
}

// Whether the file holds every entry, all with one version's value.
bool Whole(const std::string& bytes) {
  std::istringstream lines(bytes);
  std::string key, value, version;
  int records = 0;
  while (std::getline(lines, key) && std::getline(lines, value)) {
    if (records++ == 0) version = value;
    if (value != version) return false;
  }
  return records == kEntries && !bytes.empty() && bytes.back() == '\n';
}

// Saves versions of the pool, each with one value for every key, until the
// version `last`; 1 when each was saved.
int SaveVersions(unsigned last) {
  CHashPool pool("kill");
  pool.SetFileName("kill.txt");
  for (unsigned round = 0; round <= last; ++round) {
    const std::string value = "version " + std::to_string(getpid()) + "." + std::to_string(round);
    for (int i = 0; i < kEntries; ++i) pool.Add(("key" + std::to_string(i)).c_str(), value.c_str());
    if (pool.Save() != 1) return 0;
  }
  return 1;
}

// Runs `work` in a child, which may tell of its progress with one byte a
// step, and kills it within 40 ms; the steps it told of.
template <typename Work>
long KillAtRandom(std::mt19937& rng, Work work) {
  int told[2];
  if (pipe(told) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(told[0]);
    work(told[1]);
    _exit(3);
  }
  close(told[1]);
  usleep(useconds_t(rng() % 40000));
  kill(pid, SIGKILL);
  long steps = 0;
  char bytes[65536];
  for (ssize_t n; (n = read(told[0], bytes, sizeof bytes)) > 0;) steps += n;
  close(told[0]);
  waitpid(pid, nullptr, 0);
  return steps;
}

int KillSaves(int kills, std::mt19937& rng) {
  if (SaveVersions(0) != 1) return 2;
  int whole = 0, leftBehind = 0, afterNextSave = 0;
  for (int i = 0; i < kills; ++i) {
    KillAtRandom(rng, [](int) { SaveVersions(~0u); });
    whole += Whole(ReadFile("scriptfiles/kill.txt"));
    leftBehind += TemporaryFiles() > 0;
    CHashPool next("next");
    next.SetFileName("kill.txt");
    next.Load();
    if (next.Save() != 1) std::fprintf(stderr, "kill %d: the next save failed\n", i);
    afterNextSave += TemporaryFiles();
  }
  std::printf(
      "saves: %d kills, %d files whole, %d kills left a temporary file, %d left after "
      "the next save\n",
      kills, whole, leftBehind, afterNextSave);
  return whole == kills && afterNextSave == 0 ? 0 : 1;
}

// A script's changes to a journaled pool: counts under "c<n>", texts (some
// with a line feed, some empty) under "t<n>", deletions of either, and a save
// now and then. They are drawn from a seed, so that the test knows every
// change the script made from how many it told of.
struct Change {
  char kind;  // 'i' count, 'a' store, 'd' delete
  std::string key, text;
  int32_t amount;
  bool save;
};

Change Next(std::mt19937& rng) {
  Change c{"iiad"[rng() % 4], "", "", int32_t(rng() % 2001) - 1000, rng() % 50000 == 0};
  const unsigned n = rng() % 3000;
  c.key = (c.kind == 'i' || (c.kind == 'd' && n % 2) ? "c" : "t") + std::to_string(n);
  if (c.kind == 'a') c.text.assign(rng() % 200, char('a' + rng() % 26));
  if (!c.text.empty() && rng() % 8 == 0) c.text[rng() % c.text.size()] = '\n';
  return c;
}

typedef std::map<std::string, std::string> Entries;

void Apply(const Change& c, Entries& entries) {
  if (c.kind == 'i') {
    const auto it = entries.find(c.key);
    const int64_t n = (it == entries.end() ? 0 : std::atoll(it->second.c_str())) + c.amount;
    entries[c.key] = std::to_string(int32_t(uint32_t(uint64_t(n))));
  } else if (c.kind == 'a' && !c.text.empty()) {
    entries[c.key] = c.text;
  } else {
    entries.erase(c.key);  // an empty text is not saved either
  }
}

// What a restart gets back after a save: the file leaves out texts with a
// line feed, and the journal that held them is emptied.
void Saved(Entries& entries) {
  for (auto it = entries.begin(); it != entries.end();) {
    it = it->second.find('\n') != std::string::npos ? entries.erase(it) : std::next(it);
  }
}

// Tells of each change once its native returned, with one byte.
[[noreturn]] void ChangeForever(int out, unsigned seed) {
  std::mt19937 rng(seed);
  LinkedPlugin plugin;
  Script script;
  if (plugin.AmxLoad(script.amx()) != 0) _exit(2);
  if (script.Call("HLoad", {script.Str("kill"), script.Str("kill.txt"), 1}) != 1) _exit(3);
  for (;;) {
    const Change c = Next(rng);
    script.ResetHeap();
    const cell pool = script.Str("kill"), key = script.Str(c.key);
    if (c.kind == 'i') script.Call("HInc", {pool, key, c.amount});
    if (c.kind == 'a') script.Call("HAdd", {pool, key, script.Str(c.text)});
    if (c.kind == 'd') script.Call("HDel", {pool, key});
    if (write(out, "", 1) != 1) _exit(4);
    if (c.save) script.Call("HSave", {pool});
  }
}

// The pool as a restart with its journal gives it; `loaded` tells whether
// HLoad said so.
Entries Recovered(bool* loaded) {
  LinkedPlugin plugin;
  Script script;
  plugin.AmxLoad(script.amx());
  *loaded = script.Call("HLoad", {script.Str("kill"), script.Str("kill.txt"), 1}) == 1;
  Entries entries;
  const CHashPool* pool = CHashPoolManager::Find("kill");
  for (auto* e = pool ? pool->Table().first() : nullptr; e; e = pool->Table().next(e)) {
    entries[e->key()] = e->value.c_str();
  }
  return entries;
}

int KillJournaled(int kills, std::mt19937& rng) {
  Entries told;
  long changes = 0, lost = 0;
  for (int i = 0; i < kills; ++i) {
    const unsigned seed = unsigned(rng());
    const long returned = KillAtRandom(rng, [seed](int out) { ChangeForever(out, seed); });
    std::mt19937 again(seed);
    bool saving = false;  // after the last change told of: that save may have happened
    for (long n = 0; n < returned; ++n) {
      if (saving) Saved(told);
      const Change c = Next(again);
      Apply(c, told);
      saving = c.save;
    }
    changes += returned;
    // The last save, and the next change after it, may have happened, or not.
    Entries saved = told;
    if (saving) Saved(saved);
    Entries withNext = saved;
    Apply(Next(again), withNext);
    bool loaded = false;
    const Entries recovered = Recovered(&loaded);
    auto same = [&](const Entries& expected, const std::string& key) {
      const auto want = expected.find(key);
      const auto got = recovered.find(key);
      if (want == expected.end() || got == recovered.end()) {
        return want == expected.end() && got == recovered.end();
      }
      return want->second == got->second;
    };
    Entries keys = withNext;
    keys.insert(told.begin(), told.end());
    keys.insert(recovered.begin(), recovered.end());
    for (const auto& key : keys) {
      const std::string& k = key.first;
      lost += !same(told, k) && !same(saved, k) && !same(withNext, k);
    }
    lost += !loaded;
    told = recovered;
  }
  std::printf("journal: %d kills, %ld changes told, %ld lost\n", kills, changes, lost);
  return lost == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const int kills = argc > 2 ? std::atoi(argv[2]) : 100;
  const unsigned seed =
      argc > 3 ? unsigned(std::strtoul(argv[3], nullptr, 10)) : std::random_device()();
  std::mt19937 rng(seed);
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/pairvault-kill-XXXXXX";
  if (!mkdtemp(&dir[0]) || chdir(dir.c_str()) != 0 || mkdir("scriptfiles", 0777) != 0) return 2;
  std::printf("seed %u\n", seed);
  int status = 2;
  if (mode == "saves") status = KillSaves(kills, rng);
  if (mode == "journal") status = KillJournaled(kills, rng);
  std::filesystem::remove_all(dir);
  if (status == 2) std::fprintf(stderr, "usage: kill_test saves|journal [KILLS [SEED]]\n");
  return status;
}
