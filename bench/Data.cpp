#include "Data.h"

#include <malloc.h>

#include <algorithm>
#include <map>
#include <random>
#include <unordered_set>
#include <utility>

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

std::vector<std::string> Numbered(const std::string& prefix, size_t n) {
  std::vector<std::string> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) out.push_back(prefix + std::to_string(i));
  return out;
}

std::vector<std::string> InRandomOrder(std::vector<std::string> keys) {
  std::shuffle(keys.begin(), keys.end(), std::mt19937(3));
  return keys;
}

typedef std::map<std::pair<KeySet, size_t>, std::vector<std::string>> Cache;

}  // namespace

const char* Label(KeySet set) {
  switch (set) {
    case KeySet::Random:
      return "random";
    case KeySet::Ids:
      return "ids";
    case KeySet::Users:
      return "user";
  }
  return "?";
}

const std::vector<std::string>& Keys(KeySet set, size_t n) {
  static Cache cache;
  auto& keys = cache[{set, n}];
  if (keys.empty()) {
    keys = set == KeySet::Random ? Make(n, 8, 32, 1, true)
                                 : Numbered(set == KeySet::Ids ? "" : "user_", n);
  }
  return keys;
}

const std::vector<std::string>& Keys(size_t n) { return Keys(KeySet::Random, n); }

const std::vector<std::string>& Shuffled(KeySet set, size_t n) {
  static Cache cache;
  auto& keys = cache[{set, n}];
  if (keys.empty()) keys = InRandomOrder(Keys(set, n));
  return keys;
}

const std::vector<std::string>& Missing(KeySet set, size_t n) {
  static Cache cache;
  auto& keys = cache[{set, n}];
  if (keys.empty()) {
    const auto& twice = Keys(set, 2 * n);
    keys = InRandomOrder(std::vector<std::string>(twice.begin() + n, twice.end()));
  }
  return keys;
}

const std::vector<std::string>& Values(size_t n) {
  static std::map<size_t, std::vector<std::string>> cache;
  auto& values = cache[n];
  if (values.empty()) values = Make(n, 4, 16, 2, false);
  return values;
}

// Large blocks, such as bucket arrays, are mapped apart from the heap.
size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}
