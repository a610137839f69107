// A chained hash table with byte-string keys. Scripts see its iteration order
// (through index reads and saved files), so the key hash, the bucket counts,
// the growth rule and the order inside a chain are fixed behaviour, not tuning.
//
// Invariant: every entry sits in two chains, whose heads share one array
// (B = bucket_count()):
// - the order chain of bucket HashKey % B, newest first. Iteration follows
//   these. Keys the order hash folds together make them long, so each entry
//   also knows the link that points to it, and erase unlinks in O(1);
// - the lookup chain of slot LookupSlot(lookup_hash, B - B / 8), in no set
//   order. Lookups walk only these, which the keyed hash keeps short.
// The entry count never exceeds B once an insertion has completed, unless a
// growth found no memory; B never shrinks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "SipHash.h"

// h = 5h + c over the key's bytes, each taken as signed, in 32 bits.
inline uint32_t HashKey(const char* key, size_t len) {
  uint32_t h = 0;
  for (size_t i = 0; i < len; ++i) {
    h = 5u * h + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(key[i])));
  }
  return h;
}

// The secret that keys the lookup hash.
struct LookupSecret {
  uint64_t k0, k1;
};

// A fresh secret from the kernel.
LookupSecret DrawSecret();
// Drawn once, when first asked for; every table of the process uses it unless
// it is given another.
const LookupSecret& ProcessSecret();

// Finds keys, never orders them. Keyed with a secret, so that whoever picks
// keys cannot pick ones that share a lookup chain. SipHash-1-3 where 64-bit
// arithmetic is native, HalfSipHash-1-3 on i386; the state a hash starts from
// is kept, not the secret.
class KeyedHash {
 public:
  KeyedHash() noexcept : KeyedHash(ProcessSecret()) {}
  explicit KeyedHash(const LookupSecret& secret) noexcept
      : m_v{Word(secret.k0) ^ kStart[0], Word(secret.k1) ^ kStart[1], Word(secret.k0) ^ kStart[2],
            Word(secret.k1) ^ kStart[3]} {}

  uint32_t operator()(const char* key, size_t len) const {
    Word v0 = m_v[0], v1 = m_v[1], v2 = m_v[2], v3 = m_v[3];
    sip::Compress<1, 3>(v0, v1, v2, v3, key, len);
#if UINTPTR_MAX > 0xFFFFFFFFu
    return uint32_t(v0 ^ v1 ^ v2 ^ v3);
#else
    return v1 ^ v3;
#endif
  }

 private:
#if UINTPTR_MAX > 0xFFFFFFFFu
  typedef uint64_t Word;
  static constexpr Word kStart[4] = {0x736f6d6570736575ull, 0x646f72616e646f6dull,
                                     0x6c7967656e657261ull, 0x7465646279746573ull};
#else
  typedef uint32_t Word;
  static constexpr Word kStart[4] = {0, 0, 0x6c796765u, 0x74656462u};
#endif
  Word m_v[4];
};

// The lookup slot of a strong hash among `count`: the hash scaled to the
// count, without a division.
inline uint32_t LookupSlot(uint32_t lookupHash, uint32_t count) {
  return static_cast<uint32_t>((uint64_t(lookupHash) * count) >> 32);
}

// The smallest listed prime not below `wanted`, or the largest prime listed.
uint32_t BucketCountFor(uint64_t wanted);

template <typename V, typename LookupHash = KeyedHash>
class StringHashTable {
 public:
  struct Entry {
    Entry* next;        // order chain
    Entry** pprev;      // the link that points here: a head or a `next`
    Entry* lookupNext;  // lookup chain
    uint32_t hash;      // HashKey(key)
    uint32_t keyLen;
    V value;

    // The key's bytes follow the entry in the same allocation, terminated.
    const char* key() const { return reinterpret_cast<const char*>(this + 1); }
  };

  explicit StringHashTable(uint32_t sizeHint = 100, const LookupHash& hash = LookupHash()) noexcept
      : m_bucketCount(BucketCountFor(sizeHint)),
        m_buckets(allocateHeads(m_bucketCount)),
        m_lookupHash(hash) {}
  ~StringHashTable() { release(); }
  StringHashTable(const StringHashTable&) = delete;
  StringHashTable& operator=(const StringHashTable&) = delete;

  // False when even the first head array could not be had.
  bool ok() const { return m_buckets != nullptr; }
  uint32_t size() const { return m_size; }
  uint32_t bucket_count() const { return m_bucketCount; }

