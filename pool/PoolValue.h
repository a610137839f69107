// The text stored under a pool key. Short texts, the usual counters and
// names, live inside the entry itself; longer ones get a buffer of their
// own. Never throws: without memory for a new text, the old one stays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class PoolValue {
 public:
  PoolValue() noexcept { m_bytes[0] = '\0'; }
  ~PoolValue() { release(); }
  PoolValue(const PoolValue&) = delete;
  PoolValue& operator=(const PoolValue&) = delete;

  const char* c_str() const { return onHeap() ? heap().text : m_bytes; }
  uint32_t size() const { return m_len; }
  bool empty() const { return m_len == 0; }

  // False, with the old text kept, when memory runs out.
  bool assign(const char* text, size_t len) noexcept;

 private:
  static const size_t kInline = 15;  // characters kept without a buffer

  // A longer text's buffer sits in the bytes a short text would use, copied
  // in and out so that the value stays 4-aligned: 20 bytes, which lets a
  // table entry with a short key fit a 64-byte heap block (48 on i386).
  struct Heap {
    char* text;
    uint32_t capacity;
  };
  bool onHeap() const { return m_len > kInline; }
  Heap heap() const {
    Heap h;
    std::memcpy(&h, m_bytes, sizeof h);
    return h;
  }
  void setHeap(const Heap& h) { std::memcpy(m_bytes, &h, sizeof h); }
  void release() noexcept;

  uint32_t m_len = 0;  // the text is inline exactly while this is at most kInline
  char m_bytes[kInline + 1];
  static_assert(sizeof(Heap) <= kInline + 1, "a buffer's pointer fits the inline bytes");
};
