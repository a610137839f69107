#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "FailingAllocator.h"
#include "HashPool.h"
#include "ReferenceTable.h"
#include "SipHash.h"
#include "StringHashTable.h"

namespace {

uint32_t Hash(const std::string& s) { return HashKey(s.data(), s.size()); }

std::vector<std::string> ValuesByIndex(CHashPool& pool) {
  std::vector<std::string> values;
  for (uint32_t i = 0; i < pool.Table().size(); ++i) values.push_back(pool.GetIndex(i));
  return values;
}

TEST(KeyHash, WorkedExamplesAndBuckets) {
  struct Case {
    std::string key;
    uint32_t hash;
    uint32_t bucketOf193;
  } cases[] = {
      {"", 0, 0},
      {"a", 97, 97},
      {"abc", 3014, 119},
      {"02", 290, 97},
      {"\xE9", 4294967273u, 85},  // the byte counts as -23, not 233
      {"visits", Hash("visits"), 64},
      {"motd", Hash("motd"), 96},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Hash(c.key), c.hash) << c.key;
    EXPECT_EQ(Hash(c.key) % 193u, c.bucketOf193) << c.key;
  }
  EXPECT_NE(Hash("\xE9") % 193u, 40u);
}

TEST(KeyHash, WrapsInThirtyTwoBits) {
  // 5^14 overflows 32 bits; a wider accumulator would give another value.
  std::string key(20, 'z');
  uint64_t wide = 0;
  for (char c : key) wide = (wide * 5 + uint64_t(c)) & 0xFFFFFFFFu;
  EXPECT_EQ(Hash(key), uint32_t(wide));
  EXPECT_EQ(Hash("\xFF\xFF"), uint32_t(-1 * 5 - 1));
}

TEST(LookupHash, PublishedValuesAtEveryTailLength) {
  char bytes[40];
  for (int i = 0; i < 40; ++i) bytes[i] = char(i);
  // The reference vectors of the 2-4 variants, key bytes 00 01 02 ...
  const uint64_t k0 = 0x0706050403020100ull, k1 = 0x0f0e0d0c0b0a0908ull;
  EXPECT_EQ((SipHash<2, 4>(k0, k1, bytes, 0)), 0x726fdb47dd0e0e31ull);
  EXPECT_EQ((SipHash<2, 4>(k0, k1, bytes, 15)), 0xa129ca6149be45e5ull);
  EXPECT_EQ((HalfSipHash<2, 4>(uint32_t(k0), uint32_t(k0 >> 32), bytes, 0)), 0x5b9f35a9u);
  // SipHash-1-3 of bytes 00 .. n-1 under a zero key, from another
  // implementation (CPython's hash of bytes with PYTHONHASHSEED=0).
  const uint64_t kSip13[] = {
      0x68a914128e01e473, 0x010bac45c41e3669, 0x4d4c9a4a8ef6e0ad, 0x7cc43f98813e4dbd,
      0x5abe2169dff36275, 0xe3c25f87624f1cdb, 0x2f098ab0c751325a, 0xead411e67ebe2eea,
      0x75927f9d95124362, 0xaf9f77a65ab51a1d, 0xfe64ce8b6617fcff, 0xa6baf4fb0f9fe1c2,
      0xa0cf3211850f8e0d, 0x7f86049379fbfe67, 0xf30eb725bb91c9ea, 0x8972188433a5c5b7,
      0x4883c49a2c009c1d, 0xadc2c0b63044067d, 0x091f4a3329f87d19, 0x639e355ae68c0100,
      0xb17bef2cb5213239, 0xf8aeb1066236ccfe, 0x37332b1389daa4ff, 0x31185a47af932f3a,
  };
  for (size_t n = 1; n <= 24; ++n) EXPECT_EQ((SipHash<1, 3>(0, 0, bytes, n)), kSip13[n - 1]) << n;
  // Tables hash with the 1-3 variant under their secret.
  const KeyedHash keyed(LookupSecret{k0, k1});
  for (size_t n : {0, 5, 11, 24}) {
#if UINTPTR_MAX > 0xFFFFFFFFu
    EXPECT_EQ(keyed(bytes, n), uint32_t(SipHash<1, 3>(k0, k1, bytes, n))) << n;
#else
    EXPECT_EQ(keyed(bytes, n), (HalfSipHash<1, 3>(uint32_t(k0), uint32_t(k1), bytes, n))) << n;
#endif
  }
}

