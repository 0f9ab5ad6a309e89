#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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

[[noreturn]] void runChild(const char *path, char *const argv[])
{
    const int fd = open("/dev/null", O_RDWR);
    if (fd >= 0) {
        dup2(fd, STDIN_FILENO);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        // /dev/null may itself have landed on a standard descriptor
        if (fd > STDERR_FILENO)
            close(fd);
    }
    VRALFileLockCloseAll();
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
            const pid_t w = waitpid(pid, &status, 0);
            if (w < 0)
                result = errno == ECHILD ? 0 : -1;
            else if (WIFEXITED(status))
                result = WEXITSTATUS(status);
            else
                result = -1;
        }
    }
    if (result == -1)
        VRAL_ERR_SET(ERR_CHILD_FAILED);
    return result;
}
