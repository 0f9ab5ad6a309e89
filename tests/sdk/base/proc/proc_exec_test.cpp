#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/err/vral_err.h"
#include "base/lock/vral_lock.h"
#include "base/proc/vral_proc.h"

#include "approot.h"
#include "failcall.h"
#include "test_tmp.h"

namespace {

using vexatest::readFile;
using vexatest::writeFile;

class ProcExec : public ::testing::Test {
protected:
    vexatest::TempDir tmp{"proc"};

    // A shell script under the scratch folder, run by its path.
    std::string script(const std::string &name, const std::string &body)
    {
        const std::string path = tmp / name;
        writeFile(path, "#!/bin/sh\n" + body, 0755);
        return path;
    }

    // Runs fn in a forked process and returns its exit status.
    template <typename Fn>
    static int inChild(Fn fn)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            const int status = fn();
            approot::flushCoverage();
            _exit(status);
        }
        int st = 0;
        waitpid(pid, &st, 0);
        return WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
    }
};

}  // namespace

TEST_F(ProcExec, ResultIsTheExitStatus)
{
    EXPECT_EQ(VEXAProcExec(script("three", "exit 3\n").c_str(), nullptr, nullptr, nullptr, nullptr), 3);
    EXPECT_EQ(VEXAProcExec(script("zero", "exit 0\n").c_str(), nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(VEXAProcExec(script("big", "exit 254\n").c_str(), nullptr, nullptr, nullptr, nullptr), 254);
}

TEST_F(ProcExec, ProgramThatCannotRunGives255AndNoError)
{
    VRALErrSetCode(0);
    EXPECT_EQ(VEXAProcExec((tmp / "missing").c_str(), "a", nullptr, nullptr, nullptr), 255);
    writeFile(tmp / "plain", "not a program\n", 0644);
    EXPECT_EQ(VEXAProcExec((tmp / "plain").c_str(), nullptr, nullptr, nullptr, nullptr), 255);
    EXPECT_EQ(VRALErrGet(), 0);
}

TEST_F(ProcExec, ChildRunsDetachedWithItsArguments)
{
    const std::string out = tmp / "out";
    const std::string prog = script("report",
                                    "f0=$(/bin/readlink /proc/$$/fd/0); f1=$(/bin/readlink /proc/$$/fd/1)\n"
                                    "f2=$(/bin/readlink /proc/$$/fd/2)\n"
                                    "{ echo \"argc=$#\"; for a in \"$0\" \"$@\"; do echo \"arg=[$a]\"; done\n"
                                    "  echo \"cwd=$(/bin/pwd)\"\n"
                                    "  echo \"env=$(/usr/bin/env | /usr/bin/grep -v '^PWD=' | /usr/bin/wc -l)\"\n"
                                    "  echo \"fd0=$f0\"; echo \"fd1=$f1\"; echo \"fd2=$f2\"\n"
                                    "  echo \"sid=$(/bin/cat /proc/$$/stat | /usr/bin/cut -d' ' -f6) pid=$$\"\n"
                                    "} > " + out + "\n");
    setenv("VEXA_PROC_TEST", "1", 1);
    ASSERT_EQ(VEXAProcExec(prog.c_str(), "one", "two words", nullptr, "four"), 0);
    const std::string got = readFile(out);
    EXPECT_NE(got.find("argc=2\n"), std::string::npos) << got;
    EXPECT_NE(got.find("arg=[" + prog + "]\narg=[one]\narg=[two words]\n"), std::string::npos) << got;
    EXPECT_EQ(got.find("four"), std::string::npos) << got;
    EXPECT_NE(got.find("cwd=/\n"), std::string::npos) << got;
    EXPECT_NE(got.find("env=0\n"), std::string::npos) << got;
    EXPECT_NE(got.find("fd0=/dev/null\nfd1=/dev/null\nfd2=/dev/null\n"), std::string::npos) << got;
    // its own session: the session id is its own pid
    const size_t sid = got.find("sid=");
    ASSERT_NE(sid, std::string::npos) << got;
    const std::string line = got.substr(sid, got.find('\n', sid) - sid);
    const std::string sidText = line.substr(4, line.find(' ') - 4);
    EXPECT_EQ(line, "sid=" + sidText + " pid=" + sidText) << got;
    unsetenv("VEXA_PROC_TEST");
}

TEST_F(ProcExec, NoArgumentsAtAll)
{
    const std::string out = tmp / "out";
    ASSERT_EQ(VEXAProcExec(script("count", "echo $# > " + out + "\n").c_str(), nullptr, "x", "y", "z"), 0);
    EXPECT_EQ(readFile(out), "0\n");
}

TEST_F(ProcExec, ChildKilledBySignalIsAFailure)
{
    VRALErrSetCode(0);
    EXPECT_EQ(VEXAProcExec(script("killed", "kill -KILL $$\n").c_str(), nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(VRALErrGet(), ERR_CHILD_FAILED);
}

TEST_F(ProcExec, NoChildWaitFlagIsClearedForTheCallAndPutBack)
{
    struct sigaction sa {}, old {};
    sa.sa_handler = SIG_DFL;
    sa.sa_flags = SA_NOCLDWAIT;
    ASSERT_EQ(sigaction(SIGCHLD, &sa, &old), 0);
    EXPECT_EQ(VEXAProcExec(script("three", "exit 3\n").c_str(), nullptr, nullptr, nullptr, nullptr), 3);
    struct sigaction now {};
    sigaction(SIGCHLD, nullptr, &now);
    EXPECT_NE(now.sa_flags & SA_NOCLDWAIT, 0);
    sigaction(SIGCHLD, &old, nullptr);
}

TEST_F(ProcExec, IgnoredChildSignalDoesNotTurnAFailureIntoSuccess)
{
    struct sigaction sa {}, old {};
    sa.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGCHLD, &sa, &old), 0);
    EXPECT_EQ(VEXAProcExec(script("five", "exit 5\n").c_str(), nullptr, nullptr, nullptr, nullptr), 5);
    EXPECT_EQ(VEXAProcExec(script("killed", "kill -KILL $$\n").c_str(), nullptr, nullptr, nullptr, nullptr), -1);
    struct sigaction now {};
    sigaction(SIGCHLD, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    sigaction(SIGCHLD, &old, nullptr);
}

TEST_F(ProcExec, StandardDescriptorsSetUpInTheChildStayOpen)
{
    // a parent without standard streams: /dev/null lands on descriptor 0
    const std::string out = tmp / "fds";
    const std::string prog =
        script("fds", "f0=$(/bin/readlink /proc/$$/fd/0); f1=$(/bin/readlink /proc/$$/fd/1)\n"
                      "f2=$(/bin/readlink /proc/$$/fd/2)\n"
                      "printf 'fd0=%s\\nfd1=%s\\nfd2=%s\\n' \"$f0\" \"$f1\" \"$f2\" > " + out + "\n");
    const int rc = inChild([&] {
        close(0);
        close(1);
        close(2);
        return VEXAProcExec(prog.c_str(), nullptr, nullptr, nullptr, nullptr);
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(readFile(out), "fd0=/dev/null\nfd1=/dev/null\nfd2=/dev/null\n");
}

TEST_F(ProcExec, LockStreamsOnTheStandardDescriptorsLeaveTheChildItsOwn)
{
    // A caller that started without standard streams and then took locks:
    // the lock files' streams sit on descriptors 0 to 2.
    const std::string out = tmp / "fds";
    const std::string prog =
        script("fds", "f0=$(/bin/readlink /proc/$$/fd/0); f1=$(/bin/readlink /proc/$$/fd/1)\n"
                      "f2=$(/bin/readlink /proc/$$/fd/2)\n"
                      "printf 'fd0=%s\\nfd1=%s\\nfd2=%s\\n' \"$f0\" \"$f1\" \"$f2\" > " + out + "\n"
                      "echo 'from the child' >&2\n");
    const std::string held = tmp / "held";
    writeFile(held, "lock\n");
    const int rc = inChild([&] {
        close(0);
        close(1);
        close(2);
        for (int i = 0; i < 3; ++i) {
            FILE *fp = fopen(held.c_str(), "r");
            if (fp == nullptr || fileno(fp) != i)
                return 90;
            gLockFileTable[i].fp = fp;
            gLockFileTable[i].refcount = 1;
        }
        return VEXAProcExec(prog.c_str(), nullptr, nullptr, nullptr, nullptr);
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(readFile(out), "fd0=/dev/null\nfd1=/dev/null\nfd2=/dev/null\n");
    EXPECT_EQ(readFile(held), "lock\n");
}

TEST_F(ProcExec, FailedExecLeavesTheParentsBuffersAlone)
{
    // a child that ran the parent's exit path would flush this buffer a
    // second time into the file
    const std::string log = tmp / "buffered";
    const std::string missing = tmp / "missing";
    const int rc = inChild([&] {
        FILE *fp = fopen(log.c_str(), "w");
        if (fp == nullptr)
            return 90;
        static char buf[4096];
        setvbuf(fp, buf, _IOFBF, sizeof buf);
        fputs("once\n", fp);
        const int r = VEXAProcExec(missing.c_str(), nullptr, nullptr, nullptr, nullptr);
        fclose(fp);
        return r == 255 ? 0 : 91;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(readFile(log), "once\n");
}

TEST_F(ProcExec, ChildReapedElsewhereIsAFailureNotStatusZero)
{
    VRALErrSetCode(0);
    failcall::Armed reaped({.call = failcall::Call::Waitpid, .err = ECHILD});
    EXPECT_EQ(VEXAProcExec(script("zero", "exit 0\n").c_str(), nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(failcall::Fired(), 1);
    EXPECT_EQ(VRALErrGet(), ERR_CHILD_FAILED);
}

TEST_F(ProcExec, ChildGetsNoDescriptorOfTheCallerAboveTheStandardOnes)
{
    // Descriptors the caller opened without close-on-exec, one low, one
    // high, and a pipe whose end the program would otherwise keep open.
    const std::string out = tmp / "open";
    const std::string prog = script("fds", "{ for n in 5 6 7 77; do [ -e /proc/$$/fd/$n ] && echo \"open $n\"; done\n"
                                           "  echo done; } > " + out + "\n");
    const int rc = inChild([&] {
        const int fd = open(prog.c_str(), O_RDONLY);
        int pipeFds[2];
        if (fd < 0 || pipe(pipeFds) != 0 || dup2(fd, 5) != 5 || dup2(fd, 77) != 77 ||
            dup2(pipeFds[0], 6) != 6 || dup2(pipeFds[1], 7) != 7)
            return 90;
        const int r = VEXAProcExec(prog.c_str(), nullptr, nullptr, nullptr, nullptr);
        // The caller's own descriptors stay open.
        return r == 0 && fcntl(77, F_GETFD) >= 0 && fcntl(7, F_GETFD) >= 0 ? 0 : 91;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(readFile(out), "done\n");
}

TEST_F(ProcExec, ChildStartsWithDefaultSignalsAndNoneBlocked)
{
    // A caller that ignores the signals that would cut its work short and
    // blocks others: the program it starts gets the defaults.
    // cp copies its own status; a shell would change the mask itself.
    const std::string out = tmp / "status";
    const int rc = inChild([&] {
        for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE})
            signal(sig, SIG_IGN);
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGUSR1);
        sigaddset(&block, SIGTERM);
        sigprocmask(SIG_BLOCK, &block, nullptr);
        const int r = VEXAProcExec("/bin/cp", "/proc/self/status", out.c_str(), nullptr, nullptr);
        // The caller keeps its own settings.
        struct sigaction now {};
        sigaction(SIGTERM, nullptr, &now);
        return r == 0 && now.sa_handler == SIG_IGN ? 0 : 91;
    });
    EXPECT_EQ(rc, 0);
    const std::string status = readFile(out);
    EXPECT_NE(status.find("\nSigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n"), std::string::npos)
        << status;
}
