#include "Journal.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "FileReplacer.h"
#include "FileStatus.h"
#include "JournalFormat.h"
#include "JournalSyncer.h"

namespace {

// Writes every byte or says why not: a short write is retried for the
// errno of what stopped it (ENOSPC, or EFBIG past a file size limit).
int WriteAt(int fd, iovec* parts, int count, uint64_t at) {
  while (count > 0) {
    const ssize_t n = pwritev(fd, parts, count, off_t(at));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    at += uint64_t(n);
    for (size_t left = size_t(n); left > 0 || (count > 0 && parts->iov_len == 0);) {
      const size_t taken = left < parts->iov_len ? left : parts->iov_len;
      parts->iov_base = static_cast<char*>(parts->iov_base) + taken;
      parts->iov_len -= taken;
      left -= taken;
      if (parts->iov_len == 0) ++parts, --count;
    }
  }
  return 0;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_ino == b.st_ino && a.st_dev == b.st_dev;
}

// The version record that ties what follows to a version of the pool file.
struct VersionRecord {
  unsigned char bytes[journal::kMaxHead + journal::kVersionSize];
  size_t size = 0;  // none until named

  VersionRecord() = default;
  explicit VersionRecord(const FileVersion& version) { Name(version); }
  void Name(const FileVersion& version) {
    unsigned char value[journal::kVersionSize];
    journal::PutVersion(value, version);
    size = journal::Head(bytes, Journal::kVersion, "", 0, reinterpret_cast<char*>(value),
                         sizeof value);
    std::memcpy(bytes + size, value, sizeof value);
    size += sizeof value;
  }
};

}  // namespace

Journal::~Journal() { Hold(-1); }

// The syncer keeps a descriptor of its own for each file the journal holds.
void Journal::Hold(int fd) {
  JournalSyncer::Forget(m_slot);
  m_slot = nullptr;
  if (m_fd >= 0) close(m_fd);
  m_fd = fd;
  if (fd >= 0) m_slot = JournalSyncer::Watch(fd, m_path);
}

bool Journal::PathFor(const char* poolPath, char* path, size_t size) {
  const int n = std::snprintf(path, size, "%s.journal", poolPath);
  return n > 0 && size_t(n) < size;
}

bool Journal::HasRecords(const char* poolPath) {
  char path[kPathSize];
  struct stat st;
  return PathFor(poolPath, path, sizeof path) && PathStatus(path, &st) == 0 &&
         S_ISREG(st.st_mode) && uint64_t(st.st_size) > kHeaderSize;
}

// The records after the first one naming `file` apply to it; a journal
// started on another version holds changes that do not, unless a later save
// of the same pool wrote `file`.
int Journal::Read(int fd, const FileVersion& file, Apply apply, void* context, Replayed* out) {
  *out = Replayed();
  journal::Scanner in(fd);
  if (const int error = in.Start()) return error;
  bool live = false, changes = false;
  journal::Record r;
  while (in.Next(&r)) {
    if (r.kind == kVersion) {
      // The pool held what that version holds when it was written, so the
      // records before it are in the file.
      if (r.version == file) live = true;
      continue;
    }
    changes = true;
    if (!live) continue;
    if (!apply(context, r.kind, r.key, r.keyLen, r.value, r.valueLen)) return ENOMEM;
    ++out->applied;
  }
  if (in.Error()) return in.Error();
  out->whole = in.Whole();
  out->size = in.Size();
  out->stale = !live && changes;
  return 0;
}

int Journal::Open(const char* poolPath, const FileVersion& file) {
  if (!PathFor(poolPath, m_path, sizeof m_path)) return ENAMETOOLONG;
  m_file = file;
  SetBound(file.missing() ? 0 : file.length);
  struct stat pool;
  m_mode = PathStatus(poolPath, &pool) == 0 ? (pool.st_mode & 0777) | 0600 : 0666;
  return OpenPath();
}

