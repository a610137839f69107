#include "PoolAccess.h"

#include <errno.h>

#include <cstdio>

#include "Output.h"

int LoadFile(CHashPool& pool, const char* path) {
  if (!pool.BindPath(path)) return ENAMETOOLONG;
  return pool.Load() ? 0 : pool.FileError();
}

void PrintEntry(const CHashPool::Map::Entry& e, const char* mark) {
  PrintText(stdout, e.key(), e.keyLen);
  std::fputs(" = ", stdout);
  PrintText(stdout, e.value.c_str(), e.value.size());
  if (mark) std::printf("  %s", mark);
  std::fputc('\n', stdout);
}
