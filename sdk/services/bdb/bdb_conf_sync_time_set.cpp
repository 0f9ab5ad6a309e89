#include "services/bdb/bdb_internal.h"

extern "C" int VEXABDbConfSyncTimeSet(VEXABDB *h, int t)
{
    return vexabdb::setInt(h, BDB_KEY_SYNC_TIME, BDB_KEY_SYNC_TIME_LEN, t);
}
