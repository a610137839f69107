#include "FailingAllocator.h"

#include <cstdlib>
#include <new>

namespace {
long g_succeed = -1;  // negative: never fail
long g_fail = 0;
long g_failed = 0;
}  // namespace

void FailAllocations(long succeed, long fail) {
  g_failed = 0;
  g_fail = fail;
  g_succeed = succeed;
}

void StopFailingAllocations() { g_succeed = -1; }

long FailedAllocations() { return g_failed; }

void* operator new(std::size_t size) {
  if (g_succeed == 0 && g_fail > 0) {
    --g_fail;
    ++g_failed;
    throw std::bad_alloc();
  }
  if (g_succeed > 0) --g_succeed;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
