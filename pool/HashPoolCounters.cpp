// Counters: signed decimal texts stepped in place with 32-bit wrapping
// arithmetic.
// Each map access below runs the table's growth check, so their number is
// part of what scripts can observe: two when starting or refusing, three when
// counting.
#include <algorithm>
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

// Exactly the texts the counter writes: an optional minus and digits.
bool IsCount(const char* text) {
  if (*text == '-') ++text;
  return *text != '\0' && IsNum(text);
}

// A count of any length; beyond the 32-bit range it reads as the nearer end.
int64_t ReadCount(const char* text) {
  const bool negative = *text == '-';
  const int64_t limit = negative ? 2147483648 : 2147483647;
  int64_t n = 0;
  for (text += negative; *text && n < limit; ++text) {
    n = std::min(n * 10 + (*text - '0'), limit);
  }
  return negative ? -n : n;
}

}  // namespace

int CHashPool::Inc(char const* key, unsigned int amount) { return Step(key, amount); }

// Subtracting a is adding -a modulo 2^32, so Dec(a) and Inc(-a) agree exactly.
int CHashPool::Dec(char const* key, int amount) { return Step(key, 0u - uint32_t(amount)); }

int CHashPool::Step(char const* key, unsigned int delta) {
  const size_t keyLen = std::strlen(key);
  Map::Entry* e = m_Hash.find_or_insert(key, keyLen);
  if (!e) return 0;
  char text[128] = {};
  if (e->value.empty()) {
    std::snprintf(text, sizeof text, "%i", int32_t(delta));
  } else {
    e = m_Hash.find_or_insert(key, keyLen);
    // Judged whole, not through a cut copy: a long text of digits still counts.
    if (!IsCount(e->value.c_str())) return 0;
    const uint32_t sum = uint32_t(ReadCount(e->value.c_str())) + delta;
    std::snprintf(text, sizeof text, "%i", int32_t(sum));
  }
  e = m_Hash.find_or_insert(key, keyLen);
  const size_t textLen = std::strlen(text);
  if (!e->value.assign(text, textLen)) return 0;
  if (m_pJournal) Record(Journal::kSet, key, keyLen, text, textLen);
  return 1;
}
