// The cron daemon stand-in (tools/crondstub) started by a probe inside the
// root, named by "/var/run/crond.pid", and asked how many SIGHUPs it got.
#ifndef VEXA_TEST_CROND_STANDIN_H
#define VEXA_TEST_CROND_STANDIN_H

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace vexatest {

class CrondStandIn {
   public:
    CrondStandIn() = default;
    CrondStandIn(const CrondStandIn &) = delete;
    CrondStandIn &operator=(const CrondStandIn &) = delete;
    ~CrondStandIn() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ != nullptr) fclose(out_);
    }

    // Starts the stand-in at tool; true once it has written its pid file.
    bool start(const char *tool) {
        int fds[2];
        if (pipe(fds) != 0) return false;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            execl(tool, "crond", "/var/run/crond.pid", static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        out_ = fdopen(fds[0], "r");
        return pid_ > 0 && out_ != nullptr && line() == "ready";
    }

    pid_t pid() const { return pid_; }

    // "hups N": every SIGHUP sent before this call is counted in N.
    std::string hups() {
        kill(pid_, SIGUSR1);
        return line();
    }

   private:
    std::string line() {
        char buf[64] = {};
        if (fgets(buf, sizeof buf, out_) == nullptr) return "";
        buf[strcspn(buf, "\n")] = '\0';
        return buf;
    }

    pid_t pid_ = -1;
    FILE *out_ = nullptr;
};

}  // namespace vexatest

#endif
