// pvtool's entry point on i386. The start files of new C libraries call
// __libc_start_main@GLIBC_2.34, which servers' old systems lack; this one
// calls the version every C library since 2.0 has, and so must run the
// program's constructors itself, as the start files of those libraries did.
// Destructors are left to the dynamic linker, which runs them on every one.
extern "C" {

typedef void (*Constructor)(int argc, char** argv, char** envp);
extern Constructor __preinit_array_start[] __attribute__((visibility("hidden")));
extern Constructor __preinit_array_end[] __attribute__((visibility("hidden")));
extern Constructor __init_array_start[] __attribute__((visibility("hidden")));
extern Constructor __init_array_end[] __attribute__((visibility("hidden")));

__attribute__((used)) void pvtool_init(int argc, char** argv, char** envp) {
  for (Constructor* c = __preinit_array_start; c < __preinit_array_end; ++c) (*c)(argc, argv, envp);
  for (Constructor* c = __init_array_start; c < __init_array_end; ++c) (*c)(argc, argv, envp);
}

// The C library's standard streams take the layout of 2.1 and later only
// when the program defines this, as the start files do.
__attribute__((visibility("default"), used)) extern const int _IO_stdin_used = 0x20001;

// Static destructors register against it.
__attribute__((visibility("hidden"))) void* __dso_handle = &__dso_handle;

}  // extern "C"

// As the C library's own: argc, argv and the stack end for
// __libc_start_main, %edx the dynamic linker's clean-up, the stack aligned.
__asm__(
    ".symver __libc_start_main,__libc_start_main@GLIBC_2.0\n"
    ".text\n"
    ".globl _start\n"
    ".type _start,@function\n"
    "_start:\n"
    "  xorl %ebp, %ebp\n"
    "  popl %esi\n"
    "  movl %esp, %ecx\n"
    "  andl $-16, %esp\n"
    "  pushl %eax\n"
    "  pushl %esp\n"
    "  pushl %edx\n"
    "  pushl $0\n"
    "  pushl $pvtool_init\n"
    "  pushl %ecx\n"
    "  pushl %esi\n"
    "  pushl $main\n"
    "  call __libc_start_main\n"
    "  hlt\n");
