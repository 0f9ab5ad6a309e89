#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "services/bdb/bdb_cache_internal.h"
#include "services/bdb/bdb_internal.h"

namespace vexabdb {

namespace {

void closeFiles(const CacheSet &set, void *rec)
{
    for (int i = 0; i < set.nFiles; ++i) {
        VEXABDB *&h = cacheSlot(set, rec, i);
        if (h != nullptr)
            VEXABDbClose(h);
        h = nullptr;
    }
}

enum class Live { Opened, Wanting, Failed };

// Opens the files at prefix as they stand.  Wanting: one is missing, not
// trusted or not taken by the library, and root is to build the set anew.
Live openLive(const CacheSet &set, void *rec, const char *prefix, struct stat *seen)
{
    const bool root = geteuid() == 0;
    for (int i = 0; i < set.nFiles; ++i) {
        const CacheFile &f = set.files[i];
        if (!root && f.secret)
            continue;
        const std::string path = cachePath(prefix, f);
        struct stat st {};
        const Entry e = cacheEntry(path, f, &st);
        if (e != Entry::Trusted && !root) {
            VRAL_LOG(LOG_ERR, "%s is not there or not root's own file.", path.c_str());
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return Live::Failed;
        }
        if (e == Entry::Missing)
            return Live::Wanting;
        if (e == Entry::Untrusted) {
            // replaced by new files, never reused: its writer may hold it open
            VRAL_LOG(LOG_ERR, "%s is no file of root's own, so rebuild db.", path.c_str());
            return Live::Wanting;
        }
        VEXABDB *h = cacheOpenEntry(path, f, root ? O_RDWR : O_RDONLY, st);
        if (h == nullptr) {
            const int code = VRALErrGet();
            if (!root || (code != ERR_INVALID_ARGUMENT && code != ERR_OPEN_FAILED))
                return Live::Failed;
            return Live::Wanting;
        }
        cacheSlot(set, rec, i) = h;
        if (seen != nullptr)
            seen[i] = st;
    }
    return Live::Opened;
}

}  // namespace

int cacheOpen(const CacheSet &set, void **pHandle, const char *prefix)
{
    return cacheOpenSeen(set, pHandle, prefix, nullptr);
}

int cacheOpenSeen(const CacheSet &set, void **pHandle, const char *prefix, struct stat *seen)
{
    if (pHandle == nullptr || prefix == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    HandleRec owner(set);
    void *rec = owner.get();
    if (rec == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        VRAL_LOG(LOG_ERR, "errno=%d/%m, malloc failed", errno);
        return -1;
    }
    const bool live = strcmp(prefix, set.prefix) == 0;
    int built = 0;
    Live l = Live::Failed;
    if (live) {
        l = openLive(set, rec, prefix, seen);
    } else if (geteuid() != 0) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
    } else {
        // at another prefix the set is always created afresh
        l = Live::Wanting;
    }
    if (l == Live::Wanting) {
        // built aside and moved in whole
        closeFiles(set, rec);
        const int r = live ? cacheRebuild(set) : cacheBuildAside(set, prefix);
        if (r == 0) {
            built = 1;
            l = openLive(set, rec, prefix, seen);
            if (l == Live::Wanting)
                VRAL_ERR_SET(ERR_OPEN_FAILED);
        }
    }
    if (l != Live::Opened)
        return -1;
    cacheClose(set, *pHandle);
    *pHandle = owner.release();
    return built;
}

void *cacheOpenChecked(const CacheSet &set)
{
    void *rec = nullptr;
    // what the open found at each path stands for the check's look at it
    constexpr int kMaxFiles = 8;
    struct stat seen[kMaxFiles];
    struct stat *pSeen = set.nFiles <= kMaxFiles ? seen : nullptr;
    const int r = cacheOpenSeen(set, &rec, set.prefix, pSeen);
    if (r != 0)
        return r < 0 ? nullptr : rec;
    if (cacheCheckSeen(set, &rec, pSeen) < 0) {
        // a process that cannot rebuild never reads a stale set; nor does
        // root when memory ran out
        if (VRALErrGet() == ERR_OUT_OF_MEMORY) {
            cacheClose(set, rec);
            return nullptr;
        }
        if (geteuid() != 0) {
            cacheClose(set, rec);
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return nullptr;
        }
    }
    return rec;
}

}  // namespace vexabdb
