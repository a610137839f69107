// A pool file and its journal as a journaled HLoad reads them, outside a
// server, changing neither.
#pragma once

#include "HashPool.h"

// The journal of a pool file, open for reading only: no lock is taken, so a
// server that opens its pool meanwhile is never turned away.
class JournalFile {
 public:
  JournalFile() = default;
  ~JournalFile();
  JournalFile(const JournalFile&) = delete;
  JournalFile& operator=(const JournalFile&) = delete;

  // 0, ENOENT when there is none, or an errno (ELOOP for a link, EINVAL for
  // something else than a file).
  int Open(const char* poolPath);
  int fd() const { return m_fd; }
  const char* path() const { return m_path; }
  // Zero bytes: a journal the plugin has just created, without records.
  bool empty() const { return m_empty; }

 private:
  char m_path[Journal::kPathSize] = {};
  int m_fd = -1;
  bool m_empty = false;
};

struct Loaded {
  CHashPool file{"file"};  // the file alone
  CHashPool pool{"pool"};  // the file and then the journal's records
  JournalFile journal;
  Journal::Replayed replayed;
  int journalError = 0;  // ENOENT when there is none; else why it was not read
};

// Loads the file into both pools and applies its journal onto `pool`. 0, or
// the exit status after the error line: the file cannot be read, or there is
// neither a file nor a journal.
int LoadBoth(Loaded& loaded, const char* path);
// Why the plugin cannot use a journal, for an errno that Journal gives.
const char* JournalReason(int error);
// Journals the plugin refuses to use, as opposed to ones it cannot read.
bool Refused(int error);
// One line each, after `prefix`, for a journal the plugin refuses, one made
// on another version of the file and a torn or corrupt end; how many.
int NoteJournal(const Loaded& loaded, const char* prefix);
// The entry of `pool` differs from the file's or is not in it.
bool FromJournal(const Loaded& loaded, const CHashPool::Map::Entry& e);
// "KEY" = "VALUE", then the mark if there is one.
void PrintEntry(const CHashPool::Map::Entry& e, const char* mark);
