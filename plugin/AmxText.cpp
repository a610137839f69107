#include "AmxText.h"

#include <new>

AmxText::AmxText(AmxText&& other) noexcept
    : m_heap(other.m_heap), m_len(other.m_len), m_ok(other.m_ok) {
  if (!m_heap) std::memcpy(m_inline, other.m_inline, m_len + 1);
  other.m_heap = nullptr;
  other.m_len = 0;
  other.m_inline[0] = '\0';
}

char* AmxText::ReserveSlowly(size_t len) {
  delete[] m_heap;
  m_heap = nullptr;
  if (len <= kInline) return Reserve(len);
  m_len = 0;
  m_heap = len < size_t(-1) ? new (std::nothrow) char[len + 1] : nullptr;
  if (!m_heap) {
    m_ok = false;
    return nullptr;
  }
  m_heap[0] = '\0';
  return m_heap;
}
