// Steps the cache-set operations share.
#ifndef VEXA_BDB_CACHE_INTERNAL_H
#define VEXA_BDB_CACHE_INTERNAL_H

#include <string>

#include "services/bdb/bdb_cache.h"

namespace vexabdb {

inline std::string cachePath(const char *prefix, const CacheFile &f)
{
    return std::string(prefix) + f.suffix;
}

enum class Entry { Missing, Trusted, Untrusted };

// What lies at a cache path, by lstat: as root only a regular file of
// root's own with one link is trusted; for others, root's regular file.
Entry cacheEntry(const std::string &path, struct stat *pst);

// Removes what lies at path, unless it is a folder; 0 or -1.
int cacheRemove(const std::string &path);

// 1 when the private marker of h does not hold the source's st.
bool cacheSourceDiffers(VEXABDB *h, const struct stat &st);

// How the open files stand against the live paths and the sources.
enum class Standing { Current, Reopen, Rebuild, Failed };
Standing cacheStanding(const CacheSet &set, void *rec, bool logWhy);

}  // namespace vexabdb

#endif
