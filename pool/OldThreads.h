// Threads through the C library's oldest interfaces. On i386, recent C
// libraries export these under new symbol versions that older systems lack;
// the forms bound here have been there since 2.3.2, in libpthread.so.0 on
// systems older than 2.34, which the plugin therefore needs.
#pragma once

#include <pthread.h>

#if defined(__i386__)
__asm__(".symver pthread_create,pthread_create@GLIBC_2.1");
__asm__(".symver pthread_join,pthread_join@GLIBC_2.0");
__asm__(".symver __register_atfork,__register_atfork@GLIBC_2.3.2");
#endif

// What pthread_atfork calls; pthread_atfork itself is linked statically into
// each program, never exported. Handlers registered with a library's handle
// are dropped when the library is unloaded.
extern "C" int __register_atfork(void (*prepare)(), void (*parent)(), void (*child)(),
                                 void* handle);
extern "C" void* __dso_handle;
