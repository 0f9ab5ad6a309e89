#include <cstring>

#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

namespace {

int groupDBGetByCursor(VEXAGROUPDB *db, VEXAGROUP **ppGroup, int typeMask, int fAll)
{
    if (db == nullptr || db->pGRPName == nullptr || ppGroup == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    vexagroup::Buf key;
    vexagroup::Buf data;
    for (;;) {
        if (VEXABDbCursorGet(db->pGRPName, 1, &key.p, &key.cb, &data.p, &data.cb) != 0) {
            if (VRALErrGet() != ERR_END_OF_RECORDS)
                VRAL_ERR_SET(ERR_GROUP_NOT_FOUND);
            return -1;
        }
        if (data.cb <= 0 || data.p[data.cb - 1] != '\0' || key.cb <= 0 || key.p[key.cb - 1] != '\0') {
            VRAL_ERR_SET(ERR_BAD_FORMAT);
            VRAL_LOG_ERR("VEXAGroupDBUnpack failed. vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        if (VEXAGroupDBUnpack(data.p, ppGroup) != 0) {
            VRAL_LOG_ERR("VEXAGroupDBUnpack failed. vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        const int kind = strchr(key.p, '\\') != nullptr ? 2 : 1;
        if ((kind & typeMask) == 0)
            continue;
        if (!fAll && kind == 1 && (typeMask & 1) != 0 && !vexagroup::isApplianceGid((*ppGroup)->gid) &&
            strcmp((*ppGroup)->szName, "users") != 0)
            continue;
        return 0;
    }
}

}  // namespace

extern "C" int VEXAGroupDBGetByCursor(VEXAGROUPDB *db, VEXAGROUP **ppGroup, int typeMask, int fAll)
{
    return vral::NoThrow(-1, [&] { return groupDBGetByCursor(db, ppGroup, typeMask, fAll); });
}
