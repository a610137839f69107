// A plain model of a pool's table, written from the published rules alone:
// h = 5h + each byte taken as signed, in 32 bits; bucket counts from a fixed
// list of primes starting at 193; before every find-or-insert the table grows
// to the smallest listed count not below size + 1 when that is more than it
// has; a new key goes to the front of its chain; growth moves the entries of
// the old buckets from 0 up, each chain from its front, to the fronts of the
// new chains; iteration runs buckets ascending, each chain from its front.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <utility>
#include <vector>

class ReferenceTable {
 public:
  using Record = std::pair<std::string, std::string>;

  static uint32_t Hash(const std::string& key) {
    uint32_t h = 0;
    for (char c : key) h = 5u * h + uint32_t(int32_t(static_cast<signed char>(c)));
    return h;
  }

  static uint32_t BucketsFor(uint64_t wanted) {
    static const uint32_t kPrimes[] = {193u,     389u,      769u,      1543u,     3079u,
                                       6151u,    12289u,    24593u,    49157u,    98317u,
                                       196613u,  393241u,   786433u,   1572869u,  3145739u,
                                       6291469u, 12582917u, 25165843u, 50331653u, 100663319u};
    for (uint32_t p : kPrimes) {
      if (p >= wanted) return p;
    }
    return kPrimes[sizeof kPrimes / sizeof kPrimes[0] - 1];
  }

  ReferenceTable() : m_buckets(193) {}

  // The value under the key, inserted empty when missing; `inserted` tells.
  std::string& Access(const std::string& key, bool* inserted = nullptr) {
    if (m_size + 1 > m_buckets.size()) Grow(BucketsFor(m_size + 1));
    auto& chain = m_buckets[Hash(key) % m_buckets.size()];
    if (inserted) *inserted = false;
    for (Record& r : chain) {
      if (r.first == key) return r.second;
    }
    chain.emplace_front(key, std::string());
    ++m_size;
    if (inserted) *inserted = true;
    return chain.front().second;
  }

  // Whether the key is there, without growing or adding.
  bool Has(const std::string& key) const {
    for (const Record& r : m_buckets[Hash(key) % m_buckets.size()]) {
      if (r.first == key) return true;
    }
    return false;
  }

  void Erase(const std::string& key) {
    auto& chain = m_buckets[Hash(key) % m_buckets.size()];
    for (auto it = chain.begin(); it != chain.end(); ++it) {
      if (it->first == key) {
        chain.erase(it);
        --m_size;
        return;
      }
    }
  }

  // Empties the table; the bucket count stays.
  void Clear() {
    for (auto& chain : m_buckets) chain.clear();
    m_size = 0;
  }

  std::vector<Record> Ordered() const {
    std::vector<Record> all;
    for (const auto& chain : m_buckets) all.insert(all.end(), chain.begin(), chain.end());
    return all;
  }

  size_t size() const { return m_size; }
  size_t bucket_count() const { return m_buckets.size(); }

 private:
  void Grow(size_t count) {
    if (count <= m_buckets.size()) return;
    std::vector<std::list<Record>> fresh(count);
    for (auto& chain : m_buckets) {
      while (!chain.empty()) {
        auto& target = fresh[Hash(chain.front().first) % count];
        target.splice(target.begin(), chain, chain.begin());
      }
    }
    m_buckets.swap(fresh);
  }

  std::vector<std::list<Record>> m_buckets;
  size_t m_size = 0;
};
