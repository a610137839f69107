// A chained hash table with byte-string keys. Scripts see its iteration order
// (through index reads and saved files), so the key hash, the bucket counts,
// the growth rule and the order inside a chain are fixed behaviour, not tuning.
//
// Invariant: every entry sits in an order chain and in one slot of the
// lookup index (B = bucket_count()):
// - the order chain of bucket HashKey % B, newest first. Iteration follows
//   these. Keys the order hash folds together make them long, so each entry
//   also knows the link that points to it, and erase unlinks in O(1);
// - the index: a power-of-two array of slots, at most half of them full, each
//   holding an entry and some bits of its lookup hash (the tag). An entry sits
//   in the first free slot from its home slot on, wrapping, with no free slot
//   between; lookups walk from the home slot to the first free one, and
//   dereference only entries whose tag matches. The index never changes the
//   order.
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

// The secrets of the lookup hashes, drawn apart so that whoever learns the
// quick hash's seed learns nothing of the keyed hash's key.
struct LookupSecret {
  uint64_t k0, k1;        // the keyed hash's key
  uint64_t seed0, seed1;  // the quick hash's seed
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
  explicit KeyedHash(const LookupSecret& secret) noexcept
      : m_v{Word(secret.k0) ^ kStart[0], Word(secret.k1) ^ kStart[1], Word(secret.k0) ^ kStart[2],
            Word(secret.k1) ^ kStart[3]} {}

