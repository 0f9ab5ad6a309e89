// A stand-in for the download scheduler, started inside the appliance root
// by a probe: a child that names itself in "/var/run/scheduler.pid" and
// records every SIGHUP and SIGUSR1 it gets.  stop() ends it with SIGTERM;
// signals already sent are pending by then and, having lower numbers, are
// taken first, so what it reports is complete without waiting on a clock.
#ifndef VEXA_TEST_SCHEDULER_STANDIN_H
#define VEXA_TEST_SCHEDULER_STANDIN_H

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace vexatest {

class SchedulerStandIn {
public:
    // Starts the child; with writePidFile its pid goes into the pid file.
    explicit SchedulerStandIn(bool writePidFile = true)
    {
        sigset_t set = signals();
        sigset_t old;
        sigprocmask(SIG_BLOCK, &set, &old);  // inherited: nothing is lost before it waits
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            for (;;) {
                const int sig = sigwaitinfo(&set, nullptr);
                const char *name = sig == SIGHUP ? "HUP\n" : sig == SIGUSR1 ? "USR1\n" : nullptr;
                if (name != nullptr && write(fds[1], name, strlen(name)) < 0)
                    _exit(1);
                if (sig == SIGTERM)
                    _exit(0);
            }
        }
        sigprocmask(SIG_SETMASK, &old, nullptr);
        close(fds[1]);
        rd_ = fds[0];
        if (writePidFile) {
            FILE *fp = fopen("/var/run/scheduler.pid", "w");
            if (fp != nullptr) {
                fprintf(fp, "%d\n", static_cast<int>(pid_));
                fclose(fp);
            }
        }
    }
    ~SchedulerStandIn() { stop(); }
    SchedulerStandIn(const SchedulerStandIn &) = delete;
    SchedulerStandIn &operator=(const SchedulerStandIn &) = delete;

    pid_t pid() const { return pid_; }

    // Ends the stand-in and returns the signals it got in the order it took
    // them ("HUP", "USR1"); the pid file stays, naming a process that is
    // gone.
    std::vector<std::string> stop()
    {
        if (pid_ <= 0)
            return got_;
        kill(pid_, SIGTERM);
        std::string text;
        char buf[256];
        ssize_t n;
        while ((n = read(rd_, buf, sizeof buf)) > 0)
            text.append(buf, static_cast<size_t>(n));
        close(rd_);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        size_t p = 0;
        for (size_t q; (q = text.find('\n', p)) != std::string::npos; p = q + 1)
            got_.push_back(text.substr(p, q - p));
        return got_;
    }

private:
    static sigset_t signals()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGHUP);
        sigaddset(&set, SIGUSR1);
        sigaddset(&set, SIGTERM);
        return set;
    }

    pid_t pid_ = -1;
    int rd_ = -1;
    std::vector<std::string> got_;
};

}  // namespace vexatest

#endif
