#include <ctime>

#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

int bDbDomainExpireTimeSet(VEXABDB *h)
{
    return vexabdb::setInt(h, BDB_KEY_EXPIRE_TIME, BDB_KEY_EXPIRE_TIME_LEN, static_cast<int>(time(nullptr)));
}

}  // namespace

extern "C" int VEXABDbDomainExpireTimeSet(VEXABDB *h)
{
    return vral::NoThrow(-1, [&] { return bDbDomainExpireTimeSet(h); });
}
