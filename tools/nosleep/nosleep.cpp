// libnosleep.so: pauses that cost no time.  sleep, usleep, nanosleep and
// clock_nanosleep return at once, as if the time had passed, and each
// pause is recorded:
//
//   VEXA_PAUSE_LOG=<file>   one line per pause is appended to <file>:
//                           the call and the pause in seconds, to the
//                           nanosecond ("usleep 0.050000000")
//   VEXA_PAUSE_TELL=<fifo>  each pause also writes its line to <fifo>
//   VEXA_PAUSE_GATE=<fifo>  then waits for one byte from <fifo>
//   VEXA_PAUSES=real        the calls are passed on and really wait
//
// With TELL and GATE a test knows when a process has paused and decides
// when the time has passed, e.g. once a lock's holder has let it go.  The
// test keeps both FIFOs open for reading and writing the whole time, so no
// line or byte is lost between two pauses.
//
// No allocation, no stdio: it runs inside /bin/sh and sanitized programs,
// early in their start-up.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#define API extern "C" __attribute__((visibility("default")))

namespace {

constexpr long kNsPerSec = 1000000000L;

template <typename F>
F next(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

bool real()
{
    const char *v = getenv("VEXA_PAUSES");
    return v != nullptr && strcmp(v, "real") == 0;
}

// Appends the decimal digits of v, at least width of them.
size_t putNum(char *out, unsigned long long v, int width)
{
    char d[24];
    int n = 0;
    do {
        d[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0 && n < 20);
    while (n < width)
        d[n++] = '0';
    for (int i = 0; i < n; ++i)
        out[i] = d[n - 1 - i];
    return static_cast<size_t>(n);
}

// One line: the call and the pause in seconds, to the nanosecond.
size_t formatLine(char *line, const char *call, unsigned long long sec, unsigned long long nsec)
{
    size_t n = strnlen(call, 32);
    memcpy(line, call, n);
    line[n++] = ' ';
    n += putNum(line + n, sec, 1);
    line[n++] = '.';
    n += putNum(line + n, nsec, 9);
    line[n++] = '\n';
    return n;
}

// The whole line in one write: lines of several processes never mix.
void writeLine(const char *path, int flags, const char *line, size_t n)
{
    int fd;
    do
        fd = open(path, flags | O_CLOEXEC, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return;
    if (write(fd, line, n) < 0) {
    }
    close(fd);
}

void pass(const char *call, unsigned long long sec, unsigned long long nsec)
{
    char line[96];
    const size_t n = formatLine(line, call, sec, nsec);
    const char *log = getenv("VEXA_PAUSE_LOG");
    if (log != nullptr && *log != '\0')
        writeLine(log, O_WRONLY | O_APPEND | O_CREAT, line, n);
    const char *tell = getenv("VEXA_PAUSE_TELL");
    if (tell != nullptr && *tell != '\0')
        writeLine(tell, O_WRONLY, line, n);
    const char *gate = getenv("VEXA_PAUSE_GATE");
    if (gate == nullptr || *gate == '\0')
        return;
    int fd;
    do
        fd = open(gate, O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return;
    char c;
    while (read(fd, &c, 1) < 0 && errno == EINTR) {
    }
    close(fd);
}

// Records the pause and waits at the gate, errno untouched.
void record(const char *call, unsigned long long sec, unsigned long long nsec)
{
    const int saved = errno;
    pass(call, sec, nsec);
    errno = saved;
}

bool validSpan(const struct timespec *ts)
{
    return ts->tv_sec >= 0 && ts->tv_nsec >= 0 && ts->tv_nsec < kNsPerSec;
}

using SleepFn = unsigned (*)(unsigned);
using UsleepFn = int (*)(useconds_t);
using NanosleepFn = int (*)(const struct timespec *, struct timespec *);
using ClockNanosleepFn = int (*)(clockid_t, int, const struct timespec *, struct timespec *);

}  // namespace

API unsigned sleep(unsigned seconds)
{
    if (real())
        return next<SleepFn>("sleep")(seconds);
    record("sleep", seconds, 0);
    return 0;
}

API int usleep(useconds_t us)
{
    if (real())
        return next<UsleepFn>("usleep")(us);
    record("usleep", us / 1000000, static_cast<unsigned long long>(us % 1000000) * 1000);
    return 0;
}

API int nanosleep(const struct timespec *req, struct timespec *rem)
{
    if (real())
        return next<NanosleepFn>("nanosleep")(req, rem);
    if (!validSpan(req)) {
        errno = EINVAL;
        return -1;
    }
    record("nanosleep", static_cast<unsigned long long>(req->tv_sec), static_cast<unsigned long long>(req->tv_nsec));
    if (rem != nullptr)
        *rem = timespec{0, 0};
    return 0;
}

// Returns the error number, as the real call does.
API int clock_nanosleep(clockid_t clock, int flags, const struct timespec *req, struct timespec *rem)
{
    if (real())
        return next<ClockNanosleepFn>("clock_nanosleep")(clock, flags, req, rem);
    if (!validSpan(req))
        return EINVAL;
    struct timespec span = *req;
    if ((flags & TIMER_ABSTIME) != 0) {
        // until a point in time: the pause is what is left of it
        struct timespec now {};
        if (clock_gettime(clock, &now) != 0)
            return EINVAL;
        long long ns = (static_cast<long long>(req->tv_sec) - now.tv_sec) * kNsPerSec + (req->tv_nsec - now.tv_nsec);
        if (ns < 0)
            ns = 0;
        span = timespec{static_cast<time_t>(ns / kNsPerSec), static_cast<long>(ns % kNsPerSec)};
    } else if (rem != nullptr) {
        *rem = timespec{0, 0};
    }
    record("clock_nanosleep", static_cast<unsigned long long>(span.tv_sec),
           static_cast<unsigned long long>(span.tv_nsec));
    return 0;
}
