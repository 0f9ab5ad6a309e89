#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>

#include "base/err/vral_err.h"
#include "base/lock/vral_lock.h"
#include "base/proc/vral_proc.h"

namespace {

// While the child runs, SIGCHLD must let its status be collected: an
// ignored SIGCHLD or SA_NOCLDWAIT would have the kernel reap it and the
// wait would find no child.
struct ChildSignalGuard {
    bool hadNoCldWait = false;
    bool wasIgnored = false;

    ChildSignalGuard()
    {
        struct sigaction sa {};
        if (sigaction(SIGCHLD, nullptr, &sa) != 0)
            return;
        hadNoCldWait = (sa.sa_flags & SA_NOCLDWAIT) != 0;
        wasIgnored = (sa.sa_flags & SA_SIGINFO) == 0 && sa.sa_handler == SIG_IGN;
        sa.sa_flags &= ~SA_NOCLDWAIT;
        if (wasIgnored)
            sa.sa_handler = SIG_DFL;
        sigaction(SIGCHLD, &sa, nullptr);
    }

    ~ChildSignalGuard()
    {
        if (!hadNoCldWait && !wasIgnored)
            return;
        struct sigaction sa {};
        if (sigaction(SIGCHLD, nullptr, &sa) != 0)
            return;
        if (hadNoCldWait)
            sa.sa_flags |= SA_NOCLDWAIT;
        if (wasIgnored) {
            sa.sa_flags &= ~SA_SIGINFO;
            sa.sa_handler = SIG_IGN;
        }
        sigaction(SIGCHLD, &sa, nullptr);
    }

    ChildSignalGuard(const ChildSignalGuard &) = delete;
    ChildSignalGuard &operator=(const ChildSignalGuard &) = delete;
};

// Nothing the caller opened reaches the program: a daemon started here
// would otherwise keep those files, and the locks on them, for its life.
void closeInherited()
{
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3U, ~0U, 0U) == 0)
        return;
#endif
    // Kernels before close_range: every descriptor the folder lists.
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return;
    const int own = dirfd(dir);
    while (const dirent *e = readdir(dir)) {
        char *end = nullptr;
        const long fd = strtol(e->d_name, &end, 10);
        if (end != e->d_name && *end == '\0' && fd > STDERR_FILENO && fd != own)
            close(static_cast<int>(fd));
    }
    closedir(dir);
}

// The caller may ignore or block signals around work that must not be cut
// short; the program it starts gets the defaults.
void defaultSignals()
{
    for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE})
        signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

[[noreturn]] void runChild(const char *path, char *const argv[])
{
    // The lock streams go first: when the caller started without standard
    // descriptors they sit on 0 to 2, and closing them afterwards would
    // close what was just set up there.
    VRALFileLockCloseAll();
    const int fd = open("/dev/null", O_RDWR);
    if (fd >= 0) {
        dup2(fd, STDIN_FILENO);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        // /dev/null may itself have landed on a standard descriptor
        if (fd > STDERR_FILENO)
            close(fd);
    }
    closeInherited();
    defaultSignals();
    setsid();
    if (chdir("/") != 0) {
        // nothing to report to: the child's streams are /dev/null
    }
    clearenv();
    execv(path, argv);
    // no exit handlers or stdio flushes of the parent's copy
    _exit(255);
}

}  // namespace

extern "C" int VEXAProcExec(const char *path, const char *szArg1, const char *szArg2,
                            const char *szArg3, const char *szArg4)
{
    const char *argv[6] = {path, nullptr, nullptr, nullptr, nullptr, nullptr};
    const char *args[4] = {szArg1, szArg2, szArg3, szArg4};
    for (int i = 0; i < 4 && args[i] != nullptr; ++i)
        argv[i + 1] = args[i];

    int result = -1;
    {
        ChildSignalGuard guard;
        const pid_t pid = fork();
        if (pid == 0)
            runChild(path, const_cast<char *const *>(argv));
        if (pid > 0) {
            int status = 0;
            pid_t w;
            // A handled signal must not leave the child unreaped.
            do {
                w = waitpid(pid, &status, 0);
            } while (w < 0 && errno == EINTR);
            // No status at all (ECHILD: reaped elsewhere) is no success.
            if (w == pid && WIFEXITED(status))
                result = WEXITSTATUS(status);
        }
    }
    if (result == -1)
        VRAL_ERR_SET(ERR_CHILD_FAILED);
    return result;
}
