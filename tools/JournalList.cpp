// pvtool journal.
#include "Commands.h"
#include "Journal.h"
#include "Output.h"

int ListJournal(const char* path) {
  char journal[Journal::kPathSize];
  if (!Journal::PathFor(path, journal, sizeof journal)) return Fail(path, "the path is too long");
  return Fail(journal, "not yet: listing journals waits for their versioned format");
}
