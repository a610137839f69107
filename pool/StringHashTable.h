// A chained hash table with byte-string keys. Scripts see its iteration order
// (through index reads and saved files), so the hash, the bucket counts, the
// growth rule and the order inside a chain are fixed behaviour, not tuning.
//
// Invariant: every entry sits in the chain of bucket (hash % bucket count),
// newest first, and the entry count never exceeds the bucket count once an
// insertion has completed. The bucket count never shrinks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

// h = 5h + c over the key's bytes, each taken as signed, in 32 bits.
inline uint32_t HashKey(const char* key, size_t len) {
  uint32_t h = 0;
  for (size_t i = 0; i < len; ++i) {
    h = 5u * h + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(key[i])));
  }
  return h;
}

// The smallest listed prime not below `wanted`, or the largest prime listed.
uint32_t BucketCountFor(uint64_t wanted);

template <typename V>
class StringHashTable {
 public:
  struct Entry {
    Entry* next;
    uint32_t hash;
    uint32_t keyLen;
    V value;

    // The key's bytes follow the entry in the same allocation, terminated.
    const char* key() const { return reinterpret_cast<const char*>(this + 1); }
  };

  explicit StringHashTable(uint32_t sizeHint = 100) noexcept
      : m_bucketCount(BucketCountFor(sizeHint)), m_buckets(allocateBuckets(m_bucketCount)) {}
  ~StringHashTable() { release(); }
  StringHashTable(const StringHashTable&) = delete;
  StringHashTable& operator=(const StringHashTable&) = delete;

  // False when even the first bucket array could not be had.
  bool ok() const { return m_buckets != nullptr; }
  uint32_t size() const { return m_size; }
  uint32_t bucket_count() const { return m_bucketCount; }

  // Grows for one more entry first, also when the key turns out to be there.
  // Null only when a missing key could not be allocated; the table is then
  // unchanged apart from a possible growth.
  Entry* find_or_insert(const char* key, size_t len, bool* inserted = nullptr) noexcept {
    return find_or_insert(key, len, HashKey(key, len), inserted);
  }
  // For callers that look the same key up again: `h` is HashKey(key, len).
  Entry* find_or_insert(const char* key, size_t len, uint32_t h,
                        bool* inserted = nullptr) noexcept {
    if (inserted) *inserted = false;
    grow_for(uint64_t(m_size) + 1);
    if (!m_buckets && !(m_buckets = allocateBuckets(m_bucketCount))) return nullptr;
    Entry** head = &m_buckets[h % m_bucketCount];
    for (Entry* e = *head; e; e = e->next) {
      if (matches(e, h, key, len)) return e;
    }
    Entry* e = makeEntry(key, len, h);
    if (!e) return nullptr;
    e->next = *head;
    *head = e;
    ++m_size;
    m_cursor = nullptr;
    if (inserted) *inserted = true;
    return e;
  }

  // The key's entry, or null. Runs no growth check and changes nothing.
  Entry* find(const char* key, size_t len) const noexcept {
    if (!m_buckets) return nullptr;
    const uint32_t h = HashKey(key, len);
    for (Entry* e = m_buckets[h % m_bucketCount]; e; e = e->next) {
      if (matches(e, h, key, len)) return e;
    }
    return nullptr;
  }

  size_t erase(const char* key, size_t len) noexcept {
    if (!m_buckets) return 0;
    const uint32_t h = HashKey(key, len);
    for (Entry** link = &m_buckets[h % m_bucketCount]; *link; link = &(*link)->next) {
      Entry* e = *link;
      if (matches(e, h, key, len)) {
        *link = e->next;
        destroyEntry(e);
        --m_size;
        m_cursor = nullptr;
        return 1;
      }
    }
    return 0;
  }

  void clear() noexcept {
    if (!m_buckets) return;
    for (uint32_t b = 0; b < m_bucketCount; ++b) {
      while (Entry* e = m_buckets[b]) {
        m_buckets[b] = e->next;
        destroyEntry(e);
      }
    }
    m_size = 0;
    m_cursor = nullptr;
  }

