#include "services/bdb/bdb_internal.h"

extern "C" int VEXABDbConfSyncTimeGet(VEXABDB *h, char **ppBuf)
{
    return vexabdb::getIntBlock(h, BDB_KEY_SYNC_TIME, BDB_KEY_SYNC_TIME_LEN, ppBuf);
}
