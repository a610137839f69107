// pvtool show and check.
#include <cstdio>

#include "Commands.h"
#include "Output.h"
#include "PoolAccess.h"
#include "PoolFileCheck.h"

namespace {

// Not read yet: its records are about to carry the file version they apply to.
void NoteJournal(const char* path) {
  if (Journal::HasRecords(path)) {
    std::printf("# %s.journal: not yet read by this pvtool; its changes are not shown\n", path);
  }
}

}  // namespace

int Show(const char* path) {
  CHashPool pool("pvtool");
  if (const int error = LoadFile(pool, path)) return FailWith(path, error);
  std::printf("# %s: %u %s, in the order scripts walk them\n", path, pool.Count(),
              Entries(pool.Count()));
  for (auto* e = pool.Table().first(); e; e = pool.Table().next(e)) PrintEntry(*e, nullptr);
  NoteJournal(path);
  return kClean;
}

int Check(const char* path) {
  CHashPool pool("pvtool");
  if (const int error = LoadFile(pool, path)) return FailWith(path, error);
  const long found = CheckPoolFile(path, pool);
  if (found < 0) return kUnreadable;
  if (found == 0)
    std::printf("%s: %u %s; a save keeps them as they are\n", path, pool.Count(),
                Entries(pool.Count()));
  NoteJournal(path);
  return found > 0 ? kReported : kClean;
}
