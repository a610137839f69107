// A byte string owned by a native call: a text read from a script, or a copy
// of a pool's text taken before the host is called. Names, keys and the usual
// values fit inside the object and cost no allocation.
#pragma once

#include <cstddef>
#include <cstring>

class AmxText {
 public:
  AmxText() { m_inline[0] = '\0'; }
  ~AmxText() { delete[] m_heap; }
  AmxText(AmxText&& other) noexcept;
  AmxText(const AmxText&) = delete;
  AmxText& operator=(const AmxText&) = delete;
  AmxText& operator=(AmxText&&) = delete;

  // Room for `len` characters and a terminator, emptied; null, and the text
  // marked as lost, when memory runs out.
  char* Reserve(size_t len) {
    if (len > kInline || m_heap) return ReserveSlowly(len);
    m_len = 0;
    m_inline[0] = '\0';
    return m_inline;
  }
  // The first `len` characters of `text`; false when memory runs out.
  bool Assign(const char* text, size_t len) {
    char* room = Reserve(len);
    if (!room) return false;
    std::memcpy(room, text, len);
    room[len] = '\0';
    m_len = len;
    return true;
  }
  // After writing into Reserve's room: the text ends at its first zero byte.
  void Terminated() { m_len = std::strlen(c_str()); }

  const char* c_str() const { return m_heap ? m_heap : m_inline; }
  size_t size() const { return m_len; }
  // False when the text could not be held for want of memory.
  bool ok() const { return m_ok; }

  // Characters held without an allocation.
  static const size_t kInline = 255;

 private:
  char* ReserveSlowly(size_t len);

  char m_inline[kInline + 1];
  char* m_heap = nullptr;
  size_t m_len = 0;
  bool m_ok = true;
};
