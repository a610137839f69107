// Counters: decimal texts stepped in place with 32-bit wrapping arithmetic.
// Each map access below runs the table's growth check, so their number is
// part of what scripts can observe: two when starting or refusing, three when
// counting.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "HashPool.h"

bool IsNum(const char* text) {
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

namespace {

const uint32_t kLargestCount = 2147483647u;

// All digits of any length; anything above the largest count reads as it.
uint32_t ReadCount(const char* digits) {
  uint64_t n = 0;
  for (; *digits; ++digits) {
    n = n * 10 + uint64_t(*digits - '0');
    if (n > kLargestCount) return kLargestCount;
  }
  return uint32_t(n);
}

}  // namespace

int CHashPool::Inc(char const* key, unsigned int amount) { return Step(key, amount); }

// Subtracting a is adding -a modulo 2^32, so Dec(a) and Inc(-a) agree exactly.
int CHashPool::Dec(char const* key, int amount) { return Step(key, 0u - uint32_t(amount)); }

int CHashPool::Step(char const* key, unsigned int delta) {
  const size_t keyLen = std::strlen(key);
  const uint32_t hash = m_Hash.lookup_hash(key, keyLen);
  Map::Entry* e = m_Hash.find_or_insert(key, keyLen, hash);
  if (!e) return 0;
  char text[128] = {};
  if (e->value.empty()) {
    std::snprintf(text, sizeof text, "%i", int32_t(delta));
  } else {
    e = m_Hash.find_or_insert(key, keyLen, hash);
    // Judged whole, not through a cut copy: a long text of digits still counts.
    if (!IsNum(e->value.c_str())) return 0;
    const uint32_t sum = ReadCount(e->value.c_str()) + delta;
    std::snprintf(text, sizeof text, "%i", int32_t(sum));
  }
  e = m_Hash.find_or_insert(key, keyLen, hash);
  return e->value.assign(text, std::strlen(text)) ? 1 : 0;
}
