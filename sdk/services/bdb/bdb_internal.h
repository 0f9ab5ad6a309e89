// Shared pieces of the database wrapper: the log line of a failed library
// call, errno-to-code mapping, checked marker values and the open with a
// file mode.
#ifndef VEXA_BDB_INTERNAL_H
#define VEXA_BDB_INTERNAL_H

#include <db_185.h>
#include <sys/types.h>
#include <syslog.h>

#include <cerrno>

#include "base/err/vral_err.h"
#include "services/bdb/vexa_bdb.h"

#include "base/err/err_log.h"

namespace vexabdb {

// errno of a failed library call -> code; fallback for the others.
inline int errCode(int e, int fallback, bool noSpace)
{
    switch (e) {
    case EIO:
        return ERR_IO;
    case EINTR:
        return ERR_INTERRUPTED;
    case ENOSPC:
        return noSpace ? ERR_NO_SPACE : fallback;
    default:
        return fallback;
    }
}

// A failed library call (result -1): logs "errno=%d/%m, db->CALL failed.",
// records the code of its errno and returns -1.
int callFailed(const char *call, int fallback, bool noSpace);

// The page size of every file the wrapper creates.
constexpr unsigned int kPageSize = 16384;

// Opens path with the given mode for a file that the open creates or that
// root already owns; see VEXABDbOpen.  With pst, the opened file's fstat
// (the one root's checks use) is handed back.
VEXABDB *openMode(const char *path, int oflags, int fDup, mode_t mode, struct stat *pst = nullptr);

// One step of VEXABDbCursorGet (same codes, logs and marker skipping)
// that leaves the record where the library returns it: k and v point into
// the library's page, valid until the next call on h, never to be written.
// For BDB_CURSOR_SET, k holds the search key on entry.  0 or -1.
int cursorStep(VEXABDB *h, int fSkipMeta, DBT *k, DBT *v);

// The library's descriptor of an open file, or -1.
int fileFd(const VEXABDB *h);

// A 4-byte int marker: 0, or -1 (ERR_NOT_FOUND absent, ERR_BAD_FORMAT when
// the value is not exactly 4 bytes).
int getInt(VEXABDB *h, const char *key, int klen, int *pValue);
int setInt(VEXABDB *h, const char *key, int klen, int value);

// The marker getters' raw copy of a 4-byte value into a new block.
int getIntBlock(VEXABDB *h, const char *key, int klen, char **ppBuf);

}  // namespace vexabdb

#endif
