#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

int bDbDeprecatedSet(VEXABDB *h, int flag)
{
    return vexabdb::setInt(h, BDB_KEY_DEPRECATED, BDB_KEY_DEPRECATED_LEN, flag);
}

}  // namespace

extern "C" int VEXABDbDeprecatedSet(VEXABDB *h, int flag)
{
    return vral::NoThrow(-1, [&] { return bDbDeprecatedSet(h, flag); });
}
