// crondstub PIDFILE [ACKFIFO]: a stand-in for the cron daemon.  It writes
// its pid into PIDFILE, says "ready" on standard output and then counts
// SIGHUPs, writing one byte to ACKFIFO for each (libcrondsync.so in the
// sender waits for it).  Each SIGUSR1 makes it say "hups N" with the count
// so far; SIGTERM ends it.
//
// Every signal is taken with sigwaitinfo, which hands out the lowest
// pending signal first: a SIGHUP sent before a SIGUSR1 is always counted
// before that SIGUSR1 is answered, so a test that sends SIGUSR1 after the
// code under test has run reads an exact count, without waiting on time.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

bool say(const char *text)
{
    const size_t n = strlen(text);
    return write(STDOUT_FILENO, text, n) == static_cast<ssize_t>(n);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: crondstub PIDFILE [ACKFIFO]\n");
        return 2;
    }
    // Read and write, so that opening never waits and no byte is lost.
    const int ack = argc == 3 ? open(argv[2], O_RDWR | O_CLOEXEC) : -1;
    if (argc == 3 && ack < 0) {
        perror(argv[2]);
        return 1;
    }
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGTERM);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0)
        return 1;

    const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    char text[64];
    snprintf(text, sizeof text, "%d\n", static_cast<int>(getpid()));
    const bool written = write(fd, text, strlen(text)) == static_cast<ssize_t>(strlen(text));
    if (close(fd) != 0 || !written || !say("ready\n"))
        return 1;

    long hups = 0;
    for (;;) {
        const int sig = sigwaitinfo(&set, nullptr);
        if (sig == SIGHUP) {
            ++hups;
            if (ack >= 0 && write(ack, "h", 1) != 1)
                return 1;
        } else if (sig == SIGUSR1) {
            snprintf(text, sizeof text, "hups %ld\n", hups);
            if (!say(text))
                return 1;
        } else if (sig == SIGTERM) {
            return 0;
        }
    }
}
