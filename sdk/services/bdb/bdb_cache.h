// The life of a cache set: a fixed list of btree files mirroring source
// files, opened, checked against the sources and rebuilt under a temporary
// name.  The user, group and share sets are instances of it.
//
// Only root builds: the files are root's own in the world-writable /tmp,
// 0644, or 0600 for those holding password hashes; anything else found at a
// cache path (a link, another user's file, a file the library rejects) is
// removed and built again.  Another process opens a set read-only without
// its secret files and never builds it.
#ifndef VEXA_BDB_CACHE_H
#define VEXA_BDB_CACHE_H

#include <sys/stat.h>

#include <cstddef>

#include "base/err/vral_err.h"
#include "services/bdb/vexa_bdb.h"

namespace vexabdb {

struct CacheFile {
    const char *suffix;
    size_t slot;   // offset of the file's VEXABDB * in the handle record
    bool dup;      // duplicate keys (an id index)
    bool secret;   // holds password hashes: 0600, not opened by others
};

struct CacheSource {
    const char *path;
    int file;       // index of the file whose markers mirror it
    bool compared;  // looked at by the check (else only stored)
};

struct CacheSet {
    const char *prefix;
    const char *tmpPrefix;
    const char *lockPath;   // serialises rebuilds
    const CacheFile *files;
    int nFiles;
    const CacheSource *sources;
    int nSources;
    size_t cbHandle;        // the handle record: one VEXABDB * per file
    int (*build)(void *rec);
    const char *openName;     // names in the log lines
    const char *rebuildName;
};

// Open(&handle, prefix): 1 built, 0 opened, -1.  At the live prefix a set
// with missing or untrusted files is built under the temporary prefix and
// moved in; at another prefix everything is created afresh and built, and
// removed again when the build fails.
int cacheOpen(const CacheSet &set, void **pHandle, const char *prefix);
// 1 rebuilt or reopened, 0 current, -1.
int cacheCheck(const CacheSet &set, void **pHandle);
// 0 or -1.
int cacheRebuild(const CacheSet &set);
// Open at the live prefix, then Check when nothing was built.  NULL when
// the open failed, when the Check ran out of memory, or, for a process that
// cannot rebuild, when the set is not current.
void *cacheOpenChecked(const CacheSet &set);
void cacheClose(const CacheSet &set, void *rec);

// The file of a handle record.
VEXABDB *&cacheSlot(const CacheSet &set, void *rec, int file);

// Stats every source, before it is read: 0, or -1 (logged).
int cacheStatSources(const CacheSet &set, struct stat *st);
// Stores what cacheStatSources (or a writer) found as each paired file's
// markers.
int cacheStoreSources(const CacheSet &set, void *rec, const struct stat *st);
// 1 when the open files still mirror the sources and are the live set,
// else 0 (a write must then not be dumped).
int cacheIsCurrent(const CacheSet &set, void *rec);
// After a write that failed half-way: the next check rebuilds, and no dump
// takes the set as current.
void cacheMarkStale(const CacheSet &set, void *rec) noexcept;

// After an open of a set failed: ERR_OPEN_FAILED, unless it failed for
// want of memory, which stays the cause.
inline void cacheOpenFailed()
{
    if (VRALErrGet() != ERR_OUT_OF_MEMORY)
        VRAL_ERR_SET(ERR_OPEN_FAILED);
}

// Runs a write to the open set rec: should it throw half-way, the set is
// marked for rebuild and the result is -1 with ERR_OUT_OF_MEMORY.
template <typename Body>
int cacheWriteGuarded(const CacheSet &set, void *rec, Body body) noexcept
{
    try {
        return body();
    } catch (...) {
        cacheMarkStale(set, rec);
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
}

}  // namespace vexabdb

#endif
