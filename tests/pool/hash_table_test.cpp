#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "HashPool.h"
#include "ReferenceTable.h"
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

std::vector<std::pair<std::string, std::string>> Entries(const CHashPool& pool) {
  std::vector<std::pair<std::string, std::string>> all;
  for (auto* e = pool.Table().first(); e; e = pool.Table().next(e)) {
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
    ASSERT_EQ(Entries(pool), ref.Ordered()) << "step " << step;
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
