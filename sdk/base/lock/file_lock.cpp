#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "base/err/vral_err.h"
#include "base/lock/vral_lock.h"

namespace {

constexpr int kRoundTicks = 5;          // one round's wait in 10 ms units
constexpr useconds_t kRoundSleepUs = 50000;

// Opens a lock file for reading: never through a link, never waiting on a
// FIFO, only a regular file.
FILE *openLockFile(const char *path)
{
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    FILE *fp = fdopen(fd, "r");
    if (fp == nullptr)
        close(fd);
    return fp;
}

enum class Round { AllHeld, Retry, Refused };

Round tryRound(int id, int op)
{
    const int wanted = id & ~LOCK_ID_OP_MASK;
    int held = 0;
    int touched = 0;
    for (VRALLockFile *e = gLockFileTable; e->bit != 0; ++e) {
        if ((e->bit & id) == 0)
            continue;
        if (e->fp != nullptr) {
            // a shared lock is never passed off as an exclusive one
            if ((e->mode & LOCK_SH) != 0 && (op & LOCK_EX) != 0) {
                VRALFileUnlock(touched);
                return Round::Refused;
            }
            ++e->refcount;
            held |= e->bit;
            touched |= e->bit;
            continue;
        }
        FILE *fp = openLockFile(e->path);
        if (fp == nullptr)
            continue;
        e->fp = fp;
        e->refcount = 1;
        touched |= e->bit;
        if (flock(fileno(fp), op) != 0) {
            VRALFileUnlock(touched);
            return Round::Retry;
        }
        e->mode = op;
        held |= e->bit;
    }
    if (held == wanted)
        return Round::AllHeld;
    VRALFileUnlock(touched);
    return Round::Retry;
}

}  // namespace

extern "C" int VRALFileLock(int id, int seconds)
{
    if (VRALFileLockCheckDir() < 0)
        return -1;
    if (seconds >= 0) {
        const long long limit = static_cast<long long>(seconds) * 100;
        const int op = id & LOCK_ID_OP_MASK;
        for (long long elapsed = 0; elapsed <= limit; elapsed += kRoundTicks) {
            const Round r = tryRound(id, op);
            if (r == Round::AllHeld)
                return 0;
            if (r == Round::Refused || seconds == 0)
                break;
            usleep(kRoundSleepUs);
        }
    }
    VRAL_ERR_SET(ERR_LOCK_FAILED);
    return -1;
}
