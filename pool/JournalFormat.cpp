#include "JournalFormat.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "Crc32c.h"
#include "FileStatus.h"

namespace journal {

const unsigned char kMark[Journal::kHeaderSize] = {'P', 'V', 'J', 'O', 'U', 'R', 'N', kFormat};

namespace {

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

uint64_t GetLittle(const unsigned char* in, int bytes) {
  uint64_t n = 0;
  for (int i = bytes - 1; i >= 0; --i) n = n << 8 | in[i];
  return n;
}

bool HasKey(Journal::Kind kind) { return kind != Journal::kClear; }
bool HasValue(Journal::Kind kind) { return kind == Journal::kSet || kind == Journal::kVersion; }

}  // namespace

size_t Head(unsigned char* head, Journal::Kind kind, const char* key, uint32_t keyLen,
            const char* value, uint32_t valueLen) {
  size_t n = 4;
  head[n++] = kind;
  if (HasKey(kind)) n += PutLength(head + n, keyLen);
  if (HasValue(kind)) n += PutLength(head + n, valueLen);
  uint32_t crc = Crc32c(0, head + 4, n - 4);
  crc = Crc32c(crc, key, keyLen);
  crc = Crc32c(crc, value, valueLen);
  for (int i = 0; i < 4; ++i) head[i] = static_cast<unsigned char>(crc >> (8 * i));
  return n;
}

void PutVersion(unsigned char* out, const FileVersion& version) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(version.length >> (8 * i));
  for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<unsigned char>(version.crc >> (8 * i));
}

int CheckMark(int fd) {
  unsigned char mark[Journal::kHeaderSize];
  ssize_t n;
  do {
    n = pread(fd, mark, sizeof mark, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno;
  if (size_t(n) < sizeof mark || std::memcmp(mark, kMark, sizeof mark - 1) != 0) return EBADMSG;
  return mark[sizeof mark - 1] == kFormat ? 0 : EPROTO;
}

int Scanner::Start() {
  struct stat st;
  if (DescriptorStatus(m_fd, &st) != 0) return m_error = errno;
  m_end = uint64_t(st.st_size);
  if ((m_error = CheckMark(m_fd)) != 0) return m_error;
  m_offset = Journal::kHeaderSize;  // the buffer starts after the mark
  return 0;
}

bool Scanner::Next(Record* r) {
  if (m_error) return false;
  const size_t head = Left() < kMaxHead ? size_t(Left()) : kMaxHead;
  if (head < 5) return false;
  if ((m_error = Need(head)) != 0) return false;
  const unsigned char* p = m_buffer + m_pos;
  const Journal::Kind kind = Journal::Kind(p[4]);
  if (kind != Journal::kSet && kind != Journal::kDelete && kind != Journal::kClear &&
      kind != Journal::kVersion)
    return false;
  size_t n = 5;
  uint32_t keyLen = 0, valueLen = 0;
  if (HasKey(kind) && !GetLength(p, head, n, keyLen)) return false;
  if (HasValue(kind) && !GetLength(p, head, n, valueLen)) return false;
  if (kind == Journal::kVersion && (keyLen != 0 || valueLen != kVersionSize)) return false;
  const uint64_t size = uint64_t(n) + keyLen + valueLen;
  if (size > Left()) return false;
  if ((m_error = Need(size_t(size))) != 0) return false;
  p = m_buffer + m_pos;
  if (Crc32c(0, p + 4, size_t(size) - 4) != uint32_t(GetLittle(p, 4))) return false;
  r->kind = kind;
  r->key = reinterpret_cast<const char*>(p + n);
  r->keyLen = keyLen;
  r->value = r->key + keyLen;
  r->valueLen = valueLen;
  r->offset = Whole();
  if (kind == Journal::kVersion) {
    r->version.length = GetLittle(p + n, 8);
    r->version.crc = uint32_t(GetLittle(p + n + 8, 4));
  }
  m_pos += size_t(size);
  return true;
}

int Scanner::Need(size_t n) {
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

}  // namespace journal
