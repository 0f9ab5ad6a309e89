// The entry points libsimkernel.so interposes: 43 libc symbols, each
// handed to the device side (sk_device.h), which passes everything that is
// no simulated device on to the machine's kernel.
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include "sk_device.h"
#include "sk_raw.h"

using namespace sk;
using namespace sk::dev;

namespace {

// open's third argument is there only when the flags ask for a mode.
int openMode(int flags, va_list ap) {
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) return va_arg(ap, int);
    return 0;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int open(const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    int mode = openMode(flags, ap);
    va_end(ap);
    return doOpen(AT_FDCWD, path, flags, mode_t(mode));
}

__attribute__((visibility("default"))) int open64(const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    int mode = openMode(flags, ap);
    va_end(ap);
    return doOpen(AT_FDCWD, path, flags | O_LARGEFILE, mode_t(mode));
}

__attribute__((visibility("default"))) int openat(int dirfd, const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    int mode = openMode(flags, ap);
    va_end(ap);
    return doOpen(dirfd, path, flags, mode_t(mode));
}

__attribute__((visibility("default"))) int openat64(int dirfd, const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    int mode = openMode(flags, ap);
    va_end(ap);
    return doOpen(dirfd, path, flags | O_LARGEFILE, mode_t(mode));
}

__attribute__((visibility("default"))) int __open_2(const char *path, int flags) {
    return doOpen(AT_FDCWD, path, flags, 0);
}
__attribute__((visibility("default"))) int __open64_2(const char *path, int flags) {
    return doOpen(AT_FDCWD, path, flags | O_LARGEFILE, 0);
}
__attribute__((visibility("default"))) int __openat_2(int dirfd, const char *path, int flags) {
    return doOpen(dirfd, path, flags, 0);
}
__attribute__((visibility("default"))) int __openat64_2(int dirfd, const char *path, int flags) {
    return doOpen(dirfd, path, flags | O_LARGEFILE, 0);
}

__attribute__((visibility("default"))) ssize_t read(int fd, void *buf, size_t n) {
    return doRead(fd, buf, n, false, 0);
}
__attribute__((visibility("default"))) ssize_t __read_chk(int fd, void *buf, size_t n, size_t cap) {
    if (n > cap) abort();
    return doRead(fd, buf, n, false, 0);
}
__attribute__((visibility("default"))) ssize_t pread(int fd, void *buf, size_t n, off_t at) {
    return doRead(fd, buf, n, true, at);
}
__attribute__((visibility("default"))) ssize_t pread64(int fd, void *buf, size_t n, off64_t at) {
    return doRead(fd, buf, n, true, at);
}
__attribute__((visibility("default"))) ssize_t __pread_chk(int fd, void *buf, size_t n, off_t at,
                                                           size_t cap) {
    if (n > cap) abort();
    return doRead(fd, buf, n, true, at);
}
__attribute__((visibility("default"))) ssize_t __pread64_chk(int fd, void *buf, size_t n,
                                                             off64_t at, size_t cap) {
    if (n > cap) abort();
    return doRead(fd, buf, n, true, at);
}
__attribute__((visibility("default"))) ssize_t write(int fd, const void *buf, size_t n) {
    return doWrite(fd, buf, n, false, 0);
}
__attribute__((visibility("default"))) ssize_t pwrite(int fd, const void *buf, size_t n, off_t at) {
    return doWrite(fd, buf, n, true, at);
}
__attribute__((visibility("default"))) ssize_t pwrite64(int fd, const void *buf, size_t n,
                                                        off64_t at) {
    return doWrite(fd, buf, n, true, at);
}

__attribute__((visibility("default"))) off_t lseek(int fd, off_t off, int whence) noexcept {
    return doLseek(fd, off, whence);
}
__attribute__((visibility("default"))) off64_t lseek64(int fd, off64_t off, int whence) noexcept {
    return doLseek(fd, off, whence);
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long req, ...) noexcept {
    va_list ap;
    va_start(ap, req);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    return doIoctl(fd, req, arg);
}

__attribute__((visibility("default"))) long syscall(long n, ...) noexcept {
    va_list ap;
    va_start(ap, n);
    long a[6];
    for (long &v : a) v = va_arg(ap, long);
    va_end(ap);
    if (n == kSysMSys || n == kSysBuffer) {
        // Device-specific numbers: never let them reach this machine's kernel.
        if (!active()) {
            errno = ENOSYS;
            return -1;
        }
        return doSyscall(n, a[0]);
    }
    if (n == SYS_sysinfo) return doSysinfo(reinterpret_cast<struct sysinfo *>(a[0]));
    return ret(raw(n, a[0], a[1], a[2], a[3], a[4], a[5]));
}

__attribute__((visibility("default"))) int sysinfo(struct sysinfo *info) noexcept {
    return doSysinfo(info);
}

__attribute__((visibility("default"))) int fstat(int fd, struct stat *sb) noexcept {
    return doFstat(fd, sb);
}
__attribute__((visibility("default"))) int fstat64(int fd, struct stat64 *sb) noexcept {
    return doFstat(fd, reinterpret_cast<struct stat *>(sb));
}
__attribute__((visibility("default"))) int stat(const char *path, struct stat *sb) noexcept {
    return doFstatat(AT_FDCWD, path, sb, 0);
}
__attribute__((visibility("default"))) int stat64(const char *path, struct stat64 *sb) noexcept {
    return doFstatat(AT_FDCWD, path, reinterpret_cast<struct stat *>(sb), 0);
}
__attribute__((visibility("default"))) int lstat(const char *path, struct stat *sb) noexcept {
    return doFstatat(AT_FDCWD, path, sb, AT_SYMLINK_NOFOLLOW);
}
__attribute__((visibility("default"))) int lstat64(const char *path, struct stat64 *sb) noexcept {
    return doFstatat(AT_FDCWD, path, reinterpret_cast<struct stat *>(sb), AT_SYMLINK_NOFOLLOW);
}
__attribute__((visibility("default"))) int fstatat(int dirfd, const char *path, struct stat *sb,
                                                   int flags) noexcept {
    return doFstatat(dirfd, path, sb, flags);
}
__attribute__((visibility("default"))) int fstatat64(int dirfd, const char *path,
                                                     struct stat64 *sb, int flags) noexcept {
    return doFstatat(dirfd, path, reinterpret_cast<struct stat *>(sb), flags);
}
__attribute__((visibility("default"))) int statx(int dirfd, const char *path, int flags,
                                                 unsigned mask, struct statx *sx) noexcept {
    return doStatx(dirfd, path, flags, mask, sx);
}

// Old binaries reach stat through these versioned entry points.
__attribute__((visibility("default"))) int __fxstat(int, int fd, struct stat *sb) {
    return doFstat(fd, sb);
}
__attribute__((visibility("default"))) int __fxstat64(int, int fd, struct stat *sb) {
    return doFstat(fd, sb);
}
__attribute__((visibility("default"))) int __xstat(int, const char *path, struct stat *sb) {
    return doFstatat(AT_FDCWD, path, sb, 0);
}
__attribute__((visibility("default"))) int __xstat64(int, const char *path, struct stat *sb) {
    return doFstatat(AT_FDCWD, path, sb, 0);
}
__attribute__((visibility("default"))) int __lxstat(int, const char *path, struct stat *sb) {
    return doFstatat(AT_FDCWD, path, sb, AT_SYMLINK_NOFOLLOW);
}
__attribute__((visibility("default"))) int __lxstat64(int, const char *path, struct stat *sb) {
    return doFstatat(AT_FDCWD, path, sb, AT_SYMLINK_NOFOLLOW);
}
__attribute__((visibility("default"))) int __fxstatat(int, int dirfd, const char *path,
                                                      struct stat *sb, int flags) {
    return doFstatat(dirfd, path, sb, flags);
}
__attribute__((visibility("default"))) int __fxstatat64(int, int dirfd, const char *path,
                                                        struct stat *sb, int flags) {
    return doFstatat(dirfd, path, sb, flags);
}

__attribute__((visibility("default"))) int access(const char *path, int mode) noexcept {
    return doAccess(AT_FDCWD, path, mode, 0);
}
__attribute__((visibility("default"))) int faccessat(int dirfd, const char *path, int mode,
                                                     int flags) noexcept {
    return doAccess(dirfd, path, mode, flags);
}
__attribute__((visibility("default"))) int euidaccess(const char *path, int mode) noexcept {
    return doAccess(AT_FDCWD, path, mode, AT_EACCESS);
}
__attribute__((visibility("default"))) int eaccess(const char *path, int mode) noexcept {
    return doAccess(AT_FDCWD, path, mode, AT_EACCESS);
}

}  // extern "C"
