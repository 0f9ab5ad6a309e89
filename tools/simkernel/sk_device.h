// The device side of the simulated kernel (simkernel.cpp), as the
// interposed entry points (interpose.cpp) call it.  Each answers as the
// call it stands for: -1 with errno on failure; descriptors and paths that
// are no simulated device go to the machine's kernel.
#ifndef SIMKERNEL_SK_DEVICE_H
#define SIMKERNEL_SK_DEVICE_H

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <sys/types.h>

namespace sk::dev {

// The device's own system calls.
constexpr long kSysMSys = 401;
constexpr long kSysBuffer = 405;

// Whether a state folder is named: without one everything passes through.
bool active();

int doOpen(int dirfd, const char *path, int flags, mode_t mode);
ssize_t doRead(int fd, void *buf, size_t n, bool positional, off_t at);
ssize_t doWrite(int fd, const void *buf, size_t n, bool positional, off_t at);
off_t doLseek(int fd, off_t off, int whence);
int doIoctl(int fd, unsigned long req, void *arg);
long doSyscall(long n, long a);  // kSysMSys or kSysBuffer, while active
int doSysinfo(struct sysinfo *info);
int doFstat(int fd, struct stat *sb);
int doFstatat(int dirfd, const char *path, struct stat *sb, int flags);
int doStatx(int dirfd, const char *path, int flags, unsigned mask, struct statx *sx);
int doAccess(int dirfd, const char *path, int mode, int flags);

}  // namespace sk::dev

#endif
