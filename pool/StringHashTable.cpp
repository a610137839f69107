#include "StringHashTable.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace {

const uint32_t kBucketCounts[] = {
    53u,        97u,        193u,       389u,       769u,        1543u,       3079u,
    6151u,      12289u,     24593u,     49157u,     98317u,      196613u,     393241u,
    786433u,    1572869u,   3145739u,   6291469u,   12582917u,   25165843u,   50331653u,
    100663319u, 201326611u, 402653189u, 805306457u, 1610612741u, 3221225473u, 4294967291u,
};

// Calls `read` until `size` bytes came, or it failed other than by a signal.
template <typename Read>
bool ReadAll(unsigned char* out, size_t size, Read read) {
  for (size_t got = 0; got < size;) {
    const long n = read(out + got, size - got);
    if (n > 0) {
      got += size_t(n);
    } else if (n == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

// getrandom where the kernel has it, called directly since the C library's
// wrapper is newer than the oldest library we load into; else /dev/urandom.
bool FromKernel(unsigned char* out, size_t size) {
  if (ReadAll(out, size,
              [](unsigned char* p, size_t n) { return syscall(SYS_getrandom, p, n, 0); })) {
    return true;
  }
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok =
      ReadAll(out, size, [fd](unsigned char* p, size_t n) { return long(read(fd, p, n)); });
  close(fd);
  return ok;
}

LookupSecret g_secret;
bool g_drawn = false;

}  // namespace

LookupSecret DrawSecret() {
  LookupSecret secret{};
  if (!FromKernel(reinterpret_cast<unsigned char*>(&secret), sizeof secret)) {
    // Sandboxed without either source: the clock and where the loader put us
    // still differ between runs, which beats a fixed key.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    secret.k0 = uint64_t(now.tv_sec) * 1000000007u + uint64_t(now.tv_nsec);
    secret.k1 = uint64_t(uintptr_t(&g_secret)) ^ (uint64_t(getpid()) << 32);
    secret.seed0 = secret.k0 * 0x9e3779b97f4a7c15ull;
    secret.seed1 = secret.k1 * 0x9e3779b97f4a7c15ull;
  }
  return secret;
}

const LookupSecret& ProcessSecret() {
  if (!g_drawn) {
    g_secret = DrawSecret();
    g_drawn = true;
  }
  return g_secret;
}

uint32_t BucketCountFor(uint64_t wanted) {
  for (uint32_t count : kBucketCounts) {
    if (count >= wanted) return count;
  }
  return kBucketCounts[sizeof kBucketCounts / sizeof kBucketCounts[0] - 1];
}
