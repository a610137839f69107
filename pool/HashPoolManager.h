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
  // The same as Find, for the natives that only ask.
  static CHashPool* Peek(char const* name) { return Find(name); }
  static bool Remove(char const* name);
  static bool Remove(CHashPool* pool);
  static void RemoveAll();

  // Every entry holds an open pool: finding adds no entry and closing erases
  // the name, so the names scripts ask for do not pile up (its order is not
  // seen by scripts). The table is never destroyed: hosts unload plugins from
  // exit handlers, after static destructors ran. Unmapping the plugin only
  // empties it.
  static StringHashTable<CHashPool*>& m_pHashes;
  static uint32_t m_uiHashes;

 private:
  static bool Drop(char const* name, CHashPool* only);
};
