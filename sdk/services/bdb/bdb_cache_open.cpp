#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "services/bdb/bdb_cache_internal.h"
#include "services/bdb/bdb_internal.h"

namespace vexabdb {

namespace {

mode_t fileMode(const CacheFile &f)
{
    return f.secret ? 0600 : 0644;
}

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

// Opens the live files as they stand.  Wanting: one is missing, or was
// not trusted or not taken by the library and has been removed.
Live openLive(const CacheSet &set, void *rec)
{
    const bool root = geteuid() == 0;
    for (int i = 0; i < set.nFiles; ++i) {
        const CacheFile &f = set.files[i];
        if (!root && f.secret)
            continue;
        const std::string path = cachePath(set.prefix, f);
        struct stat st {};
        const Entry e = cacheEntry(path, &st);
        if (e == Entry::Missing && root)
            return Live::Wanting;
        if (e != Entry::Trusted && !root) {
            BDB_LOG(LOG_ERR, "%s is not there or not root's own file.", path.c_str());
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return Live::Failed;
        }
        if (e == Entry::Untrusted) {
            BDB_LOG(LOG_ERR, "%s is no file of root's own, so rebuild db.", path.c_str());
            return cacheRemove(path) == 0 ? Live::Wanting : Live::Failed;
        }
        VEXABDB *h = openMode(path.c_str(), root ? O_RDWR : O_RDONLY, f.dup ? 1 : 0, fileMode(f));
        if (h == nullptr) {
            const int code = VRALErrGet();
            BDB_LOG(LOG_ERR, "VEXABDbOpen [%s] failed. vexaerr=0x%04X", path.c_str(), code);
            if (!root || (code != ERR_INVALID_ARGUMENT && code != ERR_OPEN_FAILED))
                return Live::Failed;
            return cacheRemove(path) == 0 ? Live::Wanting : Live::Failed;
        }
        cacheSlot(set, rec, i) = h;
        // the file opened must be the one looked at, not one swapped in
        struct stat fst {};
        if (fstat(fileFd(h), &fst) != 0 || fst.st_dev != st.st_dev || fst.st_ino != st.st_ino) {
            BDB_LOG(LOG_ERR, "%s changed while it was opened.", path.c_str());
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return Live::Failed;
        }
    }
    return Live::Opened;
}

// Creates every file at prefix afresh (whatever lay there is removed, never
// reused) and builds the set; what was created is removed on failure.
int openFresh(const CacheSet &set, void *rec, const char *prefix)
{
    int r = 0;
    for (int i = 0; i < set.nFiles && r == 0; ++i) {
        const CacheFile &f = set.files[i];
        const std::string path = cachePath(prefix, f);
        // the library creates the file under "__db." and its name first; an
        // entry squatting there would stop every build
        const size_t slash = path.rfind('/') + 1;
        const std::string libraryTmp = path.substr(0, slash) + "__db." + path.substr(slash);
        if (cacheRemove(path) != 0 || cacheRemove(libraryTmp) != 0) {
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            r = -1;
            break;
        }
        VEXABDB *h = openMode(path.c_str(), O_RDWR | O_CREAT | O_EXCL, f.dup ? 1 : 0, fileMode(f));
        if (h == nullptr) {
            BDB_LOG(LOG_ERR, "VEXABDbOpen [%s] failed. vexaerr=0x%04X", path.c_str(), VRALErrGet());
            r = -1;
            break;
        }
        cacheSlot(set, rec, i) = h;
        r = VEXABDbDeprecatedSet(h, 0);
    }
    if (r == 0)
        r = set.build(rec);
    if (r != 0) {
        closeFiles(set, rec);
        for (int i = 0; i < set.nFiles; ++i)
            cacheRemove(cachePath(prefix, set.files[i]));
    }
    return r;
}

}  // namespace

int cacheOpen(const CacheSet &set, void **pHandle, const char *prefix)
{
    if (pHandle == nullptr || prefix == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    void *rec = calloc(1, set.cbHandle);
    if (rec == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        BDB_LOG(LOG_ERR, "errno=%d/%m, malloc failed", errno);
        return -1;
    }
    const bool root = geteuid() == 0;
    int built = 0;
    bool ok = false;
    if (strcmp(prefix, set.prefix) == 0) {
        Live l = openLive(set, rec);
        if (l == Live::Wanting) {
            // a missing set is built aside and moved in whole
            closeFiles(set, rec);
            if (cacheRebuild(set) == 0) {
                built = 1;
                l = openLive(set, rec);
                if (l == Live::Wanting)
                    VRAL_ERR_SET(ERR_OPEN_FAILED);
            }
        }
        ok = l == Live::Opened;
    } else if (!root) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
    } else {
        ok = openFresh(set, rec, prefix) == 0;
        built = 1;
    }
    if (!ok) {
        cacheClose(set, rec);
        return -1;
    }
    cacheClose(set, *pHandle);
    *pHandle = rec;
    return built;
}

void *cacheOpenChecked(const CacheSet &set)
{
    void *rec = nullptr;
    const int r = cacheOpen(set, &rec, set.prefix);
    if (r != 0)
        return r < 0 ? nullptr : rec;
    if (cacheCheck(set, &rec) < 0 && geteuid() != 0) {
        // a process that cannot rebuild never reads a stale set
        cacheClose(set, rec);
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return nullptr;
    }
    return rec;
}

}  // namespace vexabdb
