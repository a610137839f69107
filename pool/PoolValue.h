// The text stored under a pool key. Short texts, the usual counters and
// names, live inside the entry itself; longer ones get a buffer of their
// own. Never throws: without memory for a new text, the old one stays.
#pragma once

#include <cstddef>
#include <cstdint>

class PoolValue {
 public:
  PoolValue() noexcept { m_inline[0] = '\0'; }
  ~PoolValue() { release(); }
  PoolValue(const PoolValue&) = delete;
  PoolValue& operator=(const PoolValue&) = delete;

  const char* c_str() const { return m_capacity ? m_heap : m_inline; }
  uint32_t size() const { return m_len; }
  bool empty() const { return m_len == 0; }

  // False, with the old text kept, when memory runs out.
  bool assign(const char* text, size_t len) noexcept;

 private:
  static const size_t kInline = 15;  // characters kept without a buffer

  void release() noexcept;

  uint32_t m_len = 0;
  uint32_t m_capacity = 0;  // of m_heap; 0 while the text is inline
  union {
    char* m_heap;
    char m_inline[kInline + 1];
  };
};
