// The sources' markers: "#VEXA@SYNC@TIME" with the modification second, and
// beside it a private marker with the file's inode, size and nanoseconds,
// so that an edit within the same second is seen too.  (Not the device: an
// overlay's changes from mount to mount.)
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "services/bdb/bdb_cache_internal.h"
#include "services/bdb/bdb_internal.h"

namespace vexabdb {

namespace {

constexpr char kStatKey[] = "#VEXA@SYNC@STAT";
constexpr int kStatKeyLen = 15;

struct SyncStat {
    uint64_t ino;
    int64_t size;
    int64_t sec;
    int64_t nsec;
};

SyncStat syncStat(const struct stat &st)
{
    SyncStat s{};
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.sec = st.st_mtim.tv_sec;
    s.nsec = st.st_mtim.tv_nsec;
    return s;
}

// The library's pages written out and on disk: 0, or -1 (logged, code
// recorded).
int syncFile(VEXABDB *h)
{
    if (h->pDB->sync(h->pDB, 0) != 0)
        return callFailed("sync", ERR_DB_PUT_FAILED, true);
    if (fsync(fileFd(h)) != 0)
        return callFailed("fsync", ERR_DB_PUT_FAILED, true);
    return 0;
}

}  // namespace

bool cacheSourceDiffers(VEXABDB *h, const struct stat &st)
{
    char *p = nullptr;
    int cb = 0;
    if (VEXABDbGet(h, kStatKey, kStatKeyLen, &p, &cb) != 0)
        return true;
    const SyncStat want = syncStat(st);
    const bool differs = cb != static_cast<int>(sizeof want) || memcmp(p, &want, sizeof want) != 0;
    free(p);
    return differs;
}

int cacheStatSources(const CacheSet &set, struct stat *st)
{
    for (int j = 0; j < set.nSources; ++j) {
        if (stat(set.sources[j].path, &st[j]) != 0) {
            VRAL_LOG(LOG_ERR, "stat [%s] failed!! errno=%d/%m", set.sources[j].path, errno);
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return -1;
        }
    }
    return 0;
}

int cacheStoreSources(const CacheSet &set, void *rec, const struct stat *st)
{
    for (int j = 0; j < set.nSources; ++j) {
        VEXABDB *h = cacheSlot(set, rec, set.sources[j].file);
        if (h == nullptr) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        const SyncStat s = syncStat(st[j]);
        if (VEXABDbConfSyncTimeSet(h, static_cast<int>(st[j].st_mtime)) != 0 ||
            VEXABDbSet(h, kStatKey, kStatKeyLen, &s, sizeof s) != 0) {
            VRAL_LOG(LOG_ERR, "VEXABDbConfSyncTimeSet() failed!! vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
    }
    // on disk before the caller's lock goes
    for (int i = 0; i < set.nFiles; ++i) {
        VEXABDB *h = cacheSlot(set, rec, i);
        if (h != nullptr && syncFile(h) != 0) {
            cacheMarkStale(set, rec);
            return -1;
        }
    }
    return 0;
}

void cacheMarkStale(const CacheSet &set, void *rec) noexcept
{
    if (rec == nullptr)
        return;
    const int code = VRALErrGet();
    for (int i = 0; i < set.nFiles; ++i) {
        VEXABDB *h = cacheSlot(set, rec, i);
        if (h == nullptr)
            continue;
        // a marker that no source matches
        const char stale = 0;
        if (VEXABDbSet(h, kStatKey, kStatKeyLen, &stale, 1) == 0 && syncFile(h) == 0)
            continue;
        // not even the mark is written: as root the file goes, so that the
        // next open builds the set
        try {
            const std::string path = cachePath(set.prefix, set.files[i]);
            struct stat st {};
            struct stat fst {};
            if (geteuid() == 0 && cacheEntry(path, set.files[i], &st) == Entry::Trusted &&
                fstat(fileFd(h), &fst) == 0 && fst.st_dev == st.st_dev && fst.st_ino == st.st_ino)
                unlink(path.c_str());
        } catch (...) {
            VRAL_LOG(LOG_ERR, "cannot mark the set of %s for rebuild.", set.prefix);
        }
    }
    if (code != 0)
        VRAL_ERR_SET(code);
}

}  // namespace vexabdb
