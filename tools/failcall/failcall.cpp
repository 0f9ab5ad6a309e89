// The replaced calls: each asks whether the armed rule takes it, and
// otherwise hands over to the next definition (the C library's, or a
// sanitizer's in front of it).
#include "failcall.h"

#include <crypt.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace failcall {
namespace {

// Plain storage, so the calls stay usable before and after the test's
// own objects live.
struct State {
    std::atomic<bool> armed{false};
    Call call = Call::Fsync;
    char prefix[PATH_MAX] = {};
    int err = EIO;
    int times = 1;
    int nth = 1;
    std::atomic<int> seen{0};
    std::atomic<int> fired{0};
};

State gState;

bool PrefixOf(const char *path)
{
    return strncmp(path, gState.prefix, strlen(gState.prefix)) == 0;
}

bool PathMatches(int fd)
{
    if (gState.prefix[0] == '\0')
        return true;
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[PATH_MAX];
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n < 0)
        return false;
    path[n] = '\0';
    return strncmp(path, gState.prefix, strlen(gState.prefix)) == 0;
}

// True when this call is to fail; fd < 0 for calls without a descriptor,
// path the one a call names instead.
bool Takes(Call call, int fd, const char *path = nullptr)
{
    if (!gState.armed.load() || gState.call != call)
        return false;
    if (gState.times != 0 && gState.fired.load() >= gState.times)
        return false;
    if (fd >= 0 && !PathMatches(fd))
        return false;
    if (path != nullptr && !PrefixOf(path))
        return false;
    if (gState.seen.fetch_add(1) + 1 < gState.nth)
        return false;
    gState.fired.fetch_add(1);
    return true;
}

template <typename Fn>
Fn Next(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

void Arm(const Rule &rule)
{
    gState.armed = false;
    gState.call = rule.call;
    snprintf(gState.prefix, sizeof gState.prefix, "%s", rule.pathPrefix.c_str());
    gState.err = rule.err;
    gState.times = rule.times;
    gState.nth = rule.nth;
    gState.seen = 0;
    gState.fired = 0;
    gState.armed = true;
}

void Disarm()
{
    gState.armed = false;
}

int Fired()
{
    return gState.fired.load();
}

}  // namespace failcall

using failcall::Call;
using failcall::gState;
using failcall::Takes;

extern "C" int fsync(int fd)
{
    if (Takes(Call::Fsync, fd)) {
        errno = gState.err;
        return -1;
    }
    return static_cast<int>(syscall(SYS_fsync, fd));
}

extern "C" int rename(const char *oldpath, const char *newpath)
{
    if (Takes(Call::Rename, -1, newpath)) {
        errno = gState.err;
        return -1;
    }
    return static_cast<int>(syscall(SYS_renameat2, AT_FDCWD, oldpath, AT_FDCWD, newpath, 0));
}

extern "C" int fchown(int fd, uid_t owner, gid_t group)
{
    if (Takes(Call::Fchown, fd)) {
        errno = gState.err;
        return -1;
    }
    return static_cast<int>(syscall(SYS_fchown, fd, owner, group));
}

extern "C" int fchmod(int fd, mode_t mode)
{
    if (Takes(Call::Fchmod, fd)) {
        errno = gState.err;
        return -1;
    }
    return static_cast<int>(syscall(SYS_fchmod, fd, mode));
}

extern "C" ssize_t write(int fd, const void *buf, size_t n)
{
    if (n > 0 && Takes(Call::Write, fd)) {
        if (gState.err == 0)
            return 0;
        errno = gState.err;
        return -1;
    }
    // Handed on, not issued: a preloaded stand-in (the simulated devices)
    // must still see the write.
    static auto next = failcall::Next<ssize_t (*)(int, const void *, size_t)>("write");
    return next(fd, buf, n);
}

// The stream is closed as asked; only the result says it failed, as after
// a close whose deferred write-back went wrong.
extern "C" int fclose(FILE *fp)
{
    static auto next = failcall::Next<int (*)(FILE *)>("fclose");
    const bool fail = fp != nullptr && Takes(Call::Fclose, fileno(fp));
    int rc = next(fp);
    if (fail) {
        errno = gState.err;
        return EOF;
    }
    return rc;
}

extern "C" pid_t waitpid(pid_t pid, int *status, int options)
{
    if (Takes(Call::Waitpid, -1)) {
        int lost = 0;
        while (wait4(pid, &lost, options, nullptr) < 0 && errno == EINTR) {
        }
        errno = gState.err;
        return -1;
    }
    return wait4(pid, status, options, nullptr);
}

// Passed on through crypt_r: with crypt defined here, a linker that drops
// unneeded libraries would leave no next crypt to find.
extern "C" char *crypt(const char *key, const char *salt)
{
    static struct crypt_data data;
    if (Takes(Call::Crypt, -1)) {
        static char failed[] = "*0";
        errno = gState.err;
        return failed;
    }
    return crypt_r(key, salt, &data);
}

extern "C" char *strdup(const char *s)
{
    if (Takes(Call::Strdup, -1)) {
        errno = gState.err;
        return nullptr;
    }
    // From malloc, as the C library's: the caller frees it with free.
    const size_t n = strlen(s) + 1;
    char *p = static_cast<char *>(malloc(n));
    if (p != nullptr)
        memcpy(p, s, n);
    return p;
}

// Plain allocations come from malloc and go back to free, in every build,
// so that a sanitizer sees matching pairs.
void *operator new(size_t n)
{
    if (Takes(Call::Alloc, -1))
        throw std::bad_alloc();
    if (void *p = malloc(n != 0 ? n : 1))
        return p;
    throw std::bad_alloc();
}

void *operator new[](size_t n)
{
    return operator new(n);
}

// The nothrow forms too: they must pair with the deletes above, and a
// failed one gives NULL as it would.
void *operator new(size_t n, const std::nothrow_t &) noexcept
{
    if (Takes(Call::Alloc, -1))
        return nullptr;
    return malloc(n != 0 ? n : 1);
}

void *operator new[](size_t n, const std::nothrow_t &tag) noexcept
{
    return operator new(n, tag);
}

void operator delete(void *p, const std::nothrow_t &) noexcept
{
    free(p);
}

void operator delete[](void *p, const std::nothrow_t &) noexcept
{
    free(p);
}

void operator delete(void *p) noexcept
{
    free(p);
}

void operator delete[](void *p) noexcept
{
    free(p);
}

void operator delete(void *p, size_t) noexcept
{
    free(p);
}

void operator delete[](void *p, size_t) noexcept
{
    free(p);
}
