// libupdtwatch.so: preloaded into the updater by its end-to-end tests.
//
//   VEXA_WATCH_PROGRESS=<file>  every text the updater writes to
//                               /tmp/update.progress is appended to <file>,
//                               one line each, in order
//   VEXA_WATCH_FAIL=<words>     blank-separated: "opendot" (opening "."
//                               fails with EACCES), "fchdir" (fchdir fails
//                               with EACCES), "getcwd" (getcwd fails with
//                               ENAMETOOLONG)
//   VEXA_WATCH_SIGNAL=<n> <event>
//                               the updater sends itself signal <n> once,
//                               right after the call of <event> returned:
//                               "reserve" (system call 405 with 1), "mtu"
//                               (the interface MTU request), or
//                               "rename=<path>" (a file renamed onto <path>)
//
// Only the process named "updater" is watched; the shells and tools it
// starts pass through untouched.  No allocation, no stdio: it runs inside
// sanitized programs early in their start-up.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <unistd.h>

#define API extern "C" __attribute__((visibility("default")))

namespace {

const char kProgress[] = "/tmp/update.progress";

template <typename F>
F next(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

bool isUpdater()
{
    return program_invocation_short_name != nullptr && strcmp(program_invocation_short_name, "updater") == 0;
}

bool failing(const char *word)
{
    const char *list = getenv("VEXA_WATCH_FAIL");
    if (list == nullptr || !isUpdater())
        return false;
    size_t n = strlen(word);
    for (const char *p = list; (p = strstr(p, word)) != nullptr; p += n)
        if ((p == list || p[-1] == ' ') && (p[n] == '\0' || p[n] == ' '))
            return true;
    return false;
}

using OpenFn = int (*)(const char *, int, ...);
using OpenatFn = int (*)(int, const char *, int, ...);
using WriteFn = ssize_t (*)(int, const void *, size_t);
using PwriteFn = ssize_t (*)(int, const void *, size_t, off_t);

void record(int fd, const void *buf, size_t n)
{
    const char *log = getenv("VEXA_WATCH_PROGRESS");
    if (log == nullptr || n == 0 || n > 64 || !isUpdater())
        return;
    char link[32] = "/proc/self/fd/";
    char digits[12];
    int len = 0;
    unsigned v = static_cast<unsigned>(fd);
    do {
        digits[len++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0 && len < 11);
    size_t at = strlen(link);
    while (len > 0)
        link[at++] = digits[--len];
    link[at] = '\0';
    char target[sizeof(kProgress) + 1];
    ssize_t t = readlink(link, target, sizeof(target));
    if (t != static_cast<ssize_t>(sizeof(kProgress) - 1) || memcmp(target, kProgress, sizeof(kProgress) - 1) != 0)
        return;
    static OpenFn realOpen = next<OpenFn>("open");
    static WriteFn realWrite = next<WriteFn>("write");
    int out = realOpen(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (out < 0)
        return;
    char line[80];
    memcpy(line, buf, n);
    line[n] = '\n';
    if (realWrite(out, line, n + 1) < 0) {
    }
    close(out);
}

// The mode argument is there only with O_CREAT or O_TMPFILE (whose bits
// include O_DIRECTORY's, so all of them must be set).
mode_t modeOf(int flags, va_list ap)
{
    bool given = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    return given ? static_cast<mode_t>(va_arg(ap, int)) : 0;
}

// The open family: "." is refused when asked for, anything else passes on.
bool refusedDot(const char *path)
{
    if (path == nullptr || strcmp(path, ".") != 0 || !failing("opendot"))
        return false;
    errno = EACCES;
    return true;
}

// After a call of the event that VEXA_WATCH_SIGNAL names (event "rename="
// takes the target path), the signal goes out; one time per process.
void signalAfter(const char *event, const char *path = nullptr)
{
    static bool sent = false;
    const char *signalAt = getenv("VEXA_WATCH_SIGNAL");
    if (sent || signalAt == nullptr || !isUpdater())
        return;
    const char *blank = strchr(signalAt, ' ');
    if (blank == nullptr)
        return;
    const char *want = blank + 1;
    const size_t n = strlen(event);
    if (strncmp(want, event, n) != 0)
        return;
    if (path == nullptr ? want[n] != '\0' : (want[n] != '=' || strcmp(want + n + 1, path) != 0))
        return;
    sent = true;
    kill(getpid(), atoi(signalAt));
}

}  // namespace

API long syscall(long number, ...)
{
    using SyscallFn = long (*)(long, ...);
    static SyscallFn real = next<SyscallFn>("syscall");
    va_list ap;
    va_start(ap, number);
    long a[6];
    for (long &v : a)
        v = va_arg(ap, long);
    va_end(ap);
    const long r = real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
    const int err = errno;
    if (number == 405 && a[0] == 1)
        signalAfter("reserve");
    errno = err;
    return r;
}

API int ioctl(int fd, unsigned long request, ...)
{
    using IoctlFn = int (*)(int, unsigned long, ...);
    static IoctlFn real = next<IoctlFn>("ioctl");
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    const int r = real(fd, request, arg);
    const int err = errno;
    if (request == SIOCSIFMTU)
        signalAfter("mtu");
    errno = err;
    return r;
}

API int rename(const char *from, const char *to)
{
    static auto real = next<int (*)(const char *, const char *)>("rename");
    const int r = real(from, to);
    const int err = errno;
    if (r == 0)
        signalAfter("rename", to);
    errno = err;
    return r;
}

API int renameat(int fromDir, const char *from, int toDir, const char *to)
{
    static auto real = next<int (*)(int, const char *, int, const char *)>("renameat");
    const int r = real(fromDir, from, toDir, to);
    const int err = errno;
    if (r == 0)
        signalAfter("rename", to);
    errno = err;
    return r;
}

API int open(const char *path, int flags, ...)
{
    static OpenFn real = next<OpenFn>("open");
    va_list ap;
    va_start(ap, flags);
    mode_t mode = modeOf(flags, ap);
    va_end(ap);
    return refusedDot(path) ? -1 : real(path, flags, mode);
}

API int open64(const char *path, int flags, ...)
{
    static OpenFn real = next<OpenFn>("open64");
    va_list ap;
    va_start(ap, flags);
    mode_t mode = modeOf(flags, ap);
    va_end(ap);
    return refusedDot(path) ? -1 : real(path, flags, mode);
}

API int openat(int dirfd, const char *path, int flags, ...)
{
    static OpenatFn real = next<OpenatFn>("openat");
    va_list ap;
    va_start(ap, flags);
    mode_t mode = modeOf(flags, ap);
    va_end(ap);
    return refusedDot(path) ? -1 : real(dirfd, path, flags, mode);
}

API int fchdir(int fd)
{
    if (failing("fchdir")) {
        errno = EACCES;
        return -1;
    }
    static auto real = next<int (*)(int)>("fchdir");
    return real(fd);
}

API char *getcwd(char *buf, size_t size)
{
    if (failing("getcwd")) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    static auto real = next<char *(*)(char *, size_t)>("getcwd");
    return real(buf, size);
}

// What a write call stored is recorded when it went to the progress file.
static ssize_t recorded(int fd, const void *buf, ssize_t r)
{
    if (r > 0)
        record(fd, buf, static_cast<size_t>(r));
    return r;
}

API ssize_t write(int fd, const void *buf, size_t n)
{
    static WriteFn real = next<WriteFn>("write");
    return recorded(fd, buf, real(fd, buf, n));
}

API ssize_t pwrite(int fd, const void *buf, size_t n, off_t at)
{
    static PwriteFn real = next<PwriteFn>("pwrite");
    return recorded(fd, buf, real(fd, buf, n, at));
}

API ssize_t pwrite64(int fd, const void *buf, size_t n, off_t at)
{
    static PwriteFn real = next<PwriteFn>("pwrite64");
    return recorded(fd, buf, real(fd, buf, n, at));
}
