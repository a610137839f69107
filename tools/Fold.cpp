// pvtool fold: the journal's changes saved into the file, as a journaled
// HLoad and an HSave would.
#include <errno.h>

#include <cstdio>

#include "Commands.h"
#include "FileStatus.h"
#include "Output.h"
#include "PoolAccess.h"

int Fold(const char* path) {
  char journal[Journal::kPathSize];
  if (!Journal::PathFor(path, journal, sizeof journal)) return FailWith(path, ENAMETOOLONG);
  struct stat st;
  if (PathStatus(journal, &st) != 0) {
    if (errno != ENOENT) return FailWith(journal, errno);
    std::printf("%s: no journal, nothing to fold\n", path);
    return kClean;
  }
  CHashPool pool("pvtool");
  int error = LoadFile(pool, path);
  if (error && error != ENOENT) return FailWith(path, error);
  error = pool.OpenJournal();
  if (error == EWOULDBLOCK) {
    return Fail(journal, "a server holds it (its pool is open); fold once the pool is closed");
  }
  if (error) return FailWith(journal, error);
  Journal::Replayed replayed;
  if ((error = pool.ReplayJournal(&replayed)) != 0) return FailWith(journal, error);
  const uint64_t dropped = replayed.stale ? 0 : replayed.size - replayed.whole;
  if (!pool.Save()) return FailWith(path, pool.FileError());
  std::printf("%s: %u %s saved with the changes of %s, which is now empty\n", path, pool.Count(),
              Entries(pool.Count()), journal);
  if (dropped > 0) {
    std::printf("%s: %llu bytes of a torn or corrupt end dropped\n", journal,
                static_cast<unsigned long long>(dropped));
  }
  if (pool.Unwritten() > 0) {
    std::printf("%s: %u %s not written (a key or value holds a line feed, or a key is empty)\n",
                path, pool.Unwritten(), Entries(pool.Unwritten()));
  }
  pool.CloseJournal(false);
  return kClean;
}