  // Grows for one more entry first, also when the key turns out to be there.
  // Null only when a missing key could not be allocated; the table is then
  // unchanged apart from a possible growth.
  Entry* find_or_insert(const char* key, size_t len, bool* inserted = nullptr) noexcept {
    return find_or_insert(key, len, lookup_hash(key, len), inserted);
  }
  // For callers that look the same key up again.
  uint32_t lookup_hash(const char* key, size_t len) const { return m_lookupHash(key, len); }
  // The lookup chain the key belongs to, at the table's current size.
  uint32_t lookup_slot(const char* key, size_t len) const {
    return LookupSlot(lookup_hash(key, len), lookupSlots(m_bucketCount));
  }
  // `h` is lookup_hash(key, len).
  Entry* find_or_insert(const char* key, size_t len, uint32_t h,
                        bool* inserted = nullptr) noexcept {
    if (inserted) *inserted = false;
    grow_for(uint64_t(m_size) + 1);
    if (!m_buckets && !(m_buckets = allocateHeads(m_bucketCount))) return nullptr;
    if (Entry* e = findIn(key, len, h)) return e;
    return insert(key, len, h, inserted);
  }

  // The entry under the key, or null. No growth check: nothing changes.
  Entry* find(const char* key, size_t len) const noexcept {
    return m_buckets ? findIn(key, len, lookup_hash(key, len)) : nullptr;
  }

