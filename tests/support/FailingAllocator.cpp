#include "FailingAllocator.h"

#include <cstdlib>
#include <new>

namespace {
long g_succeed = -1;  // negative: never fail
long g_fail = 0;
long g_failed = 0;

void* Allocate(std::size_t size) {
  if (g_succeed == 0 && g_fail > 0) {
    --g_fail;
    ++g_failed;
    return nullptr;
  }
  if (g_succeed > 0) --g_succeed;
  return std::malloc(size ? size : 1);
}

void* AllocateOrThrow(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void FailAllocations(long succeed, long fail) {
  g_failed = 0;
  g_fail = fail;
  g_succeed = succeed;
}

void StopFailingAllocations() { g_succeed = -1; }

long FailedAllocations() { return g_failed; }

// Every form is replaced, so that no runtime (the C++ library, a sanitizer or
// valgrind) hands out memory that bypasses the count or frees it unlike ours.
void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
