#include "HashPool.h"

#include <cstring>

CHashPool::CHashPool(char const* name) : m_szFileName{}, m_Hash(100) { SetName(name); }

CHashPool::~CHashPool() { delete m_pJournal; }

void CHashPool::SetName(char const* name) {
  std::strncpy(m_szName, name, sizeof m_szName - 1);
  m_szName[sizeof m_szName - 1] = '\0';
}

bool CHashPool::Set(const char* key, size_t keyLen, const char* value, size_t valueLen) {
  bool inserted = false;
  Map::Entry* e = m_Hash.find_or_insert(key, keyLen, &inserted);
  if (e && e->value.assign(value, valueLen)) return true;
  if (e && inserted) m_Hash.erase(key, keyLen);
  return false;
}

// An empty value is not saved, so the journal takes it as a deletion.
int CHashPool::Add(char const* key, char const* value) {
  const size_t keyLen = std::strlen(key), valueLen = std::strlen(value);
  if (Set(key, keyLen, value, valueLen) && m_pJournal) {
    Record(valueLen ? Journal::kSet : Journal::kDelete, key, keyLen, value, valueLen);
  }
  return 1;
}

char const* CHashPool::Get(char const* key) {
  size_t valueLen;
  return Get(key, std::strlen(key), &valueLen);
}

char const* CHashPool::Get(char const* key, size_t keyLen, size_t* valueLen) {
  Map::Entry* e = m_Hash.find_or_insert(key, keyLen);
  *valueLen = e ? e->value.size() : 0;
  return e ? e->value.c_str() : "";
}

int CHashPool::Del(char const* key) {
  const size_t keyLen = std::strlen(key);
  if (m_Hash.erase(key, keyLen) && m_pJournal) Record(Journal::kDelete, key, keyLen, "", 0);
  return 1;
}

char const* CHashPool::GetIndex(unsigned int index) {
  const Map::Entry* e = m_Hash.at(index);
  return e ? e->value.c_str() : "";
}

char const* CHashPool::GetKey(unsigned int index) {
  const Map::Entry* e = m_Hash.at(index);
  return e ? e->key() : "";
}

bool CHashPool::Exists(char const* key) const {
  return m_Hash.find(key, std::strlen(key)) != nullptr;
}
