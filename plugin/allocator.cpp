// The shipped plugin carries no C++ runtime: its allocations go straight to
// the C library. Only the forms the plugin uses are here, so a throwing new
// slipping into its code fails to link instead of reaching the host.
#include <cstdlib>
#include <new>

namespace std {
const nothrow_t nothrow{};
}  // namespace std

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size ? size : 1);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