int Journal::OpenPath() {
  for (int attempt = 0; attempt < 3; ++attempt) {
    // Not through a link: the journal is the pool's own, beside its file.
    const int fd = open(m_path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, m_mode);
    if (fd < 0) return errno;
    struct stat held, named;
    int error = DescriptorStatus(fd, &held) != 0 ? errno
                : !S_ISREG(held.st_mode)         ? EINVAL
                : held.st_nlink > 1              ? EMLINK
                                                 : 0;
    // Where the file system keeps no locks, nothing can tell owners apart.
    if (!error && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) error = EWOULDBLOCK;
    // A rewrite may have put a new journal under the name since it opened.
    if (!error && (PathStatus(m_path, &named) != 0 || !SameFile(named, held))) error = EAGAIN;
    if (!error) error = Start(fd, held);
    if (!error) {
      Hold(fd);
      return 0;
    }
    close(fd);
    if (error != EAGAIN) return error;
  }
  return EAGAIN;
}

// An empty file, as one that was just created, gets the mark; anything else
// must start with it, or it is not ours to write.
int Journal::Start(int fd, const struct stat& held) {
  if (held.st_size == 0) {
    iovec mark = {const_cast<unsigned char*>(journal::kMark), kHeaderSize};
    if (const int error = WriteAt(fd, &mark, 1, 0)) {
      (void)!ftruncate(fd, 0);
      return error;
    }
    // Its name too, or a power cut loses the records that follow.
    if (fdatasync(fd) != 0) return errno;
    FileReplacer::SyncDirectory(m_path);
    m_size = kHeaderSize;
    return 0;
  }
  m_size = uint64_t(held.st_size);  // until a replay finds its whole records
  return journal::CheckMark(fd);
}

int Journal::Replay(const FileVersion& file, Apply apply, void* context, Replayed* out) {
  // A journal kept over a load may have been made on the version before it.
  m_file = file;
  SetBound(file.missing() ? 0 : file.length);
  if (const int error = Read(m_fd, file, apply, context, out)) return error;
  if (out->stale) return 0;
  // With nothing to apply, what it holds is in the file already, and new
  // records must not follow a version record of another file.
  if (!Cut(out->applied > 0 ? out->whole : kHeaderSize)) return errno;
  return 0;
}

bool Journal::Cut(uint64_t size) {
  struct stat st;
  if (DescriptorStatus(m_fd, &st) != 0) return false;
  if (uint64_t(st.st_size) != size && ftruncate(m_fd, off_t(size)) != 0) return false;
  m_size = size;
  return true;
}

int Journal::SetAside() {
  struct stat held;
  if (DescriptorStatus(m_fd, &held) != 0) return errno;
  int error = EEXIST;
  for (int n = 0; n < 1000 && error == EEXIST; ++n) {
    const int written = n == 0 ? std::snprintf(m_aside, sizeof m_aside, "%s.stale", m_path)
                               : std::snprintf(m_aside, sizeof m_aside, "%s.stale.%d", m_path, n);
    if (written < 0 || size_t(written) >= sizeof m_aside) return ENAMETOOLONG;
    // A link never replaces a file that is there; where there are none,
    // a rename into a free name nearly never does.
    error = link(m_path, m_aside) == 0 ? 0 : errno;
    if (error == EPERM || error == EOPNOTSUPP) {
      struct stat there;
      error = PathStatus(m_aside, &there) == 0 ? EEXIST : rename(m_path, m_aside) == 0 ? 0 : errno;
    }
  }
  if (error) return error;
  if (HoldsName()) unlink(m_path);
  FileReplacer::SyncDirectory(m_path);
  Hold(-1);
  error = OpenPath();
  if (error) return error;
  // Another server may have started one there since: it is not ours to take.
  return m_size == kHeaderSize ? 0 : EAGAIN;
}

bool Journal::HoldsName() const {
  struct stat held, named;
  return m_fd >= 0 && DescriptorStatus(m_fd, &held) == 0 && PathStatus(m_path, &named) == 0 &&
         SameFile(held, named);
}

