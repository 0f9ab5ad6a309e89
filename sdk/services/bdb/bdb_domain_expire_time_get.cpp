#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

int bDbDomainExpireTimeGet(VEXABDB *h, char **ppBuf)
{
    return vexabdb::getIntBlock(h, BDB_KEY_EXPIRE_TIME, BDB_KEY_EXPIRE_TIME_LEN, ppBuf);
}

}  // namespace

extern "C" int VEXABDbDomainExpireTimeGet(VEXABDB *h, char **ppBuf)
{
    return vral::NoThrow(-1, [&] { return bDbDomainExpireTimeGet(h, ppBuf); });
}
