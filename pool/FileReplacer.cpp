#include "FileReplacer.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "Crc32c.h"
#include "FileStatus.h"

namespace {

// A link to the target is kept a link: the file at its end gets replaced.
bool ResolveLinks(char* path, size_t size) {
  for (int hops = 0; hops < 40; ++hops) {
    char link[PATH_MAX];
    const ssize_t n = readlink(path, link, sizeof link - 1);
    if (n < 0) return true;  // not a link, or nothing there yet
    link[n] = '\0';
    const char* slash = std::strrchr(path, '/');
    const size_t keep = link[0] == '/' || !slash ? 0 : size_t(slash - path) + 1;
    if (keep + size_t(n) >= size) {
      errno = ENAMETOOLONG;
      return false;
    }
    std::memcpy(path + keep, link, size_t(n) + 1);
  }
  errno = ELOOP;
  return false;
}

// A temporary file nobody holds the lock of was left by a save that crashed.
// It is removed only while locked and still under its name: a file made
// there since belongs to a live writer.
void RemoveIfAbandoned(const char* path) {
  const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat held, named;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0 && DescriptorStatus(fd, &held) == 0 &&
      S_ISREG(held.st_mode) && PathStatus(path, &named) == 0 && held.st_ino == named.st_ino &&
      held.st_dev == named.st_dev) {
    unlink(path);
  }
  close(fd);
}

}  // namespace

void FileReplacer::SyncDirectory(const char* target) {
  const char* slash = std::strrchr(target, '/');
  char name[PATH_MAX] = ".";
  if (slash)
    std::snprintf(name, sizeof name, "%.*s", int(slash - target) + (slash == target), target);
  const int fd = open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // Failing here loses nothing that was whole: after a power cut the old
  // name or the new one is there.
  (void)fsync(fd);
  close(fd);
}

FileReplacer::~FileReplacer() {
  if (m_fd >= 0) close(m_fd);
  if (m_temp[0]) unlink(m_temp);
  delete[] m_buffer;
}

bool FileReplacer::Fail(int error) {
  m_error = error;
  return false;
}

bool FileReplacer::Begin(const char* target) {
  if (std::strlen(target) >= sizeof m_target) return Fail(ENAMETOOLONG);
  std::strcpy(m_target, target);
  if (!ResolveLinks(m_target, sizeof m_target)) return Fail(errno);

  struct stat old;
  const bool exists = PathStatus(m_target, &old) == 0;
  if (exists && S_ISDIR(old.st_mode)) return Fail(EISDIR);
  if (exists && !S_ISREG(old.st_mode)) return Fail(EINVAL);
  // Where opening the file itself for writing would fail, rename must not
  // replace it.
  if (exists && faccessat(AT_FDCWD, m_target, W_OK, AT_EACCESS) != 0) return Fail(errno);

  // The target's mode from the start (the umask can only narrow it), so that
  // others never read the new version where they could not read the old one.
  if (!Start(exists ? (old.st_mode & 0777) : 0666)) return false;
  if (exists) {
    (void)!fchown(m_fd, old.st_uid, old.st_gid);
    fchmod(m_fd, old.st_mode & 07777);
  }
  return true;
}

bool FileReplacer::BeginOwn(const char* target, mode_t mode) {
  if (std::strlen(target) >= sizeof m_target) return Fail(ENAMETOOLONG);
  std::strcpy(m_target, target);
  return Start(mode);
}

bool FileReplacer::Start(mode_t mode) {
  m_buffer = new (std::nothrow) char[kFirstBuffer];
  if (!m_buffer) return Fail(ENOMEM);
  m_capacity = kFirstBuffer;
  const char* slash = std::strrchr(m_target, '/');
  return CreateTemporary(slash ? int(slash - m_target) + 1 : 0, mode);
}