TEST(LookupHash, ReadsOnlyTheKeysBytes) {
  // The last block is read in overlapping words; no byte past the key may
  // count, and every byte of it must.
  char a[40], b[40];
  for (size_t n = 0; n <= 20; ++n) {
    for (int i = 0; i < 40; ++i) a[i] = b[i] = char('a' + i);
    for (size_t i = n; i < 40; ++i) b[i] = '!';
    EXPECT_EQ((SipHash<1, 3>(1, 2, a, n)), (SipHash<1, 3>(1, 2, b, n))) << n;
    EXPECT_EQ((HalfSipHash<1, 3>(1, 2, a, n)), (HalfSipHash<1, 3>(1, 2, b, n))) << n;
    for (size_t i = 0; i < n; ++i) {
      b[i] ^= 1;
      EXPECT_NE((SipHash<1, 3>(1, 2, a, n)), (SipHash<1, 3>(1, 2, b, n))) << n << " " << i;
      EXPECT_NE((HalfSipHash<1, 3>(1, 2, a, n)), (HalfSipHash<1, 3>(1, 2, b, n))) << n << " " << i;
      b[i] ^= 1;
    }
  }
}

TEST(LookupHash, EachDrawIsFresh) {
  const LookupSecret a = DrawSecret(), b = DrawSecret();
  EXPECT_FALSE(a.k0 == b.k0 && a.k1 == b.k1);
  EXPECT_FALSE(a.k0 == 0 && a.k1 == 0);
}

TEST(BucketCount, SmallestListedPrimeNotBelow) {
  const std::pair<uint64_t, uint32_t> cases[] = {
      {0, 53},
      {53, 53},
      {54, 97},
      {100, 193},
      {193, 193},
      {194, 389},
      {390, 769},
      {3221225474ull, 4294967291u},
      {4294967291ull, 4294967291u},
      {4294967296ull, 4294967291u},
  };
  for (const auto& c : cases) EXPECT_EQ(BucketCountFor(c.first), c.second) << c.first;
}

TEST(Table, StartsAt193AndGrowsBeforeLookup) {
  CHashPool pool("p");
  EXPECT_EQ(pool.Table().bucket_count(), 193u);
  EXPECT_EQ(pool.Table().size(), 0u);
  for (int i = 0; i < 193; ++i) pool.Add(std::to_string(i).c_str(), "v");
  EXPECT_EQ(pool.Table().bucket_count(), 193u);
  // A read of a key that is present still grows the table first.
  pool.Get("5");
  EXPECT_EQ(pool.Table().size(), 193u);
  EXPECT_EQ(pool.Table().bucket_count(), 389u);
  for (int i = 193; i < 389; ++i) pool.Add(std::to_string(i).c_str(), "v");
  EXPECT_EQ(pool.Table().bucket_count(), 389u);
  pool.Add("389", "v");
  EXPECT_EQ(pool.Table().bucket_count(), 769u);
  for (int i = 0; i < 389; ++i) pool.Del(std::to_string(i).c_str());
  pool.Clear();
  EXPECT_EQ(pool.Table().bucket_count(), 769u) << "never shrinks";
}

