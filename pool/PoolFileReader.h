// Reads a pool file the way a load does, line pair by line pair, and tells
// what each line lost on the way, so that a tool can say what a load keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "FileVersion.h"

class PoolFileReader {
 public:
  // A line as the pool gets it: without its line feed and the carriage
  // returns before its end, and ending at a zero byte.
  struct Line {
    const char* text = "";
    size_t len = 0;
    uint64_t number = 0;     // from 1
    uint32_t returns = 0;    // carriage returns taken off its end
    bool cutAtZero = false;  // a zero byte ended the text early
    bool lineFeed = false;   // false for a last line without one
  };

  PoolFileReader() = default;
  ~PoolFileReader();
  PoolFileReader(const PoolFileReader&) = delete;
  PoolFileReader& operator=(const PoolFileReader&) = delete;

  // A regular file, opened without ever blocking: a pipe or device planted
  // under the pool's name must not stall the server. 0, or an errno.
  int Open(const char* path);
  // The next key line and the value line after it; blank lines where a key
  // is expected are passed over. False at the end or on a failure.
  bool Next();
  const Line& Key() const { return m_key; }
  const Line& Value() const { return m_value; }
  // After Next returned false: 0 at the end of the file, else an errno.
  int Error() const { return m_error; }
  // After the end: a key line the file ended before the value of, or null.
  const Line* Dangling() const { return m_dangling ? &m_key : nullptr; }
  // Lines read so far.
  uint64_t Lines() const { return m_lines; }
  // The bytes read so far; after the end, the file's version.
  const FileVersion& Version() const { return m_version; }

 private:
  bool ReadLine(char*& buffer, size_t& capacity, Line& line);

  std::FILE* m_file = nullptr;
  char* m_keyBuffer = nullptr;
  size_t m_keyCapacity = 0;
  char* m_valueBuffer = nullptr;
  size_t m_valueCapacity = 0;
  Line m_key, m_value;
  uint64_t m_lines = 0;
  FileVersion m_version;
  int m_error = 0;
  bool m_dangling = false;
};
