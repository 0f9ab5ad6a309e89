#include "services/bdb/bdb_internal.h"

extern "C" int VEXABDbDeprecatedGet(VEXABDB *h)
{
    int flag = 0;
    if (vexabdb::getInt(h, BDB_KEY_DEPRECATED, BDB_KEY_DEPRECATED_LEN, &flag) != 0)
        return -1;
    return flag;
}
