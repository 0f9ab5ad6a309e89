#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

int bDbIsNeedToRebuild(VEXABDB *h, int mtime)
{
    if (h == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    int stored = 0;
    if (vexabdb::getInt(h, BDB_KEY_SYNC_TIME, BDB_KEY_SYNC_TIME_LEN, &stored) != 0) {
        // a file without a sound sync time is rebuilt, not left failing
        const int code = VRALErrGet();
        return code == ERR_NOT_FOUND || code == ERR_BAD_FORMAT ? 1 : -1;
    }
    return stored != mtime ? 1 : 0;
}

}  // namespace

extern "C" int VEXABDbIsNeedToRebuild(VEXABDB *h, int mtime)
{
    return vral::NoThrow(-1, [&] { return bDbIsNeedToRebuild(h, mtime); });
}
