// The cron daemon stand-in (tools/crondstub) started by a probe inside the
// root, named by "/var/run/crond.pid", and asked how many SIGHUPs it got.
// With libcrondsync.so preloaded into the probe (kAck below), each SIGHUP
// the probe's code sends waits until the stand-in has counted it, so two
// reloads in a row never merge into one pending signal.
#ifndef VEXA_TEST_CROND_STANDIN_H
#define VEXA_TEST_CROND_STANDIN_H

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vexatest {

class CrondStandIn {
public:
    CrondStandIn() = default;
    CrondStandIn(const CrondStandIn &) = delete;
    CrondStandIn &operator=(const CrondStandIn &) = delete;
    ~CrondStandIn()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ != nullptr)
            fclose(out_);
    }

    static constexpr char kAck[] = "/dev/crond.ack";

    // Starts the stand-in at tool; true once it has written its pid file
    // and this process's SIGHUPs to it wait for its acknowledgement.
    bool start(const char *tool)
    {
        int fds[2];
        if ((mkfifo(kAck, 0600) != 0 && errno != EEXIST) || pipe(fds) != 0)
            return false;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            execl(tool, "crond", "/var/run/crond.pid", kAck, static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        out_ = fdopen(fds[0], "r");
        if (pid_ <= 0 || out_ == nullptr || line() != "ready")
            return false;
        setenv("VEXA_CROND_PID", std::to_string(pid_).c_str(), 1);
        setenv("VEXA_CROND_ACK", kAck, 1);
        return true;
    }

    pid_t pid() const { return pid_; }

    // "hups N": every SIGHUP sent before this call is counted in N.
    std::string hups()
    {
        kill(pid_, SIGUSR1);
        return line();
    }

private:
    std::string line()
    {
        char buf[64] = {};
        if (fgets(buf, sizeof buf, out_) == nullptr)
            return "";
        buf[strcspn(buf, "\n")] = '\0';
        return buf;
    }

    pid_t pid_ = -1;
    FILE *out_ = nullptr;
};

}  // namespace vexatest

#endif
