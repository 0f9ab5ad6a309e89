#include <unistd.h>

#include <cstring>

#include "services/bdb/bdb_cache_internal.h"
#include "services/bdb/bdb_internal.h"

namespace vexabdb {

namespace {

// seen: what the open that made rec found at the path, its file then
// opened and matched; the path is not looked at again.
Standing fileStanding(const CacheSet &set, void *rec, int i, bool logWhy, const struct stat *seen)
{
    VEXABDB *h = cacheSlot(set, rec, i);
    const std::string path = cachePath(set.prefix, set.files[i]);
    struct stat st {};
    const int e0 = errno;
    if (seen != nullptr)
        st = *seen;
    switch (seen != nullptr ? Entry::Trusted : cacheEntry(path, set.files[i], &st)) {
    case Entry::Missing:
        if (logWhy)
            VRAL_LOG(LOG_ERR, "stat(%s) failed, so rebuild db. (errno=%s)", path.c_str(), strerror(errno));
        return Standing::Rebuild;
    case Entry::Untrusted:
        if (logWhy)
            VRAL_LOG(LOG_ERR, "%s is no file of root's own, so rebuild db.", path.c_str());
        return Standing::Rebuild;
    case Entry::Trusted:
        break;
    }
    errno = e0;
    if (st.st_size < 8192) {
        if (logWhy)
            VRAL_LOG(LOG_ERR, "st_size(%s)=%llu, so rebuild db.", path.c_str(),
                     static_cast<unsigned long long>(st.st_size));
        return Standing::Rebuild;
    }
    // another process moved a new set in: this handle reads the old files
    struct stat fst {};
    if (seen == nullptr && (fstat(fileFd(h), &fst) != 0 || fst.st_dev != st.st_dev || fst.st_ino != st.st_ino))
        return Standing::Reopen;
    int flag = 0;
    if (getInt(h, BDB_KEY_DEPRECATED, BDB_KEY_DEPRECATED_LEN, &flag) != 0) {
        const int code = VRALErrGet();
        return code == ERR_NOT_FOUND || code == ERR_BAD_FORMAT ? Standing::Rebuild : Standing::Failed;
    }
    return flag == 1 ? Standing::Reopen : Standing::Current;
}

}  // namespace

Standing cacheStanding(const CacheSet &set, void *rec, bool logWhy, const struct stat *seen)
{
    for (int i = 0; i < set.nFiles; ++i) {
        if (cacheSlot(set, rec, i) == nullptr)
            continue;
        const Standing s = fileStanding(set, rec, i, logWhy, seen != nullptr ? &seen[i] : nullptr);
        if (s != Standing::Current)
            return s;
    }
    for (int j = 0; j < set.nSources; ++j) {
        const CacheSource &src = set.sources[j];
        VEXABDB *h = cacheSlot(set, rec, src.file);
        if (!src.compared || h == nullptr)
            continue;
        struct stat st {};
        if (stat(src.path, &st) != 0) {
            switch (errno) {
            case EACCES:
                VRAL_ERR_SET(ERR_ACCESS_DENIED);
                break;
            case ENOMEM:
                VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
                break;
            case ENOENT:
                VRAL_ERR_SET(ERR_NO_DEVICE);
                break;
            default:
                VRAL_ERR_SET(ERR_STAT_FAILED);
                break;
            }
            return Standing::Failed;
        }
        const int r = VEXABDbIsNeedToRebuild(h, static_cast<int>(st.st_mtime));
        if (r < 0)
            return Standing::Failed;
        if (r == 1 || cacheSourceDiffers(h, st))
            return Standing::Rebuild;
    }
    return Standing::Current;
}

int cacheIsCurrent(const CacheSet &set, void *rec)
{
    return rec != nullptr && cacheStanding(set, rec, false) == Standing::Current ? 1 : 0;
}

int cacheCheck(const CacheSet &set, void **pHandle)
{
    return cacheCheckSeen(set, pHandle, nullptr);
}

int cacheCheckSeen(const CacheSet &set, void **pHandle, const struct stat *seen)
{
    if (pHandle == nullptr || *pHandle == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    switch (cacheStanding(set, *pHandle, true, seen)) {
    case Standing::Current:
        return 0;
    case Standing::Failed:
        return -1;
    case Standing::Rebuild:
        if (geteuid() != 0) {
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return -1;
        }
        if (cacheRebuild(set) != 0) {
            VRAL_LOG(LOG_ERR, "%s failed, vexaerr=0x%04X", set.rebuildName, VRALErrGet());
            return -1;
        }
        // The old files are marked for other holders; one the library no
        // longer writes (the reason for the rebuild) is replaced all the same.
        for (int i = 0; i < set.nFiles; ++i) {
            VEXABDB *h = cacheSlot(set, *pHandle, i);
            if (h != nullptr)
                VEXABDbDeprecatedSet(h, 1);
        }
        break;
    case Standing::Reopen:
        break;
    }
    if (cacheOpen(set, pHandle, set.prefix) < 0) {
        VRAL_LOG(LOG_ERR, "%s() Error, VRALError=(0x%04X)", set.openName, VRALErrGet());
        return -1;
    }
    return 1;
}

}  // namespace vexabdb