  // Frees the entries and the bucket array; the table stays usable and gets a
  // new array of the same count when next needed.
  void release() noexcept {
    clear();
    delete[] m_buckets;
    m_buckets = nullptr;
  }

  // Iteration order: buckets ascending, each chain from its front.
  Entry* first() const { return firstFrom(0); }
  Entry* next(const Entry* e) const {
    return e->next ? e->next : firstFrom(e->hash % m_bucketCount + 1);
  }

  // Visits every entry in iteration order. The entries of a large table lie
  // all over memory, so the heads of buckets a little ahead are fetched early.
  template <typename Visit>
  void for_each(Visit visit) const {
    const uint32_t ahead = 16;
    for (uint32_t b = 0; m_buckets && b < m_bucketCount; ++b) {
      if (b + ahead < m_bucketCount) __builtin_prefetch(m_buckets[b + ahead]);
      for (const Entry* e = m_buckets[b]; e; e = e->next) visit(*e);
    }
  }

  // The entry at that position of the iteration order, or null past the end.
  // Scripts read positions 0, 1, 2, ... so the walk goes on from the last
  // position asked for; any change to the table forgets it.
  Entry* at(uint32_t index) const {
    if (index >= m_size) return nullptr;
    if (!m_cursor || index < m_cursorIndex) {
      m_cursor = first();
      m_cursorIndex = 0;
    }
    for (; m_cursorIndex < index; ++m_cursorIndex) m_cursor = next(m_cursor);
    return m_cursor;
  }

 private:
  static bool matches(const Entry* e, uint32_t h, const char* key, size_t len) {
    return e->hash == h && e->keyLen == len && std::memcmp(e->key(), key, len) == 0;
  }

  static Entry** allocateBuckets(uint32_t count) noexcept {
    if (count > SIZE_MAX / sizeof(Entry*)) return nullptr;
    return new (std::nothrow) Entry*[count]();
  }

  static Entry* makeEntry(const char* key, size_t len, uint32_t h) noexcept {
    if (len > UINT32_MAX - 1 || len > SIZE_MAX - sizeof(Entry) - 1) return nullptr;
    void* mem = ::operator new(sizeof(Entry) + len + 1, std::nothrow);
    if (!mem) return nullptr;
    Entry* e = new (mem) Entry{nullptr, h, static_cast<uint32_t>(len), V()};
    char* bytes = reinterpret_cast<char*>(e + 1);
    std::memcpy(bytes, key, len);
    bytes[len] = '\0';
    return e;
  }

  static void destroyEntry(Entry* e) noexcept {
    e->~Entry();
    ::operator delete(e);
  }

  Entry* firstFrom(uint64_t bucket) const {
    if (!m_buckets) return nullptr;
    for (; bucket < m_bucketCount; ++bucket) {
      if (m_buckets[bucket]) return m_buckets[bucket];
    }
    return nullptr;
  }

  void grow_for(uint64_t wanted) noexcept {
    if (wanted <= m_bucketCount) return;
    const uint32_t target = BucketCountFor(wanted);
    if (target > m_bucketCount) rehash(target);
  }

  // Old buckets from 0 up, each chain from its front, pushed onto the front of
  // the new chains. Without memory for the new array the table stays as it is.
  void rehash(uint32_t target) noexcept {
    Entry** fresh = allocateBuckets(target);
    if (!fresh) return;
    for (uint32_t b = 0; m_buckets && b < m_bucketCount; ++b) {
      while (Entry* e = m_buckets[b]) {
        m_buckets[b] = e->next;
        Entry** head = &fresh[e->hash % target];
        e->next = *head;
        *head = e;
      }
    }
    delete[] m_buckets;
    m_buckets = fresh;
    m_bucketCount = target;
    m_cursor = nullptr;
  }

  uint32_t m_size = 0;
  uint32_t m_bucketCount;
  Entry** m_buckets;
  mutable Entry* m_cursor = nullptr;
  mutable uint32_t m_cursorIndex = 0;
};