  size_t operator()(const char* key, size_t len) const {
    Word v0 = m_v[0], v1 = m_v[1], v2 = m_v[2], v3 = m_v[3];
    sip::Compress<1, 3>(v0, v1, v2, v3, key, len);
#if UINTPTR_MAX > 0xFFFFFFFFu
    return v0 ^ v1 ^ v2 ^ v3;
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

// A seeded multiply-and-fold hash of the key's words: a few instructions for
// a short key. Whoever knows the seed can make any number of keys collide, so
// a table drops it for the keyed hash once its keys pile up.
class QuickHash {
 public:
  explicit QuickHash(const LookupSecret& secret) noexcept
      : m_seed0(Word(secret.seed0)), m_seed1(Word(secret.seed1)) {}

  size_t operator()(const char* key, size_t len) const {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(key);
    const size_t W = sizeof(Word);
    Word a, b, s = m_seed0;
    if (len > 2 * W) {
      for (size_t i = 0; len - i > 2 * W; i += 2 * W) {
        s = Mix(sip::Load<Word>(p + i) ^ m_seed1, sip::Load<Word>(p + i + W) ^ s);
      }
      a = sip::Load<Word>(p + len - 2 * W);
      b = sip::Load<Word>(p + len - W);
    } else if (len >= W) {
      a = sip::Load<Word>(p);
      b = sip::Load<Word>(p + len - W);
    } else if (W == 8 && len >= 4) {
      a = sip::Load<uint32_t>(p);
      b = sip::Load<uint32_t>(p + len - 4);
    } else {
      a = len ? Word(p[0]) | Word(p[len / 2]) << 8 | Word(p[len - 1]) << 16 : 0;
      b = 0;
    }
    return Spread(Mix(a ^ m_seed1, b ^ s ^ Word(len)));
  }

 private:
#if UINTPTR_MAX > 0xFFFFFFFFu
  typedef uint64_t Word;
  typedef unsigned __int128 Wide;
#else
  typedef uint32_t Word;
  typedef uint64_t Wide;
#endif
  // Both halves of the full product, folded.
  static Word Mix(Word a, Word b) {
    const Wide product = Wide(a) * b;
    return Word(product) ^ Word(product >> (8 * sizeof(Word)));
  }
  // Home slots come from the top bits. Without this step sequential ids made
  // runs past the bound under about one seed in 60 (their product varies in
  // few bits); with it, none in 3,000 (measured).
  static Word Spread(Word h) {
    h ^= h >> (4 * sizeof(Word));
    return h * Word(sizeof(Word) == 8 ? 0x9E3779B97F4A7C15ull : 0x9E3779B9u);
  }

  Word m_seed0, m_seed1;
};

// The smallest listed prime not below `wanted`, or the largest prime listed.
uint32_t BucketCountFor(uint64_t wanted);

template <typename V>
class StringHashTable {
 public:
  // No copy of the order hash: it is cheap to take again where a chain
  // ends, and without it an entry of a short key and value takes a 64-byte
  // heap block (48 on i386), where unordered_map's node takes 96 (64).
  struct Entry {
    Entry* next;    // order chain
    Entry** pprev;  // the link that points here: a head or a `next`
    uint32_t keyLen;
    V value;

    // The key's bytes follow the entry in the same allocation, terminated.
    const char* key() const { return reinterpret_cast<const char*>(this + 1); }
  };

  explicit StringHashTable(uint32_t sizeHint = 100,
                           const LookupSecret& secret = ProcessSecret()) noexcept
      : m_bucketCount(BucketCountFor(sizeHint)),
        m_buckets(allocateHeads(m_bucketCount)),
        m_slots(allocateSlots(m_slotCount)),
        m_quick(secret),
        m_keyed(secret) {}
  ~StringHashTable() { release(); }
  StringHashTable(const StringHashTable&) = delete;
  StringHashTable& operator=(const StringHashTable&) = delete;

  // False when even the first arrays could not be had.
  bool ok() const { return m_buckets != nullptr && m_slots != nullptr; }
  uint32_t size() const { return m_size; }
  uint32_t bucket_count() const { return m_bucketCount; }
  // Whether the table has left the quick hash for the keyed one.
  bool keyed() const { return m_isKeyed; }
  // The key's home slot in the index, at its current size and hash.
  size_t lookup_slot(const char* key, size_t len) const { return homeOf(lookupHash(key, len)); }

  // Grows for one more entry first, also when the key turns out to be there.
  // Null only when a missing key could not be allocated; the table is then
  // unchanged apart from a possible growth.
  Entry* find_or_insert(const char* key, size_t len, bool* inserted = nullptr) noexcept {
    if (inserted) *inserted = false;
    grow_for(uint64_t(m_size) + 1);
    if (!m_buckets && !(m_buckets = allocateHeads(m_bucketCount))) return nullptr;
    if (!m_slots && !(m_slots = allocateSlots(m_slotCount))) return nullptr;
    const size_t h = lookupHash(key, len);
    const size_t slot = probe(key, len, h);
    if (m_slots[slot]) return entryOf(m_slots[slot]);
    return insert(key, len, h, slot, inserted);
  }

  // The entry under the key, or null. No growth check: nothing changes.
  Entry* find(const char* key, size_t len) const noexcept {
    if (!m_slots) return nullptr;
    const uintptr_t s = m_slots[probe(key, len, lookupHash(key, len))];
    return s ? entryOf(s) : nullptr;
  }

  size_t erase(const char* key, size_t len) noexcept {
    if (!m_slots) return 0;
    const size_t slot = probe(key, len, lookupHash(key, len));
    if (!m_slots[slot]) return 0;
    Entry* e = entryOf(m_slots[slot]);
    vacate(slot);
    unlinkOrder(e);
    destroyEntry(e);
    --m_size;
    m_cursor = nullptr;
    return 1;
  }

  void clear() noexcept {
    if (!m_buckets) return;
    for (uint32_t b = 0; b < m_bucketCount; ++b) {
      while (Entry* e = m_buckets[b]) {
        m_buckets[b] = e->next;
        destroyEntry(e);
      }
    }
    if (m_slots) std::memset(m_slots, 0, m_slotCount * sizeof *m_slots);
    m_size = 0;
    m_cursor = nullptr;
  }

  // Frees the entries and the arrays; the table stays usable and gets new
  // arrays of the same counts when next needed.
  void release() noexcept {
    clear();
    delete[] m_buckets;
    m_buckets = nullptr;
    delete[] m_slots;
    m_slots = nullptr;
  }

  // Iteration order: buckets ascending, each chain from its front.
  Entry* first() const { return firstFrom(0); }
  Entry* next(const Entry* e) const {
    return e->next ? e->next : firstFrom(bucketOf(e, m_bucketCount) + 1);
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

  // Index slots: an entry's address with tag bits where addresses have none.
#if UINTPTR_MAX > 0xFFFFFFFFu
  // User-space addresses stay below 2^47: the top 16 bits.
  static const uintptr_t kTagBits = ~uintptr_t(0) << 48;
  static uintptr_t tagOf(size_t h) { return uintptr_t(h) << 48; }
#else
  // Entries come from malloc, 8-aligned: the low 3 bits.
  static const uintptr_t kTagBits = 7;
  static uintptr_t tagOf(size_t h) { return uintptr_t(h) & kTagBits; }
#endif
  static Entry* entryOf(uintptr_t slot) { return reinterpret_cast<Entry*>(slot & ~kTagBits); }

  // The longest run of full slots the quick hash may make. Random keys at
  // half load make runs of 25 to 55 slots (measured from 2^10 to 2^24 slots);
  // keys picked against a known seed make them as long as the picker likes.
  static const size_t kMaxRun = 128;
  static const size_t kFirstSlots = 64;

  size_t lookupHash(const char* key, size_t len) const {
    return m_isKeyed ? m_keyed(key, len) : m_quick(key, len);
  }
  // The top bits pick the home slot, the low ones the tag.
  size_t homeOf(size_t h) const { return h >> m_homeShift; }
  size_t mask() const { return m_slotCount - 1; }

  // The slot holding the key, or the free slot that ends its walk.
  size_t probe(const char* key, size_t len, size_t h) const {
    const uintptr_t tag = tagOf(h);
    for (size_t i = homeOf(h);; i = (i + 1) & mask()) {
      const uintptr_t s = m_slots[i];
      if (!s || ((s & kTagBits) == tag && matches(entryOf(s), key, len))) return i;
    }
  }

  // `slot` is the free slot that ended the key's walk. Kept out of the
  // lookups, which then save fewer registers (measured with callgrind).
  __attribute__((noinline)) Entry* insert(const char* key, size_t len, size_t h, size_t slot,
                                          bool* inserted) noexcept {
    if (2 * (uint64_t(m_size) + 1) > m_slotCount && rebuild(2 * m_slotCount, m_isKeyed)) {
      slot = probe(key, len, h);
    } else if (uint64_t(m_size) + 2 > m_slotCount) {
      return nullptr;  // a walk must always end at a free slot
    }
    Entry* e = makeEntry(key, len);
    if (!e) return nullptr;
    pushFront(&m_buckets[bucketOf(e, m_bucketCount)], e);
    m_slots[slot] = uintptr_t(e) | tagOf(h);
    ++m_size;
    m_cursor = nullptr;
    if (inserted) *inserted = true;
    if (!m_isKeyed && runAround(slot) > kMaxRun) rebuild(m_slotCount, true);
    return e;
  }

  // Full slots in the run through `slot`, counted up to just past kMaxRun.
  size_t runAround(size_t slot) const {
    size_t run = 1;
    for (size_t i = (slot + 1) & mask(); m_slots[i] && run <= kMaxRun; i = (i + 1) & mask()) ++run;
    for (size_t i = (slot - 1) & mask(); m_slots[i] && run <= kMaxRun; i = (i - 1) & mask()) ++run;
    return run;
  }

  // Empties a slot and moves later entries of its run back into the gap
  // when that is no earlier than their home, so that no walk meets a free
  // slot before its key.
  void vacate(size_t hole) {
    for (size_t i = (hole + 1) & mask(); m_slots[i]; i = (i + 1) & mask()) {
      const Entry* e = entryOf(m_slots[i]);
      const size_t home = homeOf(lookupHash(e->key(), e->keyLen));
      if (((i - home) & mask()) >= ((i - hole) & mask())) {
        m_slots[hole] = m_slots[i];
        hole = i;
      }
    }
    m_slots[hole] = 0;
  }

  // A new index of `count` slots, under the keyed hash if `keyed`. Without
  // memory the index stays as it was.
  bool rebuild(size_t count, bool keyed) noexcept {
    uintptr_t* fresh = allocateSlots(count);
    if (!fresh) return false;
    uintptr_t* old = m_slots;
    const size_t oldCount = m_slotCount;
    m_slots = fresh;
    m_slotCount = count;
    m_homeShift = HomeShift(count);
    m_isKeyed = keyed;
    for (size_t i = 0; i < oldCount; ++i) {
      if (!old[i]) continue;
      const Entry* e = entryOf(old[i]);
      const size_t h = lookupHash(e->key(), e->keyLen);
      size_t slot = homeOf(h);
      while (m_slots[slot]) slot = (slot + 1) & mask();
      m_slots[slot] = uintptr_t(e) | tagOf(h);
    }
    delete[] old;
    return true;
  }

  static int HomeShift(size_t count) {
    int shift = 8 * sizeof(size_t);
    for (size_t c = count; c > 1; c >>= 1) --shift;
    return shift;
  }

  // Keys are mostly short: whole words, the last ones overlapping, take
  // fewer instructions than a call to memcmp.
  static bool matches(const Entry* e, const char* key, size_t len) {
    if (e->keyLen != len) return false;
    const char* mine = e->key();
    if (len >= 8) {
      if (sip::Load<uint64_t>(mine) != sip::Load<uint64_t>(key) ||
          sip::Load<uint64_t>(mine + len - 8) != sip::Load<uint64_t>(key + len - 8)) {
        return false;
      }
      for (size_t i = 8; i + 8 < len; i += 8) {
        if (sip::Load<uint64_t>(mine + i) != sip::Load<uint64_t>(key + i)) return false;
      }
      return true;
    }
    if (len >= 4) {
      return sip::Load<uint32_t>(mine) == sip::Load<uint32_t>(key) &&
             sip::Load<uint32_t>(mine + len - 4) == sip::Load<uint32_t>(key + len - 4);
    }
    return len == 0 ||
           (mine[0] == key[0] && mine[len / 2] == key[len / 2] && mine[len - 1] == key[len - 1]);
  }

  static Entry** allocateHeads(uint32_t buckets) noexcept {
    return new (std::nothrow) Entry*[buckets]();
  }
  static uintptr_t* allocateSlots(size_t count) noexcept {
    if (count > SIZE_MAX / sizeof(uintptr_t)) return nullptr;
    return new (std::nothrow) uintptr_t[count]();
  }

  static uint32_t bucketOf(const Entry* e, uint32_t buckets) {
    return HashKey(e->key(), e->keyLen) % buckets;
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

  static Entry* makeEntry(const char* key, size_t len) noexcept {
    if (len > UINT32_MAX - 1 || len > SIZE_MAX - sizeof(Entry) - 1) return nullptr;
    void* mem = ::operator new(sizeof(Entry) + len + 1, std::nothrow);
    if (!mem) return nullptr;
    Entry* e = new (mem) Entry{nullptr, nullptr, static_cast<uint32_t>(len), V()};
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
  __attribute__((noinline)) void rehash(uint32_t target) noexcept {
    Entry** fresh = allocateHeads(target);
    if (!fresh) return;
    for (uint32_t b = 0; m_buckets && b < m_bucketCount; ++b) {
      while (Entry* e = m_buckets[b]) {
        m_buckets[b] = e->next;
        pushFront(&fresh[bucketOf(e, target)], e);
      }
    }
    delete[] m_buckets;
    m_buckets = fresh;
    m_bucketCount = target;
    m_cursor = nullptr;
  }

  uint32_t m_size = 0;
  uint32_t m_bucketCount;
  Entry** m_buckets;  // order heads
  size_t m_slotCount = kFirstSlots;
  int m_homeShift = HomeShift(kFirstSlots);
  uintptr_t* m_slots;  // the lookup index
  bool m_isKeyed = false;
  mutable Entry* m_cursor = nullptr;
  mutable uint32_t m_cursorIndex = 0;
  QuickHash m_quick;
  KeyedHash m_keyed;
};
