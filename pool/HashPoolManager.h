// The registry of open pools by full name. It alone creates and destroys
// pools; nothing in it ever saves one.
#pragma once

#include <cstdint>

#include "HashPool.h"

class CHashPoolManager {
 public:
  static CHashPool* New(char const* name);
  static CHashPool* Find(char const* name);
  static CHashPool* Find(char const* name, size_t len);
  // As Find, but adds no entry for an unknown name and runs no growth check.
  static CHashPool* Peek(char const* name);
  static bool Remove(char const* name);
  static bool Remove(CHashPool* pool);
  static void RemoveAll();

  // A name whose pool was removed keeps its entry, holding no pool. The
  // table is never destroyed: hosts unload plugins from exit handlers, after
  // static destructors ran. Unmapping the plugin only empties it.
  static StringHashTable<CHashPool*>& m_pHashes;
  static uint32_t m_uiHashes;

 private:
  static void Destroy(StringHashTable<CHashPool*>::Entry* e);
};
