// pvtool show and check.
#include <errno.h>

#include <cstdio>

#include "Commands.h"
#include "JournalCheck.h"
#include "Output.h"
#include "PoolAccess.h"
#include "PoolFileCheck.h"

namespace {

const char kMark[] = "[journal]";

}  // namespace

int Show(const char* path) {
  Loaded l;
  if (const int status = LoadBoth(l, path)) return status;
  const uint32_t count = l.pool.Count();
  std::printf("# %s: %u %s, in the order scripts walk them", path, count, Entries(count));
  if (l.replayed.applied > 0) std::printf("; %s marks what %s changed", kMark, l.journal.path());
  std::fputc('\n', stdout);
  for (auto* e = l.pool.Table().first(); e; e = l.pool.Table().next(e)) {
    PrintEntry(*e, FromJournal(l, *e) ? kMark : nullptr);
  }
  for (auto* e = l.file.Table().first(); e; e = l.file.Table().next(e)) {
    if (l.pool.Table().find(e->key(), e->keyLen)) continue;
    std::fputs("# deleted by the journal: ", stdout);
    PrintText(stdout, e->key(), e->keyLen);
    std::fputc('\n', stdout);
  }
  NoteJournal(l, "# ");
  return kClean;
}

int Check(const char* path) {
  Loaded l;
  if (const int status = LoadBoth(l, path)) return status;
  long found = 0;
  if (l.file.FileError() != ENOENT) {
    found = CheckPoolFile(path, l.file);
    if (found < 0) return kUnreadable;
    if (found == 0) {
      std::printf("%s: %u %s; a save writes them back as they are\n", path, l.file.Count(),
                  Entries(l.file.Count()));
    }
  } else {
    std::printf("%s: no file; a journaled HLoad starts from an empty pool\n", path);
  }
  if (l.journalError != ENOENT) found += CheckJournal(l);
  return found > 0 ? kReported : kClean;
}
