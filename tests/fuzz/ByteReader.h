// Reads a fuzz input front to back, one choice at a time, so that a seed is
// easy to write and a mutation of one byte changes one choice. Past the end
// every read gives zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  bool empty() const { return m_used >= m_size; }
  uint8_t Byte() { return empty() ? 0 : m_data[m_used++]; }
  // One of `count` choices.
  int Pick(int count) { return Byte() % count; }
  uint32_t U32() {
    uint32_t n = 0;
    for (int i = 0; i < 4; ++i) n |= uint32_t(Byte()) << (8 * i);
    return n;
  }
  // A length byte (taken modulo most + 1), then that many bytes.
  std::string Text(size_t most) {
    const size_t length = Byte() % (most + 1);
    std::string text;
    for (size_t i = 0; i < length && !empty(); ++i) text += char(Byte());
    return text;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_used = 0;
};
