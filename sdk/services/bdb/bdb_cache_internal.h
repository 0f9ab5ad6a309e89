// Steps the cache-set operations share.
#ifndef VEXA_BDB_CACHE_INTERNAL_H
#define VEXA_BDB_CACHE_INTERNAL_H

#include <cstdlib>
#include <string>

#include "services/bdb/bdb_cache.h"

namespace vexabdb {

// How often the engine tries again at a name another user keeps
// re-planting, or a lock another root process holds, before it gives up.
constexpr int kCacheAttempts = 16;

inline std::string cachePath(const char *prefix, const CacheFile &f)
{
    return std::string(prefix) + f.suffix;
}

inline mode_t cacheMode(const CacheFile &f)
{
    return f.secret ? 0600 : 0644;
}

// A handle record of a set, closed with its files on every path out
// unless released to the caller.
class HandleRec {
public:
    explicit HandleRec(const CacheSet &set) : set_(set), rec_(calloc(1, set.cbHandle)) {}
    ~HandleRec() { cacheClose(set_, rec_); }
    HandleRec(const HandleRec &) = delete;
    HandleRec &operator=(const HandleRec &) = delete;
    void *get() const { return rec_; }
    void *release()
    {
        void *r = rec_;
        rec_ = nullptr;
        return r;
    }

private:
    const CacheSet &set_;
    void *rec_;
};

// One open file, closed on every path out.
struct OpenDb {
    VEXABDB *h = nullptr;
    OpenDb() = default;
    OpenDb(const OpenDb &) = delete;
    OpenDb &operator=(const OpenDb &) = delete;
    ~OpenDb()
    {
        if (h != nullptr)
            VEXABDbClose(h);
    }
};

enum class Entry { Missing, Trusted, Untrusted };

// What lies at a cache path, by lstat: only a regular file of root's own
// that nobody else can write (nor read, when it holds secrets) is trusted,
// and, as root, only with one link.
Entry cacheEntry(const std::string &path, const CacheFile &f, struct stat *pst);

// Opens a file cacheEntry found trusted as st, and only that file: NULL
// (logged, code recorded) when the library rejects it or another lies there.
VEXABDB *cacheOpenEntry(const std::string &path, const CacheFile &f, int oflags, const struct stat &st);

// Clears a name in a shared folder: a folder is moved aside to a fresh name
// (kept, never entered), anything else unlinked.  0 or -1 (logged).
int cacheClear(const std::string &path);

// Renames from over to, clearing a folder at to first: 0, or -1 with errno.
int cacheMoveIn(const std::string &from, const std::string &to);

// A folder of root's own (0700), made with mkdtemp beside a prefix for one
// build; removed with its contents on every path out.
class BuildFolder {
public:
    BuildFolder(const char *prefix, const char *tmpPrefix);
    ~BuildFolder();
    BuildFolder(const BuildFolder &) = delete;
    BuildFolder &operator=(const BuildFolder &) = delete;
    bool ok() const { return !path_.empty(); }
    const std::string &path() const { return path_; }
    // A path in the folder, named as the temporary file of that suffix.
    std::string file(const char *suffix) const { return path_ + "/" + base_ + suffix; }

private:
    std::string path_;
    std::string base_;
};

// Builds the whole set in a folder of its own and moves every file to
// prefix (root only): 0, or -1 with the live files as they were.
int cacheBuildAside(const CacheSet &set, const char *prefix);

// 1 when the private marker of h does not hold the source's st.
bool cacheSourceDiffers(VEXABDB *h, const struct stat &st);

// How the open files stand against the live paths and the sources.
enum class Standing { Current, Reopen, Rebuild, Failed };
// seen (one per file, or NULL): what the open that made rec found at each
// path; see cacheOpenSeen.
Standing cacheStanding(const CacheSet &set, void *rec, bool logWhy, const struct stat *seen = nullptr);

// cacheOpen, handing back in seen (one per file) what each opened file's
// path showed; the open has matched the file it opened to it.
int cacheOpenSeen(const CacheSet &set, void **pHandle, const char *prefix, struct stat *seen);

// cacheCheck of a set just opened by cacheOpenSeen: the paths it looked at
// are taken as seen there, not looked at again.
int cacheCheckSeen(const CacheSet &set, void **pHandle, const struct stat *seen);

}  // namespace vexabdb

#endif
