#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

int bDbDeprecatedGet(VEXABDB *h)
{
    int flag = 0;
    if (vexabdb::getInt(h, BDB_KEY_DEPRECATED, BDB_KEY_DEPRECATED_LEN, &flag) != 0)
        return -1;
    return flag;
}

}  // namespace

extern "C" int VEXABDbDeprecatedGet(VEXABDB *h)
{
    return vral::NoThrow(-1, [&] { return bDbDeprecatedGet(h); });
}
