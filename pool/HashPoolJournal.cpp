// A pool's journal: every change reaches it before the native returns, and
// a load replays it onto the pool as the file gave it.
#include <errno.h>

#include <cstring>
#include <new>

#include "HashPool.h"

int CHashPool::OpenJournal() {
  if (m_eBinding != kBound) return EINVAL;
  if (m_pJournal) return 0;
  Journal* journal = new (std::nothrow) Journal;
  if (!journal) return ENOMEM;
  const int error = journal->Open(m_szFileName, m_version);
  if (error) {
    delete journal;
    return error;
  }
  m_pJournal = journal;
  return 0;
}

bool CHashPool::ApplyRecord(void* pool, Journal::Kind kind, const char* key, size_t keyLen,
                            const char* value, size_t valueLen) {
  CHashPool& p = *static_cast<CHashPool*>(pool);
  if (kind == Journal::kSet) return p.Set(key, keyLen, value, valueLen);
  if (kind == Journal::kDelete) {
    p.m_Hash.erase(key, keyLen);
  } else {
    p.m_Hash.clear();
  }
  return true;
}

int CHashPool::ReplayJournal(Journal::Replayed* out) {
  // Over a missing file the pool keeps its entries, which only the journal
  // can then hold.
  const bool kept = m_version.missing() && m_Hash.size() > 0;
  int error = m_pJournal->Replay(m_version, &CHashPool::ApplyRecord, this, out);
  if (!error && out->stale) error = m_pJournal->SetAside();
  if (!error && kept) return m_pJournal->Rewrite(m_Hash);
  if (!error && m_pJournal->Outgrown()) (void)m_pJournal->Rewrite(m_Hash);
  return error;
}

int CHashPool::ReadJournal(int fd, Journal::Replayed* out) {
  return Journal::Read(fd, m_version, &CHashPool::ApplyRecord, this, out);
}

void CHashPool::DropJournalUnlessKept(bool keep) {
  if (!m_pJournal) return;
  char path[Journal::kPathSize];
  const bool same = m_eBinding == kBound && Journal::PathFor(m_szFileName, path, sizeof path) &&
                    std::strcmp(path, m_pJournal->Path()) == 0;
  if (!keep || !same) {
    CloseJournal(true);
  } else if (m_pJournal->Error() != 0) {
    CloseJournal(false);  // its whole records are replayed when it opens again
  }
}

void CHashPool::CloseJournal(bool discard) {
  if (!m_pJournal) return;
  if (discard) m_pJournal->Discard();
  delete m_pJournal;
  m_pJournal = nullptr;
}

void CHashPool::Record(Journal::Kind kind, const char* key, size_t keyLen, const char* value,
                       size_t valueLen) {
  m_pJournal->Append(kind, key, keyLen, value, valueLen);
  if (m_pJournal->Outgrown()) (void)m_pJournal->Rewrite(m_Hash);
}