  size_t erase(const char* key, size_t len) noexcept {
    if (!m_buckets) return 0;
    Entry** link = lookupHead(lookup_hash(key, len));
    for (; *link; link = &(*link)->lookupNext) {
      Entry* e = *link;
      if (matches(e, key, len)) {
        *link = e->lookupNext;
        unlinkOrder(e);
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
    for (uint32_t s = 0; s < lookupSlots(m_bucketCount); ++s) lookupHeads()[s] = nullptr;
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

  // Visits every entry in iteration order. Some way ahead of the visit,
  // fetch(entry) may fetch what the entry points to into the cache.
  template <typename Visit, typename Fetch>
  void for_each(Visit visit, Fetch fetch) const {
    if (!m_buckets) return;
    Scouts<Fetch> scouts(m_buckets, m_bucketCount, fetch);
    while (const Entry* head = scouts.nextChain()) {
      for (const Entry* e = head; e; e = e->next) {
        scouts.keepAhead();
        visit(*e);
      }
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
  // Fetch the entries of a walk into the cache before the walk reads them.
  // The entries of a large table lie all over memory, and a chain gives its
  // next entry only once the previous one has arrived, so the scouts follow
  // the chains of the buckets ahead several at a time. They take the buckets
  // in order and queue the chains they find for the walk.
  template <typename Fetch>
  class Scouts {
   public:
    Scouts(Entry* const* buckets, uint32_t count, Fetch fetch)
        : m_buckets(buckets), m_count(count), m_fetch(fetch) {}

    // The head of the walk's next chain, or null after the last. Lanes and
    // walk take buckets from one cursor, the walk only once it has walked
    // every chain the lanes queued, so chains come in bucket order.
    const Entry* nextChain() {
      return m_taken != m_queued ? m_chains[m_taken++ % kQueue] : nextHead();
    }

    // Called once per entry visited: at most two steps, while the lead is short.
    void keepAhead() {
      ++m_visited;
      for (int i = 0; i < 2 && m_fetched < m_visited + kLead; ++i) step();
    }

   private:
    // Measured in bench/: 16 chains at once cover the time an entry takes to
    // arrive, and a lead of 256 entries lets the lanes get through the long
    // chains of sequential ids before the walk reaches them.
    static const uint32_t kLanes = 16;  // chains followed at once
    static const uint32_t kLead = 256;  // entries fetched ahead of the walk
    static const uint32_t kQueue = 64;  // chains found ahead of the walk

    const Entry* nextHead() {
      while (m_bucket < m_count && !m_buckets[m_bucket]) ++m_bucket;
      return m_bucket < m_count ? m_buckets[m_bucket++] : nullptr;
    }

    // Moves a lane one entry on, to the next chain when its own ends.
    void step() {
      const Entry*& lane = m_lanes[m_lane];
      m_lane = (m_lane + 1) % kLanes;
      if (lane) {
        m_fetch(*lane);
        lane = lane->next;
      }
      if (!lane && m_queued - m_taken < kQueue && (lane = nextHead())) {
        m_chains[m_queued++ % kQueue] = lane;
      }
      if (!lane) return;
      // The entry's fields and the start of its key.
      __builtin_prefetch(lane);
      __builtin_prefetch(reinterpret_cast<const char*>(lane) + 64);
      ++m_fetched;
    }

    Entry* const* m_buckets;
    uint32_t m_count;
    Fetch m_fetch;
    uint32_t m_bucket = 0;  // the next bucket to look at
    const Entry* m_lanes[kLanes] = {};
    uint32_t m_lane = 0;
    const Entry* m_chains[kQueue];  // found by the lanes, not yet walked
    uint32_t m_queued = 0;
    uint32_t m_taken = 0;
    uint64_t m_fetched = 0;
    uint64_t m_visited = 0;
  };

  Entry* insert(const char* key, size_t len, uint32_t h, bool* inserted) noexcept {
    Entry* e = makeEntry(key, len);
    if (!e) return nullptr;
    pushFront(&m_buckets[e->hash % m_bucketCount], e);
    pushLookup(lookupHead(h), e);
    ++m_size;
    m_cursor = nullptr;
    if (inserted) *inserted = true;
    return e;
  }

  // Keys are mostly short: whole words, the last ones overlapping, take
  // fewer instructions than a call to memcmp.
  static bool matches(const Entry* e, const char* key, size_t len) {
    if (e->keyLen != len) return false;
    const char* mine = e->key();
    if (len >= 8) {
      for (size_t i = 0; i + 8 < len; i += 8) {
        if (sip::Load<uint64_t>(mine + i) != sip::Load<uint64_t>(key + i)) return false;
      }
      return sip::Load<uint64_t>(mine + len - 8) == sip::Load<uint64_t>(key + len - 8);
    }
    if (len >= 4) {
      return sip::Load<uint32_t>(mine) == sip::Load<uint32_t>(key) &&
             sip::Load<uint32_t>(mine + len - 4) == sip::Load<uint32_t>(key + len - 4);
    }
    return len == 0 ||
           (mine[0] == key[0] && mine[len / 2] == key[len / 2] && mine[len - 1] == key[len - 1]);
  }

  // Seven lookup slots for every eight buckets. At a million keys every entry
  // a lookup visits is a cache miss, and a hit visits 1 + E / 2S of them: 1.36
  // there, against 1.64 with half as many slots as buckets. As many slots as
  // buckets costs more bytes per entry than std::unordered_map at 1e5 short
  // keys (measured in bench/).
  static uint32_t lookupSlots(uint32_t buckets) { return buckets - buckets / 8; }
  // Order heads, then lookup heads, all null.
  static Entry** allocateHeads(uint32_t buckets) noexcept {
    const uint64_t heads = uint64_t(buckets) + lookupSlots(buckets);
    if (heads > SIZE_MAX / sizeof(Entry*)) return nullptr;
    return new (std::nothrow) Entry*[size_t(heads)]();
  }
  Entry** lookupHeads() const { return m_buckets + m_bucketCount; }
  Entry** lookupHead(uint32_t h) const {
    return &lookupHeads()[LookupSlot(h, lookupSlots(m_bucketCount))];
  }

  Entry* findIn(const char* key, size_t len, uint32_t h) const {
    for (Entry* e = *lookupHead(h); e; e = e->lookupNext) {
      if (matches(e, key, len)) return e;
    }
    return nullptr;
  }

  static void pushFront(Entry** head, Entry* e) {
    e->next = *head;
    if (e->next) e->next->pprev = &e->next;
    e->pprev = head;
    *head = e;
  }
  static void unlinkOrder(Entry* e) {
    *e->pprev = e->next;
    if (e->next) e->next->pprev = e->pprev;
  }
  static void pushLookup(Entry** head, Entry* e) {
    e->lookupNext = *head;
    *head = e;
  }

  static Entry* makeEntry(const char* key, size_t len) noexcept {
    if (len > UINT32_MAX - 1 || len > SIZE_MAX - sizeof(Entry) - 1) return nullptr;
    void* mem = ::operator new(sizeof(Entry) + len + 1, std::nothrow);
    if (!mem) return nullptr;
    Entry* e = new (mem)
        Entry{nullptr, nullptr, nullptr, HashKey(key, len), static_cast<uint32_t>(len), V()};
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
  // the new chains. Without memory for the new heads the table stays as it is.
  void rehash(uint32_t target) noexcept {
    Entry** fresh = allocateHeads(target);
    if (!fresh) return;
    for (uint32_t b = 0; m_buckets && b < m_bucketCount; ++b) {
      while (Entry* e = m_buckets[b]) {
        m_buckets[b] = e->next;
        pushFront(&fresh[e->hash % target], e);
        const uint32_t slot = LookupSlot(lookup_hash(e->key(), e->keyLen), lookupSlots(target));
        pushLookup(&fresh[target + slot], e);
      }
    }
    delete[] m_buckets;
    m_buckets = fresh;
    m_bucketCount = target;
    m_cursor = nullptr;
  }

  uint32_t m_size = 0;
  uint32_t m_bucketCount;
  Entry** m_buckets;  // order heads, then lookup heads
  mutable Entry* m_cursor = nullptr;
  mutable uint32_t m_cursorIndex = 0;
  LookupHash m_lookupHash;
};
