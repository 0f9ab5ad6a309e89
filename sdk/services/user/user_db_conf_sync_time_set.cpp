#include <sys/stat.h>

#include "base/err/err_guard.h"
#include "services/user/user_internal.h"

namespace {

int userDbConfSyncTimeSet(VEXAUSERDB *pDb)
{
    if (pDb == nullptr || pDb->pPWDName == nullptr || pDb->pPWDUID == nullptr || pDb->pPWDSMB == nullptr ||
        pDb->pPWDVexaser == nullptr || pDb->pPWDShadow == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    struct stat st[vexauser::kSourceCount];
    if (vexabdb::cacheStatSources(vexauser::kUserSet, st) != 0)
        return -1;
    return vexabdb::cacheStoreSources(vexauser::kUserSet, pDb, st);
}

}  // namespace

extern "C" int UserDbConfSyncTimeSet(VEXAUSERDB *pDb)
{
    return vral::NoThrow(-1, [&] { return userDbConfSyncTimeSet(pDb); });
}
