#include <ctime>

#include "services/bdb/bdb_internal.h"

extern "C" int VEXABDbDomainExpireTimeSet(VEXABDB *h)
{
    return vexabdb::setInt(h, BDB_KEY_EXPIRE_TIME, BDB_KEY_EXPIRE_TIME_LEN, static_cast<int>(time(nullptr)));
}
