#include "services/bdb/bdb_internal.h"

extern "C" int VEXABDbDomainExpireTimeGet(VEXABDB *h, char **ppBuf)
{
    return vexabdb::getIntBlock(h, BDB_KEY_EXPIRE_TIME, BDB_KEY_EXPIRE_TIME_LEN, ppBuf);
}
