#include "Journal.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "FileReplacer.h"
#include "FileStatus.h"

namespace {

// CRC-32C (Castagnoli), eight bytes a step.
struct CrcTables {
  uint32_t t[8][256];
};

constexpr CrcTables MakeCrcTables() {
  CrcTables c{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int k = 0; k < 8; ++k) crc = crc & 1 ? (crc >> 1) ^ 0x82F63B78u : crc >> 1;
    c.t[0][i] = crc;
  }
  for (int j = 1; j < 8; ++j) {
    for (uint32_t i = 0; i < 256; ++i)
      c.t[j][i] = (c.t[j - 1][i] >> 8) ^ c.t[0][c.t[j - 1][i] & 0xFF];
  }
  return c;
}

constexpr CrcTables kCrc = MakeCrcTables();

uint32_t Crc32c(uint32_t crc, const void* data, size_t len) {
  const auto& t = kCrc.t;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (; len >= 8; p += 8, len -= 8) {
    uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + 4, 4);
    lo ^= crc;
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
  }
  for (; len > 0; ++p, --len) crc = (crc >> 8) ^ t[0][(crc ^ *p) & 0xFF];
  return ~crc;
}

// The check, kind and lengths that start a record.
const size_t kMaxHead = 4 + 1 + 5 + 5;

size_t PutLength(unsigned char* out, uint32_t n) {
  size_t i = 0;
  for (; n >= 0x80; n >>= 7) out[i++] = static_cast<unsigned char>(n | 0x80);
  out[i++] = static_cast<unsigned char>(n);
  return i;
}

// False when the bytes end before the length does or it does not fit 32 bits.
bool GetLength(const unsigned char* in, size_t available, size_t& at, uint32_t& n) {
  n = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    if (at >= available) return false;
    const unsigned char byte = in[at++];
    if (shift == 28 && byte > 0x0F) return false;
    n |= uint32_t(byte & 0x7F) << shift;
    if (!(byte & 0x80)) return true;
  }
  return false;
}

// The record's head, its check included; its length.
size_t Head(unsigned char* head, Journal::Kind kind, const char* key, uint32_t keyLen,
            const char* value, uint32_t valueLen) {
  size_t n = 4;
  head[n++] = kind;
  if (kind != Journal::kClear) n += PutLength(head + n, keyLen);
  if (kind == Journal::kSet) n += PutLength(head + n, valueLen);
  uint32_t crc = Crc32c(0, head + 4, n - 4);
  crc = Crc32c(crc, key, keyLen);
  crc = Crc32c(crc, value, valueLen);
  for (int i = 0; i < 4; ++i) head[i] = static_cast<unsigned char>(crc >> (8 * i));
  return n;
}

// Reads a file front to back through a buffer that grows for long records.
class Reader {
 public:
  Reader(int fd, uint64_t end) : m_fd(fd), m_end(end) {}
  ~Reader() { delete[] m_buffer; }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  uint64_t offset() const { return m_offset + m_pos; }
  uint64_t left() const { return m_end - offset(); }
  const unsigned char* at() const { return m_buffer + m_pos; }
  void Skip(size_t n) { m_pos += n; }

  // At least `n` bytes at at(), which must not pass the end; 0 or an errno.
  int Need(size_t n) {
    const size_t kept = m_have - m_pos;
    if (kept >= n) return 0;
    if (n > m_capacity) {
      const size_t capacity = n > kChunk ? n : kChunk;
      unsigned char* larger = new (std::nothrow) unsigned char[capacity];
      if (!larger) return ENOMEM;
      if (kept > 0) std::memcpy(larger, m_buffer + m_pos, kept);
      delete[] m_buffer;
      m_buffer = larger;
      m_capacity = capacity;
    } else if (kept > 0) {
      std::memmove(m_buffer, m_buffer + m_pos, kept);
    }
    m_offset += m_pos;
    m_have = kept;
    m_pos = 0;
    while (m_have < n) {
      const ssize_t got =
          pread(m_fd, m_buffer + m_have, m_capacity - m_have, off_t(m_offset + m_have));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return got < 0 ? errno : EIO;
      m_have += size_t(got);
    }
    return 0;
  }

 private:
  static const size_t kChunk = 1 << 20;

  int m_fd;
  uint64_t m_end;
  unsigned char* m_buffer = nullptr;
  size_t m_capacity = 0;
  size_t m_have = 0;      // bytes in the buffer
  size_t m_pos = 0;       // of the next record in the buffer
  uint64_t m_offset = 0;  // of the buffer's first byte in the file
};

}  // namespace

Journal::~Journal() {
  if (m_fd >= 0) close(m_fd);
}

bool Journal::PathFor(const char* poolPath, char* path, size_t size) {
  const int n = std::snprintf(path, size, "%s.journal", poolPath);
  return n > 0 && size_t(n) < size;
}

bool Journal::HasRecords(const char* poolPath) {
  char path[kPathSize];
  struct stat st;
  return PathFor(poolPath, path, sizeof path) && PathStatus(path, &st) == 0 &&
         S_ISREG(st.st_mode) && st.st_size > 0;
}

