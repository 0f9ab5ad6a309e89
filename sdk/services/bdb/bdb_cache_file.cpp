#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdio>
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

Entry cacheEntry(const std::string &path, const CacheFile &f, struct stat *pst)
{
    if (lstat(path.c_str(), pst) != 0)
        return Entry::Missing;
    // a file others can write may hold anything (and may be held open for
    // writing whatever its mode becomes); one holding secrets that others
    // can read has already shown them
    const mode_t beyond = pst->st_mode & 0777 & ~cacheMode(f);
    if (!S_ISREG(pst->st_mode) || pst->st_uid != 0 || beyond != 0)
        return Entry::Untrusted;
    if (geteuid() == 0 && pst->st_nlink != 1)
        return Entry::Untrusted;
    return Entry::Trusted;
}

VEXABDB *cacheOpenEntry(const std::string &path, const CacheFile &f, int oflags, const struct stat &st)
{
    struct stat fst {};
    VEXABDB *h = openMode(path.c_str(), oflags, f.dup ? 1 : 0, cacheMode(f), &fst);
    if (h == nullptr) {
        VRAL_LOG(LOG_ERR, "VEXABDbOpen [%s] failed. vexaerr=0x%04X", path.c_str(), VRALErrGet());
        return nullptr;
    }
    // the file opened must be the one looked at, not one swapped in
    if (fst.st_dev != st.st_dev || fst.st_ino != st.st_ino) {
        VRAL_LOG(LOG_ERR, "%s changed while it was opened.", path.c_str());
        VEXABDbClose(h);
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return nullptr;
    }
    return h;
}

namespace {

// Moves a folder to a name nobody holds yet, beside it.
int moveAside(const std::string &path)
{
    for (int attempt = 0; attempt < kCacheAttempts; ++attempt) {
        unsigned int n = 0;
        if (getrandom(&n, sizeof n, 0) != static_cast<ssize_t>(sizeof n))
            n = static_cast<unsigned int>(random());
        char tail[32];
        snprintf(tail, sizeof tail, ".aside.%08x", n);
        const std::string to = path + tail;
        if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
            VRAL_LOG(LOG_ERR, "%s is a folder, moved aside to %s.", path.c_str(), to.c_str());
            return 0;
        }
        if (errno == ENOENT)
            return 0;
        if (errno != EEXIST)
            break;
    }
    VRAL_LOG(LOG_ERR, "cannot move %s aside. errno=%d/%m", path.c_str(), errno);
    return -1;
}

}  // namespace

int cacheClear(const std::string &path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return 0;
    if (S_ISDIR(st.st_mode))
        return moveAside(path);
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        VRAL_LOG(LOG_ERR, "unlink(%s) failed. errno=%d/%m", path.c_str(), errno);
        return -1;
    }
    return 0;
}

int cacheMoveIn(const std::string &from, const std::string &to)
{
    for (int attempt = 0; attempt < kCacheAttempts; ++attempt) {
        if (rename(from.c_str(), to.c_str()) == 0)
            return 0;
        // only a folder stops a rename over a name
        if (errno != EISDIR && errno != ENOTEMPTY && errno != EEXIST)
            return -1;
        if (cacheClear(to) != 0)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace vexabdb
