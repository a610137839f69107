// Pool files: a key line and a value line per entry, in iteration order.
#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
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

size_t Cut(size_t len) { return len < kMaxField ? len : kMaxField; }

// Nonzero when one of the word's bytes is a line feed.
uint64_t LineFeedIn(uint64_t word) {
  const uint64_t x = word ^ 0x0a0a0a0a0a0a0a0aull;
  return (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull;
}
uint32_t LineFeedIn(uint32_t word) {
  const uint32_t x = word ^ 0x0a0a0a0aU;
  return (x - 0x01010101U) & ~x & 0x80808080U;
}

// Copies sizeof(Word) bytes; nonzero when they hold a line feed.
template <typename Word>
uint64_t Move(char* to, const char* from) {
  Word word;
  std::memcpy(&word, from, sizeof word);
  std::memcpy(to, &word, sizeof word);
  return LineFeedIn(word);
}

// Copies a text of at least one byte; nonzero when it holds a line feed.
// Texts differ in length from entry to entry, so a copy that branches on the
// length at every few bytes mispredicts; whole words, the last ones
// overlapping, need few branches. Reads and writes only the text's bytes.
uint64_t CopyText(char* to, const char* from, size_t len) {
  if (len >= 8) {
    uint64_t lineFeed = 0;
    for (size_t i = 0; i + 8 < len; i += 8) lineFeed |= Move<uint64_t>(to + i, from + i);
    return lineFeed | Move<uint64_t>(to + len - 8, from + len - 8);
  }
  if (len >= 4) return Move<uint32_t>(to, from) | Move<uint32_t>(to + len - 4, from + len - 4);
  to[0] = from[0];
  to[len / 2] = from[len / 2];
  to[len - 1] = from[len - 1];
  return (from[0] == '\n') | (from[len / 2] == '\n') | (from[len - 1] == '\n');
}

// A key line and a value line, or nothing when either cut text is empty or
// could not come back: the reader takes lines apart at line feeds and drops a
// carriage return before one.
void AppendRecord(FileReplacer& file, const CHashPool::Map::Entry& e) {
  const size_t keyLen = Cut(e.keyLen);
  const size_t valueLen = Cut(e.value.size());
  if (keyLen == 0 || valueLen == 0) return;
  char* out = file.Space(2 * kMaxField + 2);
  if (!out) return;
  const char* key = e.key();
  const char* value = e.value.c_str();
  const uint64_t lineFeed =
      CopyText(out, key, keyLen) | CopyText(out + keyLen + 1, value, valueLen);
  if (lineFeed || key[keyLen - 1] == '\r' || value[valueLen - 1] == '\r') return;
  out[keyLen] = '\n';
  out[keyLen + 1 + valueLen] = '\n';
  file.Advance(keyLen + valueLen + 2);
}

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
  // A long value lives in a buffer of its own, away from its entry.
  m_Hash.for_each([&file](const Map::Entry& e) { AppendRecord(file, e); },
                  [](const Map::Entry& e) { __builtin_prefetch(e.value.c_str()); });
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
