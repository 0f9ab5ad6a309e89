// libcrondsync.so: a SIGHUP to the cron stand-in waits until the stand-in
// has taken it.  A standard signal sent while the same one is still pending
// is lost, so two reloads in quick succession could count as one; with
//
//   VEXA_CROND_PID=<pid>   the stand-in's pid
//   VEXA_CROND_ACK=<fifo>  the FIFO the stand-in writes one byte to for
//                          each SIGHUP it has counted
//
// kill(pid, SIGHUP) returns only after that byte has come, and every
// reload is counted.  Any other call is passed on untouched.
//
// No allocation, no stdio: it runs inside the updater and /bin/sh.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#define API extern "C" __attribute__((visibility("default")))

namespace {

bool isStandIn(pid_t pid)
{
    const char *want = getenv("VEXA_CROND_PID");
    return want != nullptr && strtol(want, nullptr, 10) == static_cast<long>(pid);
}

void awaitAck()
{
    const char *ack = getenv("VEXA_CROND_ACK");
    if (ack == nullptr)
        return;
    const int fd = open(ack, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    char byte = 0;
    while (read(fd, &byte, 1) < 0 && errno == EINTR) { }
    close(fd);
}

}  // namespace

API int kill(pid_t pid, int sig)
{
    using Kill = int (*)(pid_t, int);
    static Kill next = reinterpret_cast<Kill>(dlsym(RTLD_NEXT, "kill"));
    const int rc = next(pid, sig);
    if (rc == 0 && sig == SIGHUP && isStandIn(pid)) {
        const int saved = errno;
        awaitAck();
        errno = saved;
    }
    return rc;
}
