#include <gtest/gtest.h>

#include <string>

#include "FailingAllocator.h"
#include "HashPool.h"

namespace {

TEST(Pool, FreshPool) {
  CHashPool pool("scores");
  EXPECT_STREQ(pool.Name(), "scores");
  EXPECT_STREQ(pool.FileName(), "");
  EXPECT_EQ(pool.Table().bucket_count(), 193u);
  EXPECT_STREQ(pool.GetIndex(0), "");
}

TEST(Pool, LongNameKeeps127Characters) {
  std::string name(200, 'n');
  name[126] = 'x';
  CHashPool pool(name.c_str());
  EXPECT_EQ(std::string(pool.Name()), name.substr(0, 127));
}

TEST(Pool, AddReplacesInPlace) {
  CHashPool pool("p");
  pool.Add("k", "1");
  pool.Add("z", "other");
  const std::string before = pool.GetIndex(0);
  EXPECT_EQ(pool.Add("k", "2"), 1);
  EXPECT_EQ(pool.Table().size(), 2u);
  EXPECT_STREQ(pool.Get("k"), "2");
  EXPECT_EQ(before == "1" ? std::string(pool.GetIndex(0)) : std::string(pool.GetIndex(1)), "2");
}

TEST(Pool, AddAcceptsItsOwnValueText) {
  CHashPool pool("p");
  pool.Add("k", "a fairly long value that needs its own buffer");
  pool.Add("k", pool.Get("k") + 2);
  EXPECT_STREQ(pool.Get("k"), "fairly long value that needs its own buffer");
}

TEST(Pool, GetOfMissingKeyLeavesEmptyEntry) {
  CHashPool pool("p");
  EXPECT_STREQ(pool.Get("ghost"), "");
  EXPECT_EQ(pool.Table().size(), 1u);
  EXPECT_STREQ(pool.GetIndex(0), "");
  EXPECT_STREQ(pool.GetIndex(1), "");
}

TEST(Pool, DelOfMissingKeyChangesNothing) {
  CHashPool pool("p");
  pool.Add("a", "1");
  EXPECT_EQ(pool.Del("b"), 1);
  EXPECT_EQ(pool.Table().size(), 1u);
  EXPECT_EQ(pool.Del("a"), 1);
  EXPECT_EQ(pool.Table().size(), 0u);
  EXPECT_EQ(pool.Table().bucket_count(), 193u);
}

TEST(Pool, SharedBucketListsNewestFirst) {
  CHashPool pool("p");
  pool.Add("abc", "third");
  pool.Add("a", "A");
  pool.Add("02", "Z");
  EXPECT_STREQ(pool.GetIndex(0), "Z");
  EXPECT_STREQ(pool.GetIndex(1), "A");
  EXPECT_STREQ(pool.GetIndex(2), "third");
  pool.Del("02");
  EXPECT_STREQ(pool.GetIndex(0), "A");
  EXPECT_STREQ(pool.GetIndex(1), "third");
}

TEST(Pool, GetIndexPastTheEnd) {
  CHashPool pool("p");
  pool.Add("a", "1");
  for (unsigned int index : {1u, 193u, 4294967295u}) EXPECT_STREQ(pool.GetIndex(index), "");
}

TEST(Pool, EmptyKeyIsAKey) {
  CHashPool pool("p");
  pool.Add("", "nothing");
  EXPECT_STREQ(pool.Get(""), "nothing");
  EXPECT_EQ(pool.Table().size(), 1u);
}

TEST(PoolOutOfMemory, FailedRehashKeepsTableWorking) {
  CHashPool pool("p");
  for (int i = 0; i < 193; ++i) pool.Add(std::to_string(i).c_str(), "v");
  {
    ScopedAllocationFailure fail(0, 1);  // the new bucket array
    pool.Add("new", "value");
    EXPECT_EQ(FailedAllocations(), 1);
  }
  EXPECT_EQ(pool.Table().bucket_count(), 193u);
  EXPECT_EQ(pool.Table().size(), 194u);
  EXPECT_STREQ(pool.Get("new"), "value");  // grows now that memory is back
  EXPECT_EQ(pool.Table().bucket_count(), 389u);
  for (int i = 0; i < 193; ++i) EXPECT_STREQ(pool.Get(std::to_string(i).c_str()), "v");
}

TEST(PoolOutOfMemory, FailedInsertionLeavesTableUnchanged) {
  CHashPool pool("p");
  pool.Add("kept", "1");
  for (long succeed : {0L, 1L}) {  // the entry itself, then its value
    ScopedAllocationFailure fail(succeed, 1000);
    EXPECT_EQ(pool.Add("a key long enough to allocate", "a value long enough to allocate"), 1);
    EXPECT_STREQ(pool.Get("missing"), "");
    EXPECT_EQ(pool.Table().size(), 1u) << "succeed " << succeed;
  }
  EXPECT_STREQ(pool.Get("kept"), "1");
}

TEST(PoolOutOfMemory, FailedReplacementKeepsOldValue) {
  CHashPool pool("p");
  pool.Add("k", "short");
  {
    ScopedAllocationFailure fail(0, 1000);
    pool.Add("k", "a much longer value that cannot reuse the old buffer");
  }
  EXPECT_STREQ(pool.Get("k"), "short");
}

}  // namespace
