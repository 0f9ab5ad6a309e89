#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

namespace {

int groupGetFreeGid(VEXAGROUPDB *db)
{
    if (db == nullptr || db->pGRPGID == nullptr)
        return -1;
    int last = 0;
    if (vexagroup::currentGid(db, &last) != 0) {
        if (VRALErrGet() != ERR_NOT_FOUND) {
            VRAL_ERR_SET(ERR_DB_GET_FAILED);
            return -1;
        }
        if (vexagroup::lastIndexedGid(db->pGRPGID, &last) != 0)
            return -1;
    }
    const int start = last >= GROUP_FIRST_GID && last < GROUP_LAST_GID ? last + 1 : GROUP_FIRST_GID;
    int gid = start;
    do {
        const vexauser::UidKey k = vexagroup::gidKey(gid);
        vexagroup::Buf v;
        if (VEXABDbGet(db->pGRPGID, k.text, sizeof k.text, &v.p, &v.cb) != 0) {
            // only a key that is not there is free; a read that failed is no answer
            if (VRALErrGet() == ERR_NOT_FOUND)
                return gid;
            return -1;
        }
        gid = gid == GROUP_LAST_GID ? GROUP_FIRST_GID : gid + 1;
    } while (gid != start);
    VRAL_ERR_SET(ERR_NO_FREE_GID);
    return -1;
}

}  // namespace

extern "C" int VEXAGroupGetFreeGid(VEXAGROUPDB *db)
{
    return vral::NoThrow(-1, [&] { return groupGetFreeGid(db); });
}
