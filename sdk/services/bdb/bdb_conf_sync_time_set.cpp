#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

int bDbConfSyncTimeSet(VEXABDB *h, int t)
{
    return vexabdb::setInt(h, BDB_KEY_SYNC_TIME, BDB_KEY_SYNC_TIME_LEN, t);
}

}  // namespace

extern "C" int VEXABDbConfSyncTimeSet(VEXABDB *h, int t)
{
    return vral::NoThrow(-1, [&] { return bDbConfSyncTimeSet(h, t); });
}
