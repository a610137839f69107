#include <gtest/gtest.h>

#include <string>

#include "FailingAllocator.h"
#include "HashPoolManager.h"

namespace {

class Registry : public ::testing::Test {
 protected:
  void TearDown() override { CHashPoolManager::RemoveAll(); }
};

TEST_F(Registry, StartsEmptyWith193Buckets) {
  EXPECT_EQ(CHashPoolManager::m_pHashes.bucket_count(), 193u);
  EXPECT_EQ(CHashPoolManager::Find("x"), nullptr);
  EXPECT_EQ(CHashPoolManager::m_uiHashes, 0u);
  EXPECT_EQ(CHashPoolManager::m_pHashes.size(), 0u) << "a lookup adds no entry";
}

TEST_F(Registry, KeepsNoNameOfAClosedOrNeverOpenedPool) {
  // As HLoad and HClose do, then natives on the closed name and on names
  // never opened; a hundred thousand names must not pile up.
  for (int i = 0; i < 100000; ++i) {
    const std::string name = "account" + std::to_string(i);
    ASSERT_EQ(CHashPoolManager::Find(name.c_str()), nullptr);
    ASSERT_NE(CHashPoolManager::New(name.c_str()), nullptr);
    ASSERT_TRUE(CHashPoolManager::Remove(name.c_str()));
    ASSERT_EQ(CHashPoolManager::Find(name.c_str(), name.size()), nullptr);
    ASSERT_FALSE(CHashPoolManager::Remove(("typo" + name).c_str()));
    ASSERT_EQ(CHashPoolManager::Peek(("typo" + name).c_str()), nullptr);
  }
  EXPECT_EQ(CHashPoolManager::m_pHashes.size(), 0u);
  EXPECT_EQ(CHashPoolManager::m_uiHashes, 0u);
  EXPECT_LT(CHashPoolManager::m_pHashes.bucket_count(), 1000u) << "no growth for names asked for";
}

TEST_F(Registry, NewFindRemove) {
  CHashPool* pool = CHashPoolManager::New("x");
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(CHashPoolManager::Find("x"), pool);
  EXPECT_EQ(CHashPoolManager::m_uiHashes, 1u);
  EXPECT_TRUE(CHashPoolManager::Remove("x"));
  EXPECT_EQ(CHashPoolManager::m_uiHashes, 0u);
  EXPECT_FALSE(CHashPoolManager::Remove("x"));
  EXPECT_EQ(CHashPoolManager::m_uiHashes, 0u);
  EXPECT_EQ(CHashPoolManager::Find("x"), nullptr);

  CHashPool* fresh = CHashPoolManager::New("x");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->Table().size(), 0u);
  EXPECT_EQ(CHashPoolManager::Find("x"), fresh);
}

TEST_F(Registry, PeekFindsButAddsNothing) {
  CHashPool* pool = CHashPoolManager::New("x");
  const uint32_t entries = CHashPoolManager::m_pHashes.size();
  EXPECT_EQ(CHashPoolManager::Peek("x"), pool);
  EXPECT_EQ(CHashPoolManager::Peek("never"), nullptr);
  EXPECT_EQ(CHashPoolManager::m_pHashes.size(), entries);
}

TEST_F(Registry, NamesAreExact) {
  CHashPoolManager::New("x");
  for (const char* other : {"X", "x ", " x", ""}) {
    EXPECT_EQ(CHashPoolManager::Find(other), nullptr) << "'" << other << "'";
  }
}

TEST_F(Registry, LongNamesRegisterWhole) {
  const std::string name(200, 'n');
  CHashPool* pool = CHashPoolManager::New(name.c_str());
  EXPECT_EQ(CHashPoolManager::Find(name.c_str()), pool);
  EXPECT_EQ(CHashPoolManager::Find(name.substr(0, 127).c_str()), nullptr);
  EXPECT_EQ(std::string(pool->Name()), name.substr(0, 127));
}

TEST_F(Registry, RemoveByPool) {
  CHashPool* pool = CHashPoolManager::New("y");
  EXPECT_FALSE(CHashPoolManager::Remove(static_cast<CHashPool*>(nullptr)));
  EXPECT_TRUE(CHashPoolManager::Remove(pool));
  EXPECT_EQ(CHashPoolManager::Find("y"), nullptr);
  EXPECT_EQ(CHashPoolManager::m_uiHashes, 0u);
  EXPECT_EQ(CHashPoolManager::m_pHashes.size(), 0u);
}

TEST_F(Registry, RemoveByPoolRefusesAPoolItsNameDoesNotReach) {
  // The stored name is cut to 127 characters and would name another entry:
  // refuse rather than leave the real entry pointing at a freed pool.
  const std::string name(200, 'n');
  CHashPool* pool = CHashPoolManager::New(name.c_str());
  EXPECT_FALSE(CHashPoolManager::Remove(pool));
  EXPECT_EQ(CHashPoolManager::Find(name.c_str()), pool);
  EXPECT_EQ(CHashPoolManager::m_uiHashes, 1u);
}

TEST_F(Registry, RemoveAll) {
  CHashPoolManager::New("a")->Add("k", "v");
  CHashPoolManager::New("b");
  CHashPoolManager::New("gone");
  CHashPoolManager::Remove("gone");
  const uint32_t buckets = CHashPoolManager::m_pHashes.bucket_count();
  CHashPoolManager::RemoveAll();
  EXPECT_EQ(CHashPoolManager::m_uiHashes, 0u);
  EXPECT_EQ(CHashPoolManager::m_pHashes.size(), 0u);
  EXPECT_EQ(CHashPoolManager::m_pHashes.bucket_count(), buckets);
  for (const char* name : {"a", "b", "gone"}) EXPECT_EQ(CHashPoolManager::Find(name), nullptr);
  CHashPoolManager::RemoveAll();
  EXPECT_EQ(CHashPoolManager::m_uiHashes, 0u);
}

TEST_F(Registry, NewWithoutMemoryRegistersNothing) {
  for (long succeed : {0L, 1L, 2L}) {  // the pool, its buckets, its registry entry
    const std::string name = "oom" + std::to_string(succeed);
    {
      ScopedAllocationFailure fail(succeed, 1000);
      EXPECT_EQ(CHashPoolManager::New(name.c_str()), nullptr) << name;
    }
    EXPECT_EQ(CHashPoolManager::m_uiHashes, 0u);
    EXPECT_EQ(CHashPoolManager::Find(name.c_str()), nullptr);
  }
}

}  // namespace
