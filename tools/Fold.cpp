// pvtool fold: the journal's changes saved into the file, as a journaled
// HLoad and an HSave would, with the plugin's own code.
#include <errno.h>

#include <cstdio>
#include <cstring>

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
  if (!pool.BindPath(path)) return Fail(path, "not a pool file's path, or too long for one");
  if (!pool.Load() && pool.FileError() != ENOENT) return FailWith(path, pool.FileError());
  // The lock the plugin holds: no server can open the pool while this runs.
  int error = pool.OpenJournal();
  Journal::Replayed replayed;
  if (!error) error = pool.ReplayJournal(&replayed);
  if (error) {
    return Fail(journal, Refused(error) || error == EWOULDBLOCK ? JournalReason(error)
                                                                : std::strerror(error));
  }
  if (replayed.stale) {
    std::printf(
        "%s: made on another version of %s and set aside as %s, as a journaled HLoad does; "
        "nothing folded\n",
        journal, path, pool.GetJournal()->AsidePath());
    pool.CloseJournal(false);
    return kReported;
  }
  if (replayed.whole < replayed.size) {
    std::printf("%s:@%llu: %llu bytes of a torn or corrupt record dropped\n", journal,
                static_cast<unsigned long long>(replayed.whole),
                static_cast<unsigned long long>(replayed.size - replayed.whole));
  }
  if (!pool.Save()) return FailWith(path, pool.FileError());
  std::printf("%s: %u %s saved, %llu changes folded in from %s, which is now empty\n", path,
              pool.Count(), Entries(pool.Count()),
              static_cast<unsigned long long>(replayed.applied), journal);
  if (pool.Unwritten() > 0) {
    std::printf("%s: %u %s not written (a key or value holds a line feed, or a key is empty)\n",
                path, pool.Unwritten(), Entries(pool.Unwritten()));
  }
  pool.CloseJournal(false);
  return kClean;
}
