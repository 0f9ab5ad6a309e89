// System calls by the raw syscall instruction, for the preloaded library:
// its own calls must not come back to its interposed read(), open() or
// syscall().  This is the part tied to x86-64.
#ifndef SIMKERNEL_SK_RAW_H
#define SIMKERNEL_SK_RAW_H

#include <errno.h>
#include <stdint.h>

#if !defined(__x86_64__)
#error "the simulated device kernel issues raw x86-64 system calls"
#endif

namespace sk {

inline long raw(long n, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0, long f = 0) {
    unsigned long ret;
    register long r10 __asm__("r10") = d;
    register long r8 __asm__("r8") = e;
    register long r9 __asm__("r9") = f;
    __asm__ volatile("syscall"
                     : "=a"(ret)
                     : "a"(n), "D"(a), "S"(b), "d"(c), "r"(r10), "r"(r8), "r"(r9)
                     : "rcx", "r11", "memory");
    return long(ret);
}

inline bool isErr(long r) { return r < 0 && r > -4096; }

// A raw result as libc gives it: -1 with errno.
inline long ret(long r) {
    if (isErr(r)) {
        errno = int(-r);
        return -1;
    }
    return r;
}

inline long L(const void *p) { return long(reinterpret_cast<uintptr_t>(p)); }

}  // namespace sk

#endif