int Journal::Open(const char* poolPath) {
  if (!PathFor(poolPath, m_path, sizeof m_path)) return ENAMETOOLONG;
  struct stat pool;
  const bool exists = PathStatus(poolPath, &pool) == 0;
  m_fileSize = exists ? uint64_t(pool.st_size) : 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    // Not through a link: the journal is the pool's own, beside its file.
    const int fd = open(m_path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                        exists ? pool.st_mode & 0777 : 0666);
    if (fd < 0) return errno;
    struct stat held, named;
    int error = DescriptorStatus(fd, &held) != 0 ? errno : S_ISREG(held.st_mode) ? 0 : EINVAL;
    // Where the file system keeps no locks, nothing can tell owners apart.
    if (!error && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) error = EWOULDBLOCK;
    if (error) {
      close(fd);
      return error;
    }
    // A rewrite may have put a new journal under the name since it opened.
    if (PathStatus(m_path, &named) == 0 && named.st_ino == held.st_ino &&
        named.st_dev == held.st_dev) {
      m_fd = fd;
      m_size = uint64_t(held.st_size);
      SetBound(m_fileSize);
      return 0;
    }
    close(fd);
  }
  return EAGAIN;
}

int Journal::Replay(Apply apply, void* context, uint64_t* dropped) {
  *dropped = 0;
  struct stat st;
  if (DescriptorStatus(m_fd, &st) != 0) return errno;
  const uint64_t end = uint64_t(st.st_size);
  Reader in(m_fd, end);
  for (;;) {
    const size_t head = in.left() < kMaxHead ? size_t(in.left()) : kMaxHead;
    if (head < 5) break;
    if (const int error = in.Need(head)) return error;
    const unsigned char* p = in.at();
    const Kind kind = Kind(p[4]);
    if (kind != kSet && kind != kDelete && kind != kClear) break;
    size_t n = 5;
    uint32_t keyLen = 0, valueLen = 0;
    if (kind != kClear && !GetLength(p, head, n, keyLen)) break;
    if (kind == kSet && !GetLength(p, head, n, valueLen)) break;
    const uint64_t size = uint64_t(n) + keyLen + valueLen;
    if (size > in.left()) break;
    if (const int error = in.Need(size_t(size))) return error;
    p = in.at();
    const char* key = reinterpret_cast<const char*>(p + n);
    const uint32_t check =
        uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    if (Crc32c(0, p + 4, size_t(size) - 4) != check) break;
    if (!apply(context, kind, key, keyLen, key + keyLen, valueLen)) return ENOMEM;
    in.Skip(size_t(size));
  }
  m_size = in.offset();
  *dropped = end - m_size;
  if (*dropped > 0 && ftruncate(m_fd, off_t(m_size)) != 0) return errno;
  SetBound(m_fileSize);  // a journal grown past it is rewritten now
  return 0;
}

void Journal::Append(Kind kind, const char* key, size_t keyLen, const char* value,
                     size_t valueLen) {
  if (m_fd < 0 || m_error != 0) return;
  if (keyLen > UINT32_MAX || valueLen > UINT32_MAX) return Stop(EFBIG);
  unsigned char head[kMaxHead];
  iovec parts[3] = {{head, Head(head, kind, key, uint32_t(keyLen), value, uint32_t(valueLen))},
                    {const_cast<char*>(key), keyLen},
                    {const_cast<char*>(value), valueLen}};
  const size_t size = parts[0].iov_len + keyLen + valueLen;
  // At the end of the whole records: after a replay, a rewrite or a save
  // the descriptor's own offset may be elsewhere.
  ssize_t n;
  do {
    n = pwritev(m_fd, parts, 3, off_t(m_size));
  } while (n < 0 && errno == EINTR);
  if (n == ssize_t(size)) {
    m_size += size;
    return;
  }
  const int error = n < 0 ? errno : ENOSPC;
  // Replay would end at the torn record anyway; cut it all the same.
  if (n > 0) (void)!ftruncate(m_fd, off_t(m_size));
  Stop(error);
}

void Journal::Rewrite(const StringHashTable<PoolValue>& table) {
  if (m_fd < 0 || m_error != 0) return;
  FileReplacer file;
  auto put = [&file](Kind kind, const char* key, size_t keyLen, const char* value,
                     size_t valueLen) {
    unsigned char head[kMaxHead];
    file.Append(reinterpret_cast<const char*>(head),
                Head(head, kind, key, uint32_t(keyLen), value, uint32_t(valueLen)));
    file.Append(key, keyLen);
    file.Append(value, valueLen);
  };
  if (file.Begin(m_path)) {
    put(kClear, "", 0, "", 0);
    table.for_each(
        [&put](const StringHashTable<PoolValue>::Entry& e) {
          if (!e.value.empty()) put(kSet, e.key(), e.keyLen, e.value.c_str(), e.value.size());
        },
        [](const StringHashTable<PoolValue>::Entry& e) { __builtin_prefetch(e.value.c_str()); });
    const int fd = file.CommitKeepingOpen();
    if (fd >= 0) {
      close(m_fd);
      m_fd = fd;
      m_size = file.Written();
      SetBound(m_fileSize > m_size ? m_fileSize : m_size);
      return;
    }
  }
  // Tried again once the journal has doubled.
  m_bound = 2 * m_size;
}

void Journal::Empty(uint64_t fileSize) {
  if (m_fd < 0) return;
  m_fileSize = fileSize;
  if (ftruncate(m_fd, 0) == 0) {
    m_size = 0;
    m_error = 0;
    m_reported = false;
    SetBound(fileSize);
    return;
  }
  // The file holds what the records say now: replayed onto it later, they
  // would undo newer changes. Without the journal they cannot.
  const int error = errno;
  unlink(m_path);
  close(m_fd);
  m_fd = -1;
  Stop(error);
}

bool Journal::StoppedJustNow() {
  if (m_error == 0 || m_reported) return false;
  m_reported = true;
  return true;
}

void Journal::Discard() {
  unlink(m_path);
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

void Journal::Stop(int error) {
  m_error = error;
  m_reported = false;
}

void Journal::SetBound(uint64_t size) { m_bound = 2 * size > kLeastBound ? 2 * size : kLeastBound; }
