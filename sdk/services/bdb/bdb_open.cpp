#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace vexabdb {

int callFailed(const char *call, int fallback, bool noSpace)
{
    const int e = errno;
    VRAL_LOG(LOG_ERR, "errno=%d/%m, db->%s failed.", e, call);
    VRAL_ERR_SET(errCode(e, fallback, noSpace));
    return -1;
}

int fileFd(const VEXABDB *h)
{
    if (h == nullptr || h->pDB == nullptr)
        return -1;
    return h->pDB->fd(h->pDB);
}

VEXABDB *openMode(const char *path, int oflags, int fDup, mode_t mode, struct stat *pst)
{
    if (path == nullptr || path[0] == '\0') {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    auto *h = static_cast<VEXABDB *>(calloc(1, sizeof(VEXABDB)));
    if (h == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    BTREEINFO info;
    memset(&info, 0, sizeof info);
    info.flags = fDup == 1 ? R_DUP : 0;
    // A fixed page, not the file system's block: a built file is never below
    // the size that marks one cut short, and lookups are quickest with it.
    info.psize = kPageSize;
    // A file the library creates is made 0600 at first and only opened up
    // below, on its own descriptor.
    h->pDB = dbopen(path, oflags, 0600, DB_BTREE, &info);
    if (h->pDB == nullptr) {
        const int e = errno;
        switch (e) {
        case EINVAL:
            VRAL_ERR_SET(ERR_INVALID_ARGUMENT);
            break;
        case EACCES:
            VRAL_ERR_SET(ERR_ACCESS_DENIED);
            break;
        case ENOSPC:
            VRAL_ERR_SET(ERR_NO_SPACE);
            break;
        case ENOENT:
            VRAL_ERR_SET(ERR_FILE_NOT_FOUND);
            break;
        default:
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            errno = e;
            VRAL_LOG(LOG_NOTICE, "errno=%d/%m, dbopen failed.", e);
            break;
        }
        free(h);
        return nullptr;
    }
    struct stat own {};
    struct stat &st = pst != nullptr ? *pst : own;
    const int fd = fileFd(h);
    const bool root = geteuid() == 0;
    // a failed fstat leaves st zeroed: no file matches it
    if ((root || pst != nullptr) && (fd < 0 || fstat(fd, &st) != 0))
        st = {};
    if (root) {
        // Only a regular file of root's own is trusted, and its mode is set
        // on the descriptor the library holds, never through the path.
        if (!S_ISREG(st.st_mode) || st.st_uid != 0 || st.st_nlink != 1) {
            VRAL_LOG(LOG_ERR, "%s is no file of root's own, not used.", path);
            h->pDB->close(h->pDB);
            free(h);
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return nullptr;
        }
        if ((st.st_mode & 07777) != mode && fchmod(fd, mode) != 0)
            VRAL_LOG(LOG_ERR, "errno=%d/%m, chmod failed.", errno);
    }
    h->cursorType = BDB_CURSOR_NEXT;
    return h;
}

}  // namespace vexabdb

namespace {

VEXABDB *bDbOpen(const char *path, int oflags, int fDup)
{
    return vexabdb::openMode(path, oflags, fDup, 0644);
}

}  // namespace

extern "C" VEXABDB *VEXABDbOpen(const char *path, int oflags, int fDup)
{
    return vral::NoThrow(static_cast<VEXABDB *>(nullptr), [&] { return bDbOpen(path, oflags, fDup); });
}
