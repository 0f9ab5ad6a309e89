#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

int bDbConfSyncTimeGet(VEXABDB *h, char **ppBuf)
{
    return vexabdb::getIntBlock(h, BDB_KEY_SYNC_TIME, BDB_KEY_SYNC_TIME_LEN, ppBuf);
}

}  // namespace

extern "C" int VEXABDbConfSyncTimeGet(VEXABDB *h, char **ppBuf)
{
    return vral::NoThrow(-1, [&] { return bDbConfSyncTimeGet(h, ppBuf); });
}
