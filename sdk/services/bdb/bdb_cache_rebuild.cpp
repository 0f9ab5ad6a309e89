#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>

#include "base/io/io_fd.h"
#include "services/bdb/bdb_cache_internal.h"
#include "services/bdb/bdb_internal.h"

namespace vexabdb {

namespace {

// The rebuild lock: root's own regular file, taken exclusively.
vralio::Fd takeRebuildLock(const char *path)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        vralio::Fd fd(::open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
        struct stat st {};
        if (fd.ok() && fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0) {
            while (flock(fd.get(), LOCK_EX) != 0) {
                if (errno != EINTR)
                    return vralio::Fd();
            }
            return fd;
        }
        // a link or somebody else's file squats on the name
        if (cacheRemove(path) != 0)
            break;
    }
    BDB_LOG(LOG_ERR, "cannot take the rebuild lock %s. errno=%d/%m", path, errno);
    return vralio::Fd();
}

}  // namespace

int cacheRebuild(const CacheSet &set)
{
    if (geteuid() != 0) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    vralio::Fd lock = takeRebuildLock(set.lockPath);
    if (!lock.ok()) {
        VRAL_ERR_SET(ERR_LOCK_FAILED);
        return -1;
    }
    void *fresh = nullptr;
    if (cacheOpen(set, &fresh, set.tmpPrefix) < 0) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    // everything is on disk before anyone can open it at the live name
    cacheClose(set, fresh);

    const CacheFile &first = set.files[0];
    VEXABDB *old = nullptr;
    struct stat st {};
    if (cacheEntry(cachePath(set.prefix, first), &st) == Entry::Trusted)
        old = openMode(cachePath(set.prefix, first).c_str(), O_RDWR, first.dup ? 1 : 0, first.secret ? 0600 : 0644);

    int r = 0;
    for (int i = 0; i < set.nFiles && r == 0; ++i) {
        const std::string from = cachePath(set.tmpPrefix, set.files[i]);
        const std::string to = cachePath(set.prefix, set.files[i]);
        if (cacheEntry(to, &st) == Entry::Untrusted)
            cacheRemove(to);
        if (rename(from.c_str(), to.c_str()) != 0) {
            const int e = errno;
            BDB_LOG(LOG_ERR, "rename(%s, %s) = (%d)/%m", from.c_str(), to.c_str(), e);
            VRAL_ERR_SET(e == EACCES ? ERR_ACCESS_DENIED : ERR_RENAME_FAILED);
            r = -1;
        }
    }
    if (r != 0) {
        // a half-moved set is never served: the next open builds it whole
        for (int i = 0; i < set.nFiles; ++i) {
            cacheRemove(cachePath(set.tmpPrefix, set.files[i]));
            cacheRemove(cachePath(set.prefix, set.files[i]));
        }
    }
    if (old != nullptr) {
        VEXABDbDeprecatedSet(old, 1);
        VEXABDbClose(old);
    }
    return r;
}

}  // namespace vexabdb
