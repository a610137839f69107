#include "Data.h"

#include <malloc.h>

#include <map>
#include <random>
#include <unordered_set>

namespace {

std::vector<std::string> Make(size_t n, size_t minLen, size_t maxLen, uint32_t seed, bool unique) {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
  std::mt19937 rng(seed);
  std::vector<std::string> out;
  std::unordered_set<std::string> seen;
  while (out.size() < n) {
    std::string s(minLen + rng() % (maxLen - minLen + 1), ' ');
    for (char& c : s) c = kAlphabet[rng() % (sizeof kAlphabet - 1)];
    if (unique && !seen.insert(s).second) continue;
    out.push_back(s);
  }
  return out;
}

}  // namespace

const std::vector<std::string>& Keys(size_t n) {
  static std::map<size_t, std::vector<std::string>> cache;
  auto& keys = cache[n];
  if (keys.empty()) keys = Make(n, 8, 32, 1, true);
  return keys;
}

const std::vector<std::string>& Values(size_t n) {
  static std::map<size_t, std::vector<std::string>> cache;
  auto& values = cache[n];
  if (values.empty()) values = Make(n, 4, 16, 2, false);
  return values;
}

size_t HeapInUse() { return mallinfo2().uordblks; }
