#include "PoolValue.h"

#include <cstring>
#include <new>

PoolValue::~PoolValue() { ::operator delete(m_data); }

bool PoolValue::assign(const char* text, size_t len) noexcept {
  if (len == 0) {
    ::operator delete(m_data);
    m_data = nullptr;
    m_len = m_capacity = 0;
    return true;
  }
  if (len >= UINT32_MAX) return false;
  const size_t needed = len + 1;
  // Reuse the buffer when it fits and wastes no more than the text's own size:
  // counters rewrite texts of nearly the same length again and again.
  if (needed > m_capacity || m_capacity / 2 > needed) {
    char* fresh = static_cast<char*>(::operator new(needed, std::nothrow));
    if (!fresh) return false;
    std::memcpy(fresh, text, len);  // before the free: the text may be our own
    ::operator delete(m_data);
    m_data = fresh;
    m_capacity = static_cast<uint32_t>(needed);
  } else {
    std::memmove(m_data, text, len);
  }
  m_data[len] = '\0';
  m_len = static_cast<uint32_t>(len);
  return true;
}
