#include "PoolFileReader.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "Crc32c.h"
#include "FileStatus.h"

PoolFileReader::~PoolFileReader() {
  std::free(m_keyBuffer);
  std::free(m_valueBuffer);
  if (m_file) std::fclose(m_file);
}

int PoolFileReader::Open(const char* path) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st;
  int error = DescriptorStatus(fd, &st) != 0 ? errno
              : S_ISDIR(st.st_mode)          ? EISDIR
              : !S_ISREG(st.st_mode)         ? EINVAL
                                             : 0;
  int blocking = 0;
  if (!error && ioctl(fd, FIONBIO, &blocking) != 0) error = errno;
  if (!error) m_file = fdopen(fd, "r");
  if (!m_file) {
    if (!error) error = errno;
    close(fd);
  }
  if (!error) m_version.length = 0;
  return error;
}

// A CR LF file converted to CR LF once more has two carriage returns; keys
// and values cannot hold a zero byte.
bool PoolFileReader::ReadLine(char*& buffer, size_t& capacity, Line& line) {
  errno = 0;
  const ssize_t n = getline(&buffer, &capacity, m_file);
  if (n <= 0) {
    // A line that could not be read (no memory for it, a failing disk)
    // ends the file early.
    if (!std::feof(m_file)) m_error = errno ? errno : EIO;
    return false;
  }
  size_t len = size_t(n);
  m_version.length += len;
  m_version.crc = Crc32c(m_version.crc, buffer, len);
  line.lineFeed = buffer[len - 1] == '\n';
  if (line.lineFeed) --len;
  line.returns = 0;
  for (; len > 0 && buffer[len - 1] == '\r'; --len) ++line.returns;
  buffer[len] = '\0';
  line.len = std::strlen(buffer);
  line.cutAtZero = line.len < len;
  line.text = buffer;
  line.number = ++m_lines;
  return true;
}

bool PoolFileReader::Next() {
  if (!m_file) return false;
  m_dangling = false;
  do {
    if (!ReadLine(m_keyBuffer, m_keyCapacity, m_key)) return false;
  } while (m_key.len == 0);
  m_dangling = !ReadLine(m_valueBuffer, m_valueCapacity, m_value) && m_error == 0;
  return !m_dangling && m_error == 0;
}
