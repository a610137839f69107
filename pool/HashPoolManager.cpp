#include "HashPoolManager.h"

#include <cstring>
#include <new>

namespace {

typedef StringHashTable<CHashPool*> Registry;
alignas(Registry) unsigned char g_registry[sizeof(Registry)];

// Runs when the plugin is unmapped or the process ends; the registry stays
// usable after it, for an Unload that comes later still.
__attribute__((destructor)) void EmptyRegistry() {
  JournalSyncer::Stop();  // no thread may run code that is unmapped next
  CHashPoolManager::RemoveAll();
  CHashPoolManager::m_pHashes.release();
}

}  // namespace

StringHashTable<CHashPool*>& CHashPoolManager::m_pHashes = *new (g_registry) Registry(100);
uint32_t CHashPoolManager::m_uiHashes = 0;

CHashPool* CHashPoolManager::New(char const* name) {
  CHashPool* pool = new (std::nothrow) CHashPool(name);
  StringHashTable<CHashPool*>::Entry* e =
      pool && pool->Table().ok() ? m_pHashes.find_or_insert(name, std::strlen(name)) : nullptr;
  if (!e) {
    delete pool;
    return nullptr;
  }
  e->value = pool;
  ++m_uiHashes;
  return pool;
}

CHashPool* CHashPoolManager::Find(char const* name) { return Find(name, std::strlen(name)); }

CHashPool* CHashPoolManager::Find(char const* name, size_t len) {
  StringHashTable<CHashPool*>::Entry* e = m_pHashes.find(name, len);
  return e ? e->value : nullptr;
}

bool CHashPoolManager::Remove(char const* name) { return Drop(name, nullptr); }

bool CHashPoolManager::Remove(CHashPool* pool) { return pool && Drop(pool->Name(), pool); }

void CHashPoolManager::RemoveAll() {
  for (auto* e = m_pHashes.first(); e; e = m_pHashes.next(e)) delete e->value;
  m_uiHashes = 0;
  m_pHashes.clear();
}

// Erases the name and destroys its pool; refuses a name without a pool, or
// whose pool is not `only` when that is given. Closing drops the pool's
// unsaved changes, and so its journal; unloading keeps journals.
bool CHashPoolManager::Drop(char const* name, CHashPool* only) {
  const size_t len = std::strlen(name);
  StringHashTable<CHashPool*>::Entry* e = m_pHashes.find(name, len);
  CHashPool* pool = e ? e->value : nullptr;
  if (!pool || (only && pool != only)) return false;
  m_pHashes.erase(name, len);  // before the pool goes: the name may be its own
  --m_uiHashes;
  pool->CloseJournal(true);
  delete pool;
  return true;
}
