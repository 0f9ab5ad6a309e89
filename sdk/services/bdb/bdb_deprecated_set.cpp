#include "services/bdb/bdb_internal.h"

extern "C" int VEXABDbDeprecatedSet(VEXABDB *h, int flag)
{
    return vexabdb::setInt(h, BDB_KEY_DEPRECATED, BDB_KEY_DEPRECATED_LEN, flag);
}
