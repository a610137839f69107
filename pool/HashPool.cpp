#include "HashPool.h"

#include <cstring>

CHashPool::CHashPool(char const* name) : m_szFileName{}, m_Hash(100) { SetName(name); }

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

int CHashPool::Add(char const* key, char const* value) {
  Set(key, std::strlen(key), value, std::strlen(value));
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
  m_Hash.erase(key, std::strlen(key));
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
