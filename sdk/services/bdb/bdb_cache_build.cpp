// A set is built only in a folder of root's own and reaches its live names
// by rename: nothing is created, opened or removed at a name another user
// can plant in /tmp.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

#include "base/io/io_fd.h"
#include "base/io/io_path.h"
#include "services/bdb/bdb_cache_internal.h"
#include "services/bdb/bdb_internal.h"

namespace vexabdb {

namespace {

std::string baseOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int syncFolder(const std::string &path)
{
    vralio::Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.ok() || fsync(fd.get()) != 0) {
        VRAL_LOG(LOG_ERR, "fsync(%s) failed. errno=%d/%m", path.c_str(), errno);
        return -1;
    }
    return 0;
}

// Writes out, syncs and closes one built file: 0 only when each step
// succeeded.  The handle is gone afterwards either way.
int finishFile(VEXABDB *&h)
{
    DB *db = h->pDB;
    int r = 0;
    if (db->sync(db, 0) != 0)
        r = callFailed("sync", ERR_OPEN_FAILED, true);
    else if (fsync(db->fd(db)) != 0)
        r = callFailed("fsync", ERR_OPEN_FAILED, true);
    if (db->close(db) != 0 && r == 0)
        r = callFailed("close", ERR_OPEN_FAILED, true);
    free(h);
    h = nullptr;
    return r;
}

// Creates and fills every file of the set in folder.
int buildIn(const CacheSet &set, void *rec, const BuildFolder &folder)
{
    for (int i = 0; i < set.nFiles; ++i) {
        const CacheFile &f = set.files[i];
        const std::string path = folder.file(f.suffix);
        VEXABDB *h = openMode(path.c_str(), O_RDWR | O_CREAT | O_EXCL, f.dup ? 1 : 0, cacheMode(f));
        if (h == nullptr) {
            VRAL_LOG(LOG_ERR, "VEXABDbOpen [%s] failed. vexaerr=0x%04X", path.c_str(), VRALErrGet());
            return -1;
        }
        cacheSlot(set, rec, i) = h;
        if (VEXABDbDeprecatedSet(h, 0) != 0)
            return -1;
    }
    if (set.build(rec) != 0)
        return -1;
    int r = 0;
    for (int i = 0; i < set.nFiles; ++i) {
        if (finishFile(cacheSlot(set, rec, i)) != 0)
            r = -1;
    }
    return r;
}

}  // namespace

BuildFolder::BuildFolder(const char *prefix, const char *tmpPrefix) : base_(baseOf(tmpPrefix))
{
    std::string tmpl = vralio::folderOf(prefix) + "/" + base_ + ".XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) {
        VRAL_LOG(LOG_ERR, "mkdtemp(%s) failed. errno=%d/%m", tmpl.c_str(), errno);
        return;
    }
    // a move, not a copy: nothing may throw once the folder exists
    path_ = std::move(tmpl);
}

BuildFolder::~BuildFolder()
{
    if (path_.empty())
        return;
    const int e = errno;
    // nobody else can add to a folder of root's own with mode 0700
    vralio::Fd fd(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    DIR *d = fd.ok() ? fdopendir(dup(fd.get())) : nullptr;
    if (d != nullptr) {
        while (const struct dirent *e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                unlinkat(fd.get(), e->d_name, 0);
        }
        closedir(d);
    }
    if (rmdir(path_.c_str()) != 0)
        VRAL_LOG(LOG_ERR, "rmdir(%s) failed. errno=%d/%m", path_.c_str(), errno);
    errno = e;
}

int cacheBuildAside(const CacheSet &set, const char *prefix)
{
    BuildFolder folder(prefix, set.tmpPrefix);
    if (!folder.ok()) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    int built = -1;
    {
        HandleRec rec(set);
        if (rec.get() == nullptr) {
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            return -1;
        }
        built = buildIn(set, rec.get(), folder);
    }
    if (built != 0 || syncFolder(folder.path()) != 0) {
        cacheOpenFailed();
        return -1;
    }
    for (int i = 0; i < set.nFiles; ++i) {
        const std::string from = folder.file(set.files[i].suffix);
        const std::string to = cachePath(prefix, set.files[i]);
        if (cacheMoveIn(from, to) != 0) {
            const int e = errno;
            VRAL_LOG(LOG_ERR, "rename(%s, %s) = (%d)/%m", from.c_str(), to.c_str(), e);
            // a half-moved set is never served: the next open builds it whole
            for (int j = 0; j < i; ++j)
                cacheClear(cachePath(prefix, set.files[j]));
            VRAL_ERR_SET(e == EACCES ? ERR_ACCESS_DENIED : ERR_RENAME_FAILED);
            return -1;
        }
    }
    syncFolder(vralio::folderOf(prefix));
    return 0;
}

}  // namespace vexabdb
