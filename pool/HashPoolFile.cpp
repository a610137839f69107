// Pool files: a key line and a value line per entry, in iteration order.
#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FileReplacer.h"
#include "FileStatus.h"
#include "HashPool.h"

namespace {

const char kPrefix[] = "scriptfiles";
const size_t kPrefixLen = sizeof kPrefix - 1;
const size_t kMaxPath = 250;
const size_t kMaxField = 128;  // longer keys and values are cut when written

bool HasParentComponent(const char* path) {
  for (const char* p = path; (p = std::strstr(p, "..")) != nullptr; p += 2) {
    const bool starts = p == path || p[-1] == '/';
    const bool ends = p[2] == '\0' || p[2] == '/';
    if (starts && ends) return true;
  }
  return false;
}

// The reader takes lines apart at line feeds and drops a carriage return
// before one, so such texts could not come back; they are not written.
bool Writable(const char* text, size_t len) {
  return len > 0 && !std::memchr(text, '\n', len) && text[len - 1] != '\r';
}

size_t Cut(size_t len) { return len < kMaxField ? len : kMaxField; }

// Opens a regular file for reading without ever blocking: a pipe or device
// planted under the pool's name must not stall the server. Null, with errno
// set, on failure.
FILE* OpenRegularFile(const char* path) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  int error = DescriptorStatus(fd, &st) != 0 ? errno
              : S_ISDIR(st.st_mode)          ? EISDIR
              : !S_ISREG(st.st_mode)         ? EINVAL
                                             : 0;
  int blocking = 0;
  if (!error && ioctl(fd, FIONBIO, &blocking) != 0) error = errno;
  FILE* file = error ? nullptr : fdopen(fd, "r");
  if (!file) {
    if (!error) error = errno;
    close(fd);
    errno = error;
  }
  return file;
}

// One line without its line feed and a carriage return before it; the text
// ends at a zero byte, as keys and values cannot hold one. False at the end.
bool ReadLine(FILE* file, char*& buffer, size_t& capacity, size_t& len) {
  const ssize_t n = getline(&buffer, &capacity, file);
  if (n <= 0) return false;
  len = std::strlen(buffer);
  if (len == size_t(n) && len > 0 && buffer[len - 1] == '\n') {
    --len;
    if (len > 0 && buffer[len - 1] == '\r') --len;
  }
  buffer[len] = '\0';
  return true;
}

}  // namespace

void CHashPool::SetFileName(char const* name) {
  const bool underPrefix =
      std::strlen(name) > kPrefixLen && !std::strncmp(name, kPrefix, kPrefixLen);
  std::snprintf(m_szFileName, kMaxPath + 1, underPrefix ? "%s" : "scriptfiles/%s", name);
  if (HasParentComponent(m_szFileName)) m_szFileName[0] = '\0';
}

int CHashPool::FileFailed(int error) {
  m_iFileError = error;
  return 0;
}

int CHashPool::Save() {
  if (!m_szFileName[0]) return FileFailed(EINVAL);
  FileReplacer file;
  if (!file.Begin(m_szFileName)) return FileFailed(file.Error());
  m_Hash.for_each([&file](const Map::Entry& e) {
    const size_t keyLen = Cut(e.keyLen);
    const size_t valueLen = Cut(e.value.size());
    if (!Writable(e.key(), keyLen) || !Writable(e.value.c_str(), valueLen)) return;
    file.Append(e.key(), keyLen);
    file.Append("\n", 1);
    file.Append(e.value.c_str(), valueLen);
    file.Append("\n", 1);
  });
  return file.Commit() ? 1 : FileFailed(file.Error());
}

int CHashPool::Load() {
  if (!m_szFileName[0]) return FileFailed(EINVAL);
  FILE* file = OpenRegularFile(m_szFileName);
  if (!file) {
    const int error = errno;
    if (error != ENOENT) m_szFileName[0] = '\0';
    return FileFailed(error);
  }
  m_Hash.clear();

  char* key = nullptr;
  size_t keyCapacity = 0, keyLen = 0;
  char* value = nullptr;
  size_t valueCapacity = 0, valueLen = 0;
  int error = 0;
  for (;;) {
    errno = 0;
    if (!ReadLine(file, key, keyCapacity, keyLen)) break;
    if (keyLen == 0) continue;  // blank lines only where a key is expected
    if (!ReadLine(file, value, valueCapacity, valueLen)) break;
    if (!Set(key, keyLen, value, valueLen)) {
      error = ENOMEM;
      break;
    }
  }
  // A line that could not be read (no memory for it, a failing disk) ends
  // the loop before the end of the file, as a record that could not be
  // stored does.
  if (!error && !std::feof(file)) error = errno ? errno : EIO;
  std::free(key);
  std::free(value);
  std::fclose(file);
  if (!error) return 1;
  m_szFileName[0] = '\0';
  return FileFailed(error);
}
