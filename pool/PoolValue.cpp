#include "PoolValue.h"

#include <cstring>
#include <new>

void PoolValue::release() noexcept {
  if (onHeap()) delete[] heap().text;
  m_len = 0;
  m_bytes[0] = '\0';
}

bool PoolValue::assign(const char* text, size_t len) noexcept {
  if (len >= UINT32_MAX) return false;
  // The text may be this value's own, so it is copied before anything is freed.
  if (len <= kInline) {
    char copy[kInline + 1];
    std::memcpy(copy, text, len);
    release();
    std::memcpy(m_bytes, copy, len);
    m_bytes[len] = '\0';
  } else if (onHeap() && heap().capacity > len && heap().capacity / 2 <= len + 1) {
    // Counters rewrite texts of nearly the same length: reuse the buffer
    // while it is not more than twice what is needed.
    std::memmove(heap().text, text, len);
    heap().text[len] = '\0';
  } else {
    char* fresh = new (std::nothrow) char[len + 1];
    if (!fresh) return false;
    std::memcpy(fresh, text, len);
    fresh[len] = '\0';
    release();
    setHeap(Heap{fresh, uint32_t(len + 1)});
  }
  m_len = uint32_t(len);
  return true;
}
