// Kills a process at random moments of its work on a pool, again and again,
// and checks what it left behind.
//   kill_test saves [KILLS [SEED]]   a process saving a pool over and over:
//                                    the file must always be one whole
//                                    version, and after the next save no
//                                    temporary file may be left.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "HashPool.h"

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
  std::filesystem::remove_all(dir);
  if (status == 2) std::fprintf(stderr, "usage: kill_test saves [KILLS [SEED]]\n");
  return status;
}
