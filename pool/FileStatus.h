// stat and fstat. On i386 recent C libraries export them under new symbol
// versions that older systems lack; the forms bound here have been in every
// C library since 2.2, so the plugin still loads where servers really run.
#pragma once

#include <sys/stat.h>

#if defined(__i386__)
#if !defined(_FILE_OFFSET_BITS) || _FILE_OFFSET_BITS != 64
#error "i386 builds need the large-file struct stat that these functions fill"
#endif
extern "C" int __xstat64(int version, const char* path, struct stat* st);
extern "C" int __fxstat64(int version, int fd, struct stat* st);
__asm__(".symver __xstat64,__xstat64@GLIBC_2.2");
__asm__(".symver __fxstat64,__fxstat64@GLIBC_2.2");

const int kStatVersion = 3;  // the i386 C library's current struct stat layout
inline int PathStatus(const char* path, struct stat* st) {
  return __xstat64(kStatVersion, path, st);
}
inline int DescriptorStatus(int fd, struct stat* st) { return __fxstat64(kStatVersion, fd, st); }
#else
inline int PathStatus(const char* path, struct stat* st) { return stat(path, st); }
inline int DescriptorStatus(int fd, struct stat* st) { return fstat(fd, st); }
#endif