TEST(Table, RehashMovesOldChainsFrontToFront) {
  // a and 02 share bucket 97 of 193 (02 newest first); at 389 buckets a stays
  // in 97 and 02 moves to 290.
  CHashPool pool("p");
  pool.Add("a", "A");
  pool.Add("02", "Z");
  EXPECT_EQ(ValuesByIndex(pool), (std::vector<std::string>{"Z", "A"}));
  for (int i = 0; pool.Table().size() < 193; ++i) pool.Add(("k" + std::to_string(i)).c_str(), "");
  pool.Get("a");
  ASSERT_EQ(pool.Table().bucket_count(), 389u);
  std::vector<std::string> order;
  for (auto* e = pool.Table().first(); e; e = pool.Table().next(e)) order.push_back(e->key());
  auto pos = [&](const char* k) {
    return std::find(order.begin(), order.end(), k) - order.begin();
  };
  EXPECT_LT(pos("a"), pos("02"));
}

std::vector<std::pair<std::string, std::string>> Entries(const CHashPool::Map& table) {
  std::vector<std::pair<std::string, std::string>> all;
  for (auto* e = table.first(); e; e = table.next(e)) {
    all.emplace_back(e->key(), e->value.c_str());
  }
  return all;
}

TEST(Table, OrderMatchesReferenceAcrossGrowthSteps) {
  std::mt19937 rng(20261207);
  std::vector<std::string> universe;
  for (int i = 0; i < 900; ++i) {
    std::string k = std::to_string(i * 7919);
    if (i % 5 == 0) k += char(0x80 + i % 128);  // high bytes hash as negatives
    universe.push_back(k);
  }
  universe.push_back("");

  CHashPool pool("p");
  ReferenceTable ref;  // written from the published rules alone
  for (int step = 0; step < 4000; ++step) {
    const std::string& key = universe[rng() % universe.size()];
    const int op = rng() % 100;
    if (op < 55) {
      std::string value = "v" + std::to_string(step);
      pool.Add(key.c_str(), value.c_str());
      ref.Access(key) = value;
    } else if (op < 80) {
      EXPECT_EQ(pool.Get(key.c_str()), ref.Access(key));
    } else if (op < 99) {
      pool.Del(key.c_str());
      ref.Erase(key);
    } else if (step > 3000) {
      pool.Clear();
      ref.Clear();
    }
    ASSERT_EQ(pool.Table().bucket_count(), ref.bucket_count()) << "step " << step;
    ASSERT_EQ(Entries(pool.Table()), ref.Ordered()) << "step " << step;
    if (step % 97 == 0) {
      std::vector<std::string> expected;
      for (const auto& kv : ref.Ordered()) expected.push_back(kv.second);
      ASSERT_EQ(ValuesByIndex(pool), expected) << "step " << step;
    }
  }
  EXPECT_GE(pool.Table().bucket_count(), 769u) << "the walk must cross growth steps";
}

}  // namespace

namespace {

// The value at a position by walking from the first entry every time.
std::string PlainWalk(const CHashPool& pool, uint32_t index) {
  auto* e = pool.Table().first();
  for (uint32_t i = 0; e && i < index; ++i) e = pool.Table().next(e);
  return e ? e->value.c_str() : "";
}

TEST(Table, IndexReadsFollowAGrowthWithoutInsertion) {
  CHashPool pool("p");
  for (int i = 0; i < 193; ++i) pool.Add(std::to_string(i).c_str(), std::to_string(i).c_str());
  for (uint32_t i = 0; i < 100; ++i) ASSERT_EQ(std::string(pool.GetIndex(i)), PlainWalk(pool, i));
  pool.Get("7");  // present: nothing is added, but the table grows
  ASSERT_EQ(pool.Table().bucket_count(), 389u);
  for (uint32_t i = 100; i < 193; ++i) {
    ASSERT_EQ(std::string(pool.GetIndex(i)), PlainWalk(pool, i)) << i;
  }
}

TEST(Table, IndexReadsMatchThePlainWalk) {
  std::mt19937 rng(42);
  CHashPool pool("p");
  uint32_t position = 0;
  for (int step = 0; step < 6000; ++step) {
    const std::string key = "k" + std::to_string(rng() % 700);
    switch (rng() % 10) {
      case 0:
        pool.Add(key.c_str(), ("v" + std::to_string(step)).c_str());
        break;
      case 1:
        pool.Del(key.c_str());
        break;
      case 2:
        pool.Get(key.c_str());  // may insert, may grow
        break;
      case 3:
        if (rng() % 50 == 0) pool.Clear();
        break;
      case 4:
        position = rng() % (pool.Table().size() + 3);  // jump, also past the end
        break;
      case 5:
        position = position > 0 ? position - 1 : 0;  // backward
        break;
      case 6:
        position = 4294967295u - rng() % 2;
        break;
      default:
        ++position;  // the usual forward walk
    }
    ASSERT_EQ(std::string(pool.GetIndex(position)), PlainWalk(pool, position))
        << "step " << step << " position " << position;
    if (position > pool.Table().size() + 2) position = 0;
  }
}

}  // namespace

