#include "AmxText.h"

#include <cstring>
#include <new>

AmxText::AmxText(AmxText&& other) noexcept
    : m_heap(other.m_heap), m_len(other.m_len), m_ok(other.m_ok) {
  if (!m_heap) std::memcpy(m_inline, other.m_inline, m_len + 1);
  other.m_heap = nullptr;
  other.m_len = 0;
  other.m_inline[0] = '\0';
}

char* AmxText::Reserve(size_t len) {
  delete[] m_heap;
  m_heap = nullptr;
  m_len = 0;
  m_inline[0] = '\0';
  if (len <= kInline) return m_inline;
  m_heap = len < size_t(-1) ? new (std::nothrow) char[len + 1] : nullptr;
  if (!m_heap) {
    m_ok = false;
    return nullptr;
  }
  m_heap[0] = '\0';
  return m_heap;
}

bool AmxText::Assign(const char* text, size_t len) {
  char* room = Reserve(len);
  if (!room) return false;
  std::memcpy(room, text, len);
  room[len] = '\0';
  m_len = len;
  return true;
}

void AmxText::Terminated() { m_len = std::strlen(c_str()); }
