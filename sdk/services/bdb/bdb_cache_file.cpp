#include <unistd.h>

#include <cstdlib>

#include "services/bdb/bdb_cache_internal.h"
#include "services/bdb/bdb_internal.h"

namespace vexabdb {

VEXABDB *&cacheSlot(const CacheSet &set, void *rec, int file)
{
    return *reinterpret_cast<VEXABDB **>(static_cast<char *>(rec) + set.files[file].slot);
}

void cacheClose(const CacheSet &set, void *rec)
{
    if (rec == nullptr)
        return;
    for (int i = 0; i < set.nFiles; ++i) {
        VEXABDB *&h = cacheSlot(set, rec, i);
        if (h != nullptr)
            VEXABDbClose(h);
        h = nullptr;
    }
    free(rec);
}

Entry cacheEntry(const std::string &path, struct stat *pst)
{
    if (lstat(path.c_str(), pst) != 0)
        return Entry::Missing;
    if (!S_ISREG(pst->st_mode) || pst->st_uid != 0)
        return Entry::Untrusted;
    if (geteuid() == 0 && pst->st_nlink != 1)
        return Entry::Untrusted;
    return Entry::Trusted;
}

int cacheRemove(const std::string &path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return 0;
    if (unlink(path.c_str()) != 0) {
        BDB_LOG(LOG_ERR, "unlink(%s) failed. errno=%d/%m", path.c_str(), errno);
        return -1;
    }
    return 0;
}

}  // namespace vexabdb
