#include "HashPoolManager.h"

#include <cstring>
#include <new>

namespace {

typedef StringHashTable<CHashPool*> Registry;
alignas(Registry) unsigned char g_registry[sizeof(Registry)];

// Runs when the plugin is unmapped or the process ends; the registry stays
// usable after it, for an Unload that comes later still.
__attribute__((destructor)) void EmptyRegistry() {
  CHashPoolManager::RemoveAll();
  CHashPoolManager::m_pHashes.release();
}

StringHashTable<CHashPool*>::Entry* Lookup(char const* name, size_t len) {
  return CHashPoolManager::m_pHashes.find_or_insert(name, len);
}

StringHashTable<CHashPool*>::Entry* Lookup(char const* name) {
  return Lookup(name, std::strlen(name));
}

}  // namespace

StringHashTable<CHashPool*>& CHashPoolManager::m_pHashes = *new (g_registry) Registry(100);
uint32_t CHashPoolManager::m_uiHashes = 0;

CHashPool* CHashPoolManager::New(char const* name) {
  CHashPool* pool = new (std::nothrow) CHashPool(name);
  StringHashTable<CHashPool*>::Entry* e = pool && pool->Table().ok() ? Lookup(name) : nullptr;
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
  StringHashTable<CHashPool*>::Entry* e = Lookup(name, len);
  return e ? e->value : nullptr;
}

CHashPool* CHashPoolManager::Peek(char const* name) {
  StringHashTable<CHashPool*>::Entry* e = m_pHashes.find(name, std::strlen(name));
  return e ? e->value : nullptr;
}

bool CHashPoolManager::Remove(char const* name) {
  StringHashTable<CHashPool*>::Entry* e = Lookup(name);
  if (!e || !e->value) return false;
  Destroy(e);
  return true;
}

bool CHashPoolManager::Remove(CHashPool* pool) {
  if (!pool) return false;
  StringHashTable<CHashPool*>::Entry* e = Lookup(pool->Name());
  if (!e || e->value != pool) return false;
  Destroy(e);
  return true;
}

void CHashPoolManager::RemoveAll() {
  for (auto* e = m_pHashes.first(); e; e = m_pHashes.next(e)) {
    delete e->value;
    e->value = nullptr;
  }
  m_uiHashes = 0;
  m_pHashes.clear();
}

// Closing drops the pool's unsaved changes, and so its journal; unloading
// keeps journals for the next load to replay.
void CHashPoolManager::Destroy(StringHashTable<CHashPool*>::Entry* e) {
  CHashPool* pool = e->value;
  e->value = nullptr;
  --m_uiHashes;
  pool->CloseJournal(true);
  delete pool;
}
