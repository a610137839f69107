// The bytes of a journal: its mark, its records, and a scanner that reads
// them front to back without changing the file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "FileVersion.h"
#include "Journal.h"

namespace journal {

// "PVJOURN" and the format's number.
extern const unsigned char kMark[Journal::kHeaderSize];
const unsigned char kFormat = 1;
// The check, kind and lengths that start a record.
const size_t kMaxHead = 4 + 1 + 5 + 5;
// A version record's value.
const size_t kVersionSize = 12;

// Whether the file starts with the mark: 0, or an errno: EBADMSG when it
// does not, EPROTO when a newer format wrote it.
int CheckMark(int fd);
// The record's head, its check included; its length.
size_t Head(unsigned char* head, Journal::Kind kind, const char* key, uint32_t keyLen,
            const char* value, uint32_t valueLen);
void PutVersion(unsigned char* out, const FileVersion& version);

struct Record {
  Journal::Kind kind;
  const char* key;
  size_t keyLen;
  const char* value;
  size_t valueLen;
  uint64_t offset;      // of its first byte in the file
  FileVersion version;  // of a version record
};

class Scanner {
 public:
  explicit Scanner(int fd) : m_fd(fd) {}
  ~Scanner() { delete[] m_buffer; }
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  // Reads the mark: 0, or an errno as CheckMark gives it.
  int Start();
  // The next whole record, valid until the next call; false at the end of
  // the whole records, or when reading failed (Error).
  bool Next(Record* record);
  int Error() const { return m_error; }
  // The end of the last whole record read, and the file's size.
  uint64_t Whole() const { return m_offset + m_pos; }
  uint64_t Size() const { return m_end; }

 private:
  static const size_t kChunk = 1 << 20;

  uint64_t Left() const { return m_end - Whole(); }
  // At least `n` bytes at m_buffer + m_pos, which must not pass the end.
  int Need(size_t n);

  int m_fd;
  uint64_t m_end = 0;
  int m_error = 0;
  unsigned char* m_buffer = nullptr;
  size_t m_capacity = 0;
  size_t m_have = 0;      // bytes in the buffer
  size_t m_pos = 0;       // of the next record in the buffer
  uint64_t m_offset = 0;  // of the buffer's first byte in the file
};

}  // namespace journal