// ".NAME.tmp.N" for the small numbers, then names no other process makes.
bool FileReplacer::TemporaryName(int directory, int attempt) {
  static unsigned int serial = 0;
  // At most 200 bytes of the target's name: the temporary one must also fit
  // the 255 bytes a directory entry may have.
  const char* base = m_target + directory;
  const int written = attempt < kSlots
                          ? std::snprintf(m_temp, sizeof m_temp, "%.*s.%.200s.tmp.%d", directory,
                                          m_target, base, attempt)
                          : std::snprintf(m_temp, sizeof m_temp, "%.*s.%.200s.tmp.%ld.%u",
                                          directory, m_target, base, long(getpid()), serial++);
  return written >= 0 && size_t(written) < sizeof m_temp;
}

bool FileReplacer::CreateTemporary(int directory, mode_t mode) {
  for (int slot = 0; slot < kSlots; ++slot) {
    if (TemporaryName(directory, slot)) RemoveIfAbandoned(m_temp);
  }
  int error = EEXIST;
  for (int attempt = 0; attempt < kSlots + 100 && m_fd < 0 && error == EEXIST; ++attempt) {
    if (!TemporaryName(directory, attempt)) {
      error = ENAMETOOLONG;
      break;
    }
    m_fd = open(m_temp, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (m_fd < 0) {
      error = errno;
      continue;
    }
    // Another save may have taken it for abandoned between its creation and
    // the lock, and removed it. Elsewhere the lock fails only on file systems
    // that keep none.
    struct stat st;
    const bool locked = flock(m_fd, LOCK_EX | LOCK_NB) == 0;
    const bool taken =
        locked ? DescriptorStatus(m_fd, &st) != 0 || st.st_nlink == 0 : errno == EWOULDBLOCK;
    if (taken) {
      close(m_fd);
      m_fd = -1;
    }
  }
  if (m_fd >= 0) return true;
  m_temp[0] = '\0';  // not ours to remove
  return Fail(error);
}

char* FileReplacer::SpaceAfterFlush() {
  if (m_error != 0 || !Flush()) return nullptr;
  Grow();
  return m_buffer;
}

// Without memory for the larger buffer the first one goes on.
void FileReplacer::Grow() {
  if (m_capacity == kLargeBuffer) return;
  char* larger = new (std::nothrow) char[kLargeBuffer];
  if (!larger) return;
  delete[] m_buffer;
  m_buffer = larger;
  m_capacity = kLargeBuffer;
}

bool FileReplacer::Flush() {
  const char* p = m_buffer;
  while (m_used > 0) {
    const ssize_t n = write(m_fd, p, m_used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(n < 0 ? errno : ENOSPC);
    m_crc = Crc32c(m_crc, p, size_t(n));
    p += n;
    m_used -= size_t(n);
    m_written += uint64_t(n);
  }
  return true;
}

void FileReplacer::Append(const char* bytes, size_t len) {
  while (len > 0) {
    char* out = Space(1);
    if (!out) return;
    const size_t n = len < m_capacity - m_used ? len : m_capacity - m_used;
    std::memcpy(out, bytes, n);
    Advance(n);
    bytes += n;
    len -= n;
  }
}

bool FileReplacer::Commit() {
  const int fd = CommitKeepingOpen();
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool FileReplacer::Sync() {
  if (m_fd < 0 || m_error != 0) return false;
  if (m_synced) return true;
  if (!Flush()) return false;
  if (fdatasync(m_fd) != 0) return Fail(errno);
  m_synced = true;
  return true;
}

FileVersion FileReplacer::Version() const {
  FileVersion v;
  v.length = m_written;
  v.crc = m_crc;
  return v;
}

int FileReplacer::CommitKeepingOpen() {
  if (!Sync()) return -1;
  if (rename(m_temp, m_target) != 0) {
    Fail(errno);
    return -1;
  }
  m_temp[0] = '\0';
  // Only after the data: otherwise some file systems write the rename first,
  // and a power cut leaves an empty file.
  SyncDirectory(m_target);
  // Closed only now: the lock keeps the file from being taken for abandoned
  // until its name is gone.
  const int fd = m_fd;
  m_fd = -1;
  return fd;
}
