#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>

#include "base/io/io_fd.h"
#include "services/bdb/bdb_cache_internal.h"
#include "services/bdb/bdb_internal.h"

namespace vexabdb {

namespace {

// Rounds of 50 ms another root process's rebuild may hold the lock.
constexpr int kLockRounds = 200;
constexpr useconds_t kLockRoundUs = 50000;

bool isRootsLock(const struct stat &st)
{
    // nobody else may open it: a holder of any descriptor could flock it
    return S_ISREG(st.st_mode) && st.st_uid == 0 && st.st_nlink == 1 && (st.st_mode & 077) == 0;
}

// Puts a lock file of root's own at path: made in a folder of its own and
// renamed there only while the name is free.
void placeLock(const CacheSet &set)
{
    BuildFolder folder(set.prefix, set.tmpPrefix);
    if (!folder.ok())
        return;
    const std::string made = folder.file(".lock");
    vralio::Fd fd(::open(made.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.ok())
        renameat2(AT_FDCWD, made.c_str(), AT_FDCWD, set.lockPath, RENAME_NOREPLACE);
}

bool lockHeld(int fd)
{
    for (int round = 0; round < kLockRounds; ++round) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        usleep(kLockRoundUs);
    }
    return false;
}

// The rebuild lock: root's own regular file, taken exclusively; whatever
// else lies at its name is cleared (a folder moved aside).
vralio::Fd takeRebuildLock(const CacheSet &set)
{
    const char *path = set.lockPath;
    for (int attempt = 0; attempt < kCacheAttempts; ++attempt) {
        vralio::Fd fd(::open(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        struct stat st {};
        if (!fd.ok() && errno == ENOENT) {
            placeLock(set);
            continue;
        }
        if (!fd.ok() || fstat(fd.get(), &st) != 0 || !isRootsLock(st)) {
            VRAL_LOG(LOG_ERR, "%s is no lock of root's own, so replace it.", path);
            if (cacheClear(path) != 0)
                break;
            continue;
        }
        if (!lockHeld(fd.get()))
            break;
        // still the file at the name: another root process may have
        // replaced an untrusted one meanwhile
        struct stat now {};
        if (lstat(path, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino)
            return fd;
    }
    VRAL_LOG(LOG_ERR, "cannot take the rebuild lock %s. errno=%d/%m", path, errno);
    return vralio::Fd();
}

}  // namespace

int cacheRebuild(const CacheSet &set)
{
    if (geteuid() != 0) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    vralio::Fd lock = takeRebuildLock(set);
    if (!lock.ok()) {
        VRAL_ERR_SET(ERR_LOCK_FAILED);
        return -1;
    }
    // the old set's first file, marked replaced once the new one is in
    const CacheFile &first = set.files[0];
    const std::string live = cachePath(set.prefix, first);
    OpenDb old;
    struct stat st {};
    if (cacheEntry(live, first, &st) == Entry::Trusted)
        old.h = cacheOpenEntry(live, first, O_RDWR, st);
    const int r = cacheBuildAside(set, set.prefix);
    if (r == 0 && old.h != nullptr)
        VEXABDbDeprecatedSet(old.h, 1);
    return r;
}

}  // namespace vexabdb
