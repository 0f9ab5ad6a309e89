#include <cstdint>
#include <ctime>

#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

int bDbDomainIsNeedToRebuild(VEXABDB *h)
{
    const auto now = static_cast<uint32_t>(time(nullptr));
    if (h == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return 0;
    }
    int stored = 0;
    if (vexabdb::getInt(h, BDB_KEY_EXPIRE_TIME, BDB_KEY_EXPIRE_TIME_LEN, &stored) != 0)
        return VRALErrGet() == ERR_NOT_FOUND || VRALErrGet() == ERR_BAD_FORMAT ? 1 : 0;
    return now - static_cast<uint32_t>(stored) > 300 ? 1 : 0;
}

}  // namespace

extern "C" int VEXABDbDomainIsNeedToRebuild(VEXABDB *h)
{
    return vral::NoThrow(0, [&] { return bDbDomainIsNeedToRebuild(h); });
}
