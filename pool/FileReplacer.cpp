#include "FileReplacer.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

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

}  // namespace

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

  m_buffer = new (std::nothrow) char[kFirstBuffer];
  if (!m_buffer) return Fail(ENOMEM);
  m_capacity = kFirstBuffer;

  const char* slash = std::strrchr(m_target, '/');
  const int directory = slash ? int(slash - m_target) + 1 : 0;
  // The target's mode from the start (the umask can only narrow it), so that
  // others never read the new version where they could not read the old one.
  const mode_t mode = exists ? (old.st_mode & 0777) : 0666;
  static unsigned int serial = 0;
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    // At most 200 bytes of the target's name: the temporary one must also
    // fit the 255 bytes a directory entry may have.
    const int written = std::snprintf(m_temp, sizeof m_temp, "%.*s.%.200s.tmp.%ld.%u", directory,
                                      m_target, m_target + directory, long(getpid()), serial++);
    if (written < 0 || size_t(written) >= sizeof m_temp) {
      error = ENAMETOOLONG;
      break;
    }
    m_fd = open(m_temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    error = m_fd < 0 ? errno : 0;
  }
  if (m_fd < 0) {
    m_temp[0] = '\0';  // not ours to remove
    return Fail(error);
  }
  if (exists) {
    (void)!fchown(m_fd, old.st_uid, old.st_gid);
    fchmod(m_fd, old.st_mode & 07777);
  }
  return true;
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
    p += n;
    m_used -= size_t(n);
  }
  return true;
}

bool FileReplacer::Commit() {
  if (m_fd < 0 || m_error != 0 || !Flush()) return false;
  const int closed = close(m_fd);
  m_fd = -1;
  if (closed != 0 || rename(m_temp, m_target) != 0) return Fail(errno);
  m_temp[0] = '\0';
  return true;
}
