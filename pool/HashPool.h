// One named pool of string keys and string values.
#pragma once

#include "PoolValue.h"
#include "StringHashTable.h"

class CHashPool {
 public:
  typedef StringHashTable<PoolValue> Map;

  explicit CHashPool(char const* name);
  ~CHashPool() = default;
  CHashPool(const CHashPool&) = delete;
  CHashPool& operator=(const CHashPool&) = delete;

  int Add(char const* key, char const* value);
  // Inserts a missing key with an empty value. The text stays valid until the
  // pool's next operation.
  char const* Get(char const* key);
  int Del(char const* key);
  // The value of the entry at that position of the iteration order, or "".
  char const* GetIndex(unsigned int index);

  char m_szName[128];
  char m_szFileName[252];
  Map m_Hash;
};
