#include "FileReplacer.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// A link to the target is kept a link: the file at its end gets replaced.
bool ResolveLinks(std::string& path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    char link[4096];
    const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
    if (n < 0) return false;
    link[n] = '\0';
    const size_t slash = path.rfind('/');
    path = (link[0] == '/' || slash == std::string::npos) ? std::string(link)
                                                          : path.substr(0, slash + 1) + link;
  }
  return false;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

FileReplacer::~FileReplacer() {
  if (m_fd >= 0) close(m_fd);
  if (!m_temp.empty()) unlink(m_temp.c_str());
}

bool FileReplacer::Begin(const char* target) {
  m_target = target;
  if (!ResolveLinks(m_target)) return false;

  struct stat old;
  const bool exists = stat(m_target.c_str(), &old) == 0;
  if (exists &&
      (!S_ISREG(old.st_mode) || faccessat(AT_FDCWD, m_target.c_str(), W_OK, AT_EACCESS) != 0)) {
    return false;  // where opening the file itself for writing would fail
  }

  m_buffer.reset(new (std::nothrow) char[kBufferSize]);
  if (!m_buffer) return false;

  static unsigned int serial = 0;
  for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".tmp.%ld.%u", long(getpid()), serial++);
    // At most 200 bytes of the target's name: the temporary one must also
    // fit the 255 bytes a directory entry may have.
    const std::string base = m_target.substr(DirectoryOf(m_target).size(), 200);
    m_temp = DirectoryOf(m_target) + "." + base + suffix;
    // 0666 lets the umask decide, as it would for a file created in place.
    m_fd = open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd < 0 && errno != EEXIST) break;
  }
  if (m_fd < 0) {
    m_temp.clear();  // not ours to remove
    return false;
  }
  if (exists) {
    (void)!fchown(m_fd, old.st_uid, old.st_gid);
    fchmod(m_fd, old.st_mode & 07777);
  }
  return true;
}

void FileReplacer::AppendLarge(const char* data, size_t len) {
  while (len > 0 && !m_failed) {
    if (m_used == kBufferSize && !Flush()) return;
    const size_t chunk = std::min(len, kBufferSize - m_used);
    std::memcpy(m_buffer.get() + m_used, data, chunk);
    m_used += chunk;
    data += chunk;
    len -= chunk;
  }
}

bool FileReplacer::Flush() {
  const char* p = m_buffer.get();
  while (m_used > 0) {
    const ssize_t n = write(m_fd, p, m_used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      m_failed = true;
      return false;
    }
    p += n;
    m_used -= size_t(n);
  }
  return true;
}

bool FileReplacer::Commit() {
  if (m_fd < 0 || m_failed || !Flush()) return false;
  const int closed = close(m_fd);
  m_fd = -1;
  if (closed != 0 || rename(m_temp.c_str(), m_target.c_str()) != 0) return false;
  m_temp.clear();
  return true;
}
