// pvtool journal, and the journal's part of pvtool check.
#include <errno.h>

#include <cstdio>

#include "Commands.h"
#include "JournalCheck.h"
#include "JournalFormat.h"
#include "Output.h"

namespace {

typedef unsigned long long Count;

// Calls `visit` on each whole record; 0, or an errno.
template <typename Visit>
int Scan(const Loaded& l, Visit visit) {
  journal::Scanner in(l.journal.fd());
  if (const int error = in.Start()) return error;
  journal::Record r;
  while (in.Next(&r)) visit(r);
  return in.Error();
}

// Records, and changes among them (all but version records).
int CountRecords(const Loaded& l, Count* records, Count* changes) {
  *records = *changes = 0;
  if (l.journal.empty()) return 0;
  return Scan(l, [&](const journal::Record& r) {
    ++*records;
    if (r.kind != Journal::kVersion) ++*changes;
  });
}

void PrintVersion(const FileVersion& v, const FileVersion& file) {
  if (v.missing()) {
    std::fputs("version  no file", stdout);
  } else {
    std::printf("version  %llu bytes, CRC-32C %08X", static_cast<Count>(v.length), v.crc);
  }
  if (v == file) std::fputs("  = the file as it is", stdout);
}

void PrintRecord(const journal::Record& r, const FileVersion& file, bool applies) {
  std::printf("@%-8llu ", static_cast<Count>(r.offset));
  switch (r.kind) {
    case Journal::kVersion:
      PrintVersion(r.version, file);
      break;
    case Journal::kClear:
      std::fputs("clear", stdout);
      break;
    case Journal::kDelete:
      std::fputs("delete   ", stdout);
      PrintText(stdout, r.key, r.keyLen);
      break;
    default:
      std::fputs("set      ", stdout);
      PrintText(stdout, r.key, r.keyLen);
      std::fputc(' ', stdout);
      PrintText(stdout, r.value, r.valueLen);
  }
  if (applies) std::fputs("  *", stdout);
  std::fputc('\n', stdout);
}

}  // namespace

int ListJournal(const char* path) {
  Loaded l;
  if (const int status = LoadBoth(l, path)) return status;
  if (l.journalError == ENOENT) return Fail(l.journal.path(), "no journal");
  if (l.journalError) return Fail(l.journal.path(), JournalReason(l.journalError));
  Count records, changes;
  if (const int error = CountRecords(l, &records, &changes))
    return FailWith(l.journal.path(), error);
  std::printf("# %s: %llu records, %llu of them changes; %llu apply to %s as it is (*)\n",
              l.journal.path(), records, changes, static_cast<Count>(l.replayed.applied), path);
  // A load applies every change after the first record naming the file's
  // version: the last `applied` of them.
  Count change = 0;
  const FileVersion& file = l.file.Version();
  const int error = l.journal.empty() ? 0 : Scan(l, [&](const journal::Record& r) {
    const bool isChange = r.kind != Journal::kVersion;
    PrintRecord(r, file, isChange && change++ >= changes - l.replayed.applied);
  });
  if (error) return FailWith(l.journal.path(), error);
  NoteJournal(l, "# ");
  return kClean;
}

long CheckJournal(const Loaded& l) {
  if (l.journalError) return NoteJournal(l, "");
  Count records, changes;
  if (const int error = CountRecords(l, &records, &changes)) {
    FailWith(l.journal.path(), error);
    return 1;
  }
  std::printf("%s: %llu records, %llu of them changes; %llu apply to the file as it is",
              l.journal.path(), records, changes, static_cast<Count>(l.replayed.applied));
  std::puts(l.replayed.applied > 0 ? " (not saved yet: a journaled HLoad or pvtool fold saves them)"
                                   : "");
  long found = NoteJournal(l, "");
  for (auto* e = l.pool.Table().first(); e; e = l.pool.Table().next(e)) {
    if (CHashPool::Saves(*e) || !FromJournal(l, *e)) continue;
    ++found;
    std::printf("%s: key ", l.journal.path());
    PrintText(stdout, e->key(), e->keyLen);
    std::puts(" from the journal cannot be written as a pair of lines; a save leaves it out");
  }
  return found;
}
