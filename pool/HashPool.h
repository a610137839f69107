// One named pool of string keys and string values, with its counters and its
// file under "scriptfiles/".
#pragma once

#include <cstddef>

#include "PoolValue.h"
#include "StringHashTable.h"

// True when every character is a decimal digit; true for the empty text.
bool IsNum(const char* text);

class CHashPool {
 public:
  typedef StringHashTable<PoolValue> Map;

  explicit CHashPool(char const* name);
  ~CHashPool() = default;
  CHashPool(const CHashPool&) = delete;
  CHashPool& operator=(const CHashPool&) = delete;

  // Keeps the first 127 characters.
  void SetName(char const* name);

  int Add(char const* key, char const* value);
  // Inserts a missing key with an empty value. The text stays valid until the
  // pool's next operation.
  char const* Get(char const* key);
  int Del(char const* key);
  // The value of the entry at that position of the iteration order, or "".
  char const* GetIndex(unsigned int index);

  // Step the decimal counter under the key; 0 when its text is not all digits.
  int Inc(char const* key, unsigned int amount);
  int Dec(char const* key, int amount);

  // Binds the pool to a path under "scriptfiles/"; a path that would climb
  // out with ".." leaves no file bound.
  void SetFileName(char const* name);
  // 1 when the whole pool reached the file; on failure the old file stays.
  int Save();
  // 1 when the file was read; then the pool holds exactly the file's records.
  // 0 when some could not be read or stored for want of memory: the pool then
  // keeps what it got but no file, so that no save can drop the rest.
  int Load();

  char m_szName[128];
  char m_szFileName[252];
  Map m_Hash;

 private:
  // Find or insert the key, then store the value; a new key whose value cannot
  // be stored is taken out again. False when the value was not stored.
  bool Set(const char* key, size_t keyLen, const char* value, size_t valueLen);
  int Count(char const* key, unsigned int delta);
};
