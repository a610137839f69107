// The text stored under a pool key. Never throws: without memory for a new
// text, the old one stays.
#pragma once

#include <cstddef>
#include <cstdint>

class PoolValue {
 public:
  PoolValue() noexcept = default;
  ~PoolValue();
  PoolValue(const PoolValue&) = delete;
  PoolValue& operator=(const PoolValue&) = delete;

  const char* c_str() const { return m_data ? m_data : ""; }
  uint32_t size() const { return m_len; }
  bool empty() const { return m_len == 0; }

  // False, with the old text kept, when memory runs out.
  bool assign(const char* text, size_t len) noexcept;

 private:
  char* m_data = nullptr;
  uint32_t m_len = 0;
  uint32_t m_capacity = 0;
};