namespace {

typedef StringHashTable<PoolValue> Table;

// find() reaches exactly the model's keys, each at the entry iteration visits,
// and none of `absent`; nothing it does changes the table.
void ExpectLookupsMatch(const Table& table, const std::map<std::string, std::string>& model,
                        const std::vector<std::string>& absent, const std::string& when) {
  const uint32_t size = table.size(), buckets = table.bucket_count();
  uint32_t walked = 0;
  for (auto* e = table.first(); e; e = table.next(e), ++walked) {
    const std::string key(e->key(), e->keyLen);
    ASSERT_EQ(table.find(key.data(), key.size()), e) << when << ": " << key;
    ASSERT_EQ(model.count(key), 1u) << when << ": " << key;
    ASSERT_EQ(model.at(key), e->value.c_str()) << when << ": " << key;
  }
  ASSERT_EQ(walked, model.size()) << when;
  for (const std::string& key : absent) {
    if (!model.count(key)) {
      ASSERT_EQ(table.find(key.data(), key.size()), nullptr) << when << ": " << key;
    }
  }
  ASSERT_EQ(table.size(), size) << when;
  ASSERT_EQ(table.bucket_count(), buckets) << when;
}

// Keys that share one lookup chain under one secret, found by trying; under
// another secret they scatter, while the order, and so every position and
// saved byte, stays the same.
TEST(Table, LookupSecretMovesChainsButNotTheOrder) {
  Table a(100, KeyedHash(LookupSecret{1, 2})), b(100, KeyedHash(LookupSecret{3, 4}));
  std::vector<std::string> keys;
  for (int i = 0; keys.size() < 40; ++i) {
    const std::string key = "user_" + std::to_string(i);
    if (a.lookup_slot(key.data(), key.size()) == 0) keys.push_back(key);
  }
  std::map<uint32_t, int> slotsInB;
  for (const std::string& key : keys) {
    a.find_or_insert(key.data(), key.size());
    b.find_or_insert(key.data(), key.size());
    ++slotsInB[b.lookup_slot(key.data(), key.size())];
  }
  ASSERT_EQ(a.bucket_count(), b.bucket_count());
  for (const std::string& key : keys) EXPECT_EQ(a.lookup_slot(key.data(), key.size()), 0u) << key;
  EXPECT_GT(slotsInB.size(), 20u);
  EXPECT_EQ(Entries(a), Entries(b));
  for (const std::string& key : keys) {
    ASSERT_NE(a.find(key.data(), key.size()), nullptr) << key;
    ASSERT_NE(b.find(key.data(), key.size()), nullptr) << key;
  }
}

// Keys the order hash folds onto few chains, so that deletions unlink from
// the front, middle and end of long ones.
TEST(Table, LookupChainsThroughGrowthDeletionClearAndFailure) {
  std::vector<std::string> keys;
  for (int i = 0; i < 800; ++i) keys.push_back(std::to_string(i));
  for (int i = 0; i < 800; ++i) keys.push_back("user_" + std::to_string(i));
  keys.push_back("");
  keys.push_back("\xE9\xFF high bytes");

  Table table;
  ReferenceTable ref;
  std::map<std::string, std::string> model;
  auto insert = [&](const std::string& key, const std::string& value) {
    bool inserted = false;
    Table::Entry* e = table.find_or_insert(key.data(), key.size(), &inserted);
    ASSERT_NE(e, nullptr);
    ASSERT_TRUE(e->value.assign(value.data(), value.size()));
    ref.Access(key) = value;
    ASSERT_EQ(inserted, !model.count(key));
    model[key] = value;
  };

  // Growth: every step from 193 to 3079 buckets. At size == buckets a
  // find_or_insert would grow; find must not.
  for (size_t i = 0; i < keys.size(); ++i) {
    ASSERT_EQ(table.find(keys[i].data(), keys[i].size()), nullptr) << keys[i];
    const uint32_t buckets = table.bucket_count();
    insert(keys[i], "v" + keys[i]);
    if (table.bucket_count() != buckets || table.size() == table.bucket_count()) {
      ExpectLookupsMatch(table, model, keys, "growth to " + std::to_string(table.bucket_count()));
    }
  }
  EXPECT_EQ(table.bucket_count(), 3079u);
  ASSERT_EQ(Entries(table), ref.Ordered());

  // Deletion of two of every three entries in iteration order, so of
  // neighbours in a chain, its heads and its ends; then re-insertion of some.
  std::vector<std::string> ordered;
  for (const auto& kv : Entries(table)) ordered.push_back(kv.first);
  for (size_t i = 0; i < ordered.size(); ++i) {
    if (i % 3 == 1) continue;
    const std::string& key = ordered[i];
    EXPECT_EQ(table.erase(key.data(), key.size()), 1u) << key;
    EXPECT_EQ(table.erase(key.data(), key.size()), 0u) << key;
    ref.Erase(key);
    model.erase(key);
  }
  for (size_t i = 0; i < keys.size(); i += 9) insert(keys[i], "again");
  ExpectLookupsMatch(table, model, keys, "after deletion");
  ASSERT_EQ(Entries(table), ref.Ordered());

  // Allocation failure: without new heads the table keeps its buckets and
  // still takes the key; without an entry it stays as it was.
  while (table.size() < table.bucket_count()) insert("fill" + std::to_string(table.size()), "f");
  const uint32_t buckets = table.bucket_count();
  const std::string grew = "after failed growth", missing = "no memory";
  Table::Entry* e = nullptr;
  {
    ScopedAllocationFailure fail(0, 1);
    e = table.find_or_insert(grew.data(), grew.size());
    EXPECT_EQ(FailedAllocations(), 1);
  }
  ASSERT_NE(e, nullptr);
  model[grew] = "";
  EXPECT_EQ(table.bucket_count(), buckets);
  keys.push_back(missing);
  {
    ScopedAllocationFailure fail(0, 1000);
    e = table.find_or_insert(missing.data(), missing.size());
  }
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(table.bucket_count(), buckets);
  ExpectLookupsMatch(table, model, keys, "after failures");
  insert("grows again", "y");
  EXPECT_GT(table.bucket_count(), buckets);
  ExpectLookupsMatch(table, model, keys, "after growth");

  // Clear: no key is found, the buckets stay, and the table fills again.
  table.clear();
  model.clear();
  ExpectLookupsMatch(table, model, keys, "after clear");
  EXPECT_GT(table.bucket_count(), buckets);
  for (size_t i = 0; i < keys.size(); i += 5) insert(keys[i], "refilled");
  ExpectLookupsMatch(table, model, keys, "refilled");
}

}  // namespace
