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
#include <poll.h>
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

#include "HashPool.h"
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

int KillSaves(int kills, std::mt19937& rng) {
  if (SaveVersions(0) != 1) return 2;
  int whole = 0, leftBehind = 0, afterNextSave = 0;
  for (int i = 0; i < kills; ++i) {
    const pid_t pid = fork();
    if (pid == 0) _exit(SaveVersions(~0u) ? 0 : 3);
    usleep(useconds_t(rng() % 40000));
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
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

// A script that counts on keys "c<n>" and stores texts under "t<n>", in a
// journaled pool, saving now and then. Before each change it tells what it
// is about to do, after it that it returned.
struct Change {
  char kind;  // 'i' count, 'a' store, 'd' delete; 'r' the last one returned
  uint32_t key;
  int32_t amount;
  std::string text;
};

// Odd numbers count, even ones hold texts.
std::string KeyName(const Change& c) { return (c.key % 2 ? "c" : "t") + std::to_string(c.key); }

void Apply(const Change& c, std::map<std::string, std::string>& entries) {
  const std::string key = KeyName(c);
  if (c.kind == 'i') {
    const auto it = entries.find(key);
    const int64_t n = (it == entries.end() ? 0 : std::atoll(it->second.c_str())) + c.amount;
    entries[key] = std::to_string(int32_t(uint32_t(uint64_t(n))));
  } else if (c.kind == 'a' && !c.text.empty()) {
    entries[key] = c.text;
  } else {
    entries.erase(key);  // an empty text is not saved either
  }
}

// One write each: a pipe takes it whole.
void Tell(int out, const Change& c) {
  char message[256];
  const int n = std::snprintf(message, sizeof message, "%c %u %d %zu ", c.kind, c.key, c.amount,
                              c.text.size());
  std::string bytes = std::string(message, size_t(n)) + c.text;
  if (write(out, bytes.data(), bytes.size()) != ssize_t(bytes.size())) _exit(4);
}

[[noreturn]] void ChangeForever(int out, unsigned seed) {
  std::mt19937 rng(seed);
  LinkedPlugin plugin;
  Script script;
  if (plugin.AmxLoad(script.amx()) != 0) _exit(2);
  if (script.Call("HLoad", {script.Str("kill"), script.Str("kill.txt"), 1}) != 1) _exit(3);
  for (;;) {
    script.ResetHeap();
    Change c{"iiad"[rng() % 4], uint32_t(rng() % 3000), int32_t(rng() % 2001) - 1000, ""};
    if (c.kind == 'a') {
      c.key &= ~1u;
      c.text.assign(rng() % 200, char('a' + rng() % 26));
      if (!c.text.empty() && rng() % 8 == 0) c.text[rng() % c.text.size()] = '\n';
    } else if (c.kind == 'i') {
      c.key |= 1;
    }
    Tell(out, c);
    const cell pool = script.Str("kill"), key = script.Str(KeyName(c));
    if (c.kind == 'i') script.Call("HInc", {pool, key, c.amount});
    if (c.kind == 'a') script.Call("HAdd", {pool, key, script.Str(c.text)});
    if (c.kind == 'd') script.Call("HDel", {pool, key});
    Tell(out, Change{'r', 0, 0, ""});
    if (rng() % 50000 == 0) script.Call("HSave", {pool});
  }
}

// What the changes told leave; the last one may not have returned.
struct Told {
  std::map<std::string, std::string> entries;
  long changes = 0;
};

// Reads what the child told; false at the end of the pipe.
bool Hear(int in, std::string& buffer, Told& told, Change& pending, bool& returned) {
  char chunk[65536];
  const ssize_t got = read(in, chunk, sizeof chunk);
  if (got <= 0) return false;
  buffer.append(chunk, size_t(got));
  for (;;) {
    char kind;
    unsigned key;
    int amount, used = 0;
    size_t length;
    if (std::sscanf(buffer.c_str(), "%c %u %d %zu%n", &kind, &key, &amount, &length, &used) < 4 ||
        buffer.size() < size_t(used) + 1 + length) {
      return true;
    }
    const Change c{kind, key, amount, buffer.substr(size_t(used) + 1, length)};
    buffer.erase(0, size_t(used) + 1 + length);
    if (c.kind == 'r') {
      Apply(pending, told.entries);
      ++told.changes;
      returned = true;
    } else {
      pending = c;
      returned = false;
    }
  }
}

// The pool as a restart with its journal gives it.
std::map<std::string, std::string> Recovered(long* count) {
  LinkedPlugin plugin;
  Script script;
  plugin.AmxLoad(script.amx());
  const cell pool = script.Str("kill");
  std::map<std::string, std::string> entries;
  if (script.Call("HLoad", {pool, script.Str("kill.txt"), 1}) != 1) return entries;
  *count = script.Call("HCount", {pool});
  for (long i = 0; i < *count; ++i) {
    script.ResetHeap();
    const cell name = script.Str("kill"), key = script.Array(256), value = script.Array(256);
    script.Call("HGetKey", {name, cell(i), key, 256});
    script.Call("HGetIndex", {name, cell(i), value, 256});
    entries[script.Text(key)] = script.Text(value);
  }
  return entries;
}

int KillJournaled(int kills, std::mt19937& rng) {
  Told told;
  long lost = 0;
  for (int i = 0; i < kills; ++i) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return 2;
    const unsigned seed = unsigned(rng());
    const pid_t pid = fork();
    if (pid == 0) {
      close(pipeFds[0]);
      ChangeForever(pipeFds[1], seed);
    }
    close(pipeFds[1]);
    std::string buffer;
    Change pending{'r', 0, 0, ""};
    bool returned = true;
    // Listening all the while, so that the child is never stopped by a full
    // pipe and the kill lands anywhere in its work.
    timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    const long wait = long(rng() % 40000);
    for (long elapsed = 0; elapsed < wait;) {
      pollfd ready{pipeFds[0], POLLIN, 0};
      if (poll(&ready, 1, 1) > 0 && !Hear(pipeFds[0], buffer, told, pending, returned)) break;
      clock_gettime(CLOCK_MONOTONIC, &now);
      elapsed = (now.tv_sec - start.tv_sec) * 1000000 + (now.tv_nsec - start.tv_nsec) / 1000;
    }
    kill(pid, SIGKILL);
    while (Hear(pipeFds[0], buffer, told, pending, returned)) {
    }
    close(pipeFds[0]);
    int status;
    waitpid(pid, &status, 0);

    long count = -1;
    const std::map<std::string, std::string> recovered = Recovered(&count);
    // A change whose native had not returned may or may not be there.
    std::map<std::string, std::string> withPending = told.entries;
    if (!returned) Apply(pending, withPending);
    auto same = [&](const std::map<std::string, std::string>& expected, const std::string& key) {
      const auto want = expected.find(key);
      const auto got = recovered.find(key);
      if (want == expected.end() || got == recovered.end()) {
        // A text with a line feed is not saved, and the journal empties at a save.
        return got == recovered.end() &&
               (want == expected.end() || want->second.find('\n') != std::string::npos);
      }
      return want->second == got->second;
    };
    std::map<std::string, std::string> keys = withPending;
    keys.insert(told.entries.begin(), told.entries.end());
    keys.insert(recovered.begin(), recovered.end());
    for (const auto& key : keys)
      lost += !same(told.entries, key.first) && !same(withPending, key.first);
    lost += count != long(recovered.size());
    told.entries = recovered;
  }
  std::printf("journal: %d kills, %ld changes told, %ld lost\n", kills, told.changes, lost);
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