void Journal::Append(Kind kind, const char* key, size_t keyLen, const char* value,
                     size_t valueLen) {
  if (m_fd < 0 || m_error != 0) return;
  if (const int failed = JournalSyncer::TakeFailure(m_slot)) return Stop(failed);
  if (keyLen > UINT32_MAX || valueLen > UINT32_MAX) return Stop(EFBIG);
  // The first change after the mark names the file version it applies to.
  VersionRecord base;
  if (m_size == kHeaderSize) base.Name(m_file);
  unsigned char head[journal::kMaxHead];
  iovec parts[4] = {
      {base.bytes, base.size},
      {head, journal::Head(head, kind, key, uint32_t(keyLen), value, uint32_t(valueLen))},
      {const_cast<char*>(key), keyLen},
      {const_cast<char*>(value), valueLen}};
  const uint64_t size = base.size + parts[1].iov_len + keyLen + valueLen;
  // At the end of the whole records: after a replay, a rewrite or a save
  // the descriptor's own offset may be elsewhere.
  const int error = WriteAt(m_fd, parts + (base.size ? 0 : 1), base.size ? 4 : 3, m_size);
  if (!error) {
    m_size += size;
    JournalSyncer::Appended(m_slot);
    return;
  }
  // Replay would end at the torn record anyway; cut it all the same.
  (void)!ftruncate(m_fd, off_t(m_size));
  Stop(error);
}

int Journal::Rewrite(const StringHashTable<PoolValue>& table) {
  if (m_fd < 0) return EBADF;
  FileReplacer file;
  auto put = [&file](Kind kind, const char* key, size_t keyLen, const char* value,
                     size_t valueLen) {
    unsigned char head[journal::kMaxHead];
    file.Append(reinterpret_cast<const char*>(head),
                journal::Head(head, kind, key, uint32_t(keyLen), value, uint32_t(valueLen)));
    file.Append(key, keyLen);
    file.Append(value, valueLen);
  };
  if (file.BeginOwn(m_path, m_mode)) {
    const VersionRecord base(m_file);
    file.Append(reinterpret_cast<const char*>(journal::kMark), kHeaderSize);
    file.Append(reinterpret_cast<const char*>(base.bytes), base.size);
    put(kClear, "", 0, "", 0);
    table.for_each(
        [&put](const StringHashTable<PoolValue>::Entry& e) {
          if (!e.value.empty()) put(kSet, e.key(), e.keyLen, e.value.c_str(), e.value.size());
        },
        [](const StringHashTable<PoolValue>::Entry& e) { __builtin_prefetch(e.value.c_str()); });
    const int fd = file.CommitKeepingOpen();
    if (fd >= 0) {
      Hold(fd);
      m_size = file.Written();
      m_error = 0;
      m_reported = false;
      const uint64_t fileSize = m_file.missing() ? 0 : m_file.length;
      SetBound(fileSize > m_size ? fileSize : m_size);
      return 0;
    }
  }
  // Tried again once the journal has doubled.
  m_bound = 2 * m_size;
  return file.Error() ? file.Error() : EIO;
}

void Journal::Saving(const FileVersion& version) {
  if (m_fd < 0 || m_error != 0 || m_size == kHeaderSize) return;
  VersionRecord mark(version);
  iovec part = {mark.bytes, mark.size};
  // Without it the save still goes on: its file holds every change, and a
  // load then sets the journal aside instead of applying it twice.
  if (WriteAt(m_fd, &part, 1, m_size) != 0 || fdatasync(m_fd) != 0) {
    (void)!ftruncate(m_fd, off_t(m_size));
    return;
  }
  m_size += mark.size;
}

void Journal::Empty(const FileVersion& version) {
  m_file = version;
  if (m_fd < 0) return;
  SetBound(version.length);
  // The save holds what any failed sync may have lost.
  (void)JournalSyncer::TakeFailure(m_slot);
  if (Cut(kHeaderSize) && fdatasync(m_fd) == 0) {
    m_error = 0;
    m_reported = false;
    return;
  }
  // What it holds is on top of the old version: taking more would give a
  // journal that no load can apply.
  Stop(errno);
}

bool Journal::StoppedJustNow() {
  if (m_error == 0 || m_reported) return false;
  m_reported = true;
  return true;
}

void Journal::Discard() {
  if (HoldsName()) unlink(m_path);
  Hold(-1);
}

void Journal::Stop(int error) {
  m_error = error;
  m_reported = false;
}

void Journal::SetBound(uint64_t size) { m_bound = 2 * size > kLeastBound ? 2 * size : kLeastBound; }
