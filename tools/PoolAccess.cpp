#include "PoolAccess.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "FileStatus.h"
#include "Output.h"

JournalFile::~JournalFile() {
  if (m_fd >= 0) close(m_fd);
}

int JournalFile::Open(const char* poolPath) {
  if (!Journal::PathFor(poolPath, m_path, sizeof m_path)) return ENAMETOOLONG;
  // As the plugin: never through a link, never stalled by a pipe.
  m_fd = open(m_path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (m_fd < 0) return errno;
  struct stat st;
  if (DescriptorStatus(m_fd, &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  if (st.st_nlink > 1) return EMLINK;
  m_empty = st.st_size == 0;
  return 0;
}

namespace {

int Bind(CHashPool& pool, const char* path) {
  if (pool.BindPath(path)) return 0;
  if (pool.FileBinding() == CHashPool::kReserved) {
    return Fail(path,
                "one of the plugin's own files (a journal, a journal set aside or a "
                "save's temporary file); give the pool file's path");
  }
  return FailWith(path, ENAMETOOLONG);
}

}  // namespace

int LoadBoth(Loaded& l, const char* path) {
  if (const int status = Bind(l.file, path)) return status;
  if (const int status = Bind(l.pool, path)) return status;
  const bool read = l.file.Load() && l.pool.Load();
  const int error = read ? 0 : l.file.FileError() ? l.file.FileError() : l.pool.FileError();
  if (error && error != ENOENT) return FailWith(path, error);
  l.journalError = l.journal.Open(path);
  if (error == ENOENT && l.journalError == ENOENT) return FailWith(path, ENOENT);
  if (!l.journalError && !l.journal.empty()) {
    l.journalError = l.pool.ReadJournal(l.journal.fd(), &l.replayed);
  }
  if (l.journalError && l.journalError != ENOENT && !Refused(l.journalError)) {
    return FailWith(l.journal.path(), l.journalError);
  }
  return 0;
}

const char* JournalReason(int error) {
  switch (error) {
    case EBADMSG:
      return "not a journal: it does not start with the journal mark";
    case EPROTO:
      return "written in a newer journal format than this pvtool reads";
    case EMLINK:
      return "it has other hard links";
    case ELOOP:
      return "a symbolic link, not a journal";
    case EINVAL:
      return "not a regular file";
    case EWOULDBLOCK:
      return "a server holds it: its pool is open";
    default:
      return std::strerror(error);
  }
}

bool Refused(int error) {
  return error == EBADMSG || error == EPROTO || error == EMLINK || error == ELOOP ||
         error == EINVAL;
}

int NoteJournal(const Loaded& l, const char* prefix) {
  const char* journal = l.journal.path();
  if (l.journalError == ENOENT) return 0;
  if (l.journalError) {
    std::printf("%s%s: %s; a journaled HLoad loads the file alone and does not journal\n", prefix,
                journal, JournalReason(l.journalError));
    return 1;
  }
  int noted = 0;
  if (l.replayed.stale) {
    std::printf(
        "%s%s: made on another version of the file; a journaled HLoad applies none of it and "
        "sets it aside as %s.stale\n",
        prefix, journal, journal);
    ++noted;
  }
  if (l.replayed.whole < l.replayed.size) {
    std::printf(
        "%s%s:@%llu: %llu bytes of a torn or corrupt record; a journaled HLoad drops them\n",
        prefix, journal, static_cast<unsigned long long>(l.replayed.whole),
        static_cast<unsigned long long>(l.replayed.size - l.replayed.whole));
    ++noted;
  }
  return noted;
}

bool FromJournal(const Loaded& l, const CHashPool::Map::Entry& e) {
  const auto* before = l.file.Table().find(e.key(), e.keyLen);
  return !before || before->value.size() != e.value.size() ||
         std::memcmp(before->value.c_str(), e.value.c_str(), e.value.size()) != 0;
}

void PrintEntry(const CHashPool::Map::Entry& e, const char* mark) {
  PrintText(stdout, e.key(), e.keyLen);
  std::fputs(" = ", stdout);
  PrintText(stdout, e.value.c_str(), e.value.size());
  if (mark) std::printf("  %s", mark);
  std::fputc('\n', stdout);
}
