#include <cstring>

#include "services/group/group_internal.h"

namespace vexagroup {

int removeRecords(VEXAGROUPDB *db, const char *NAME, int klen, int gid, bool keepGid)
{
    // only this group's entry: another group of the same gid keeps its own
    if (!keepGid) {
        const vexauser::UidKey k = gidKey(gid);
        if (VEXABDbDeleteDup(db->pGRPGID, k.text, sizeof k.text, NAME, klen) != 0 && VRALErrGet() != ERR_NOT_FOUND)
            return -1;
    }
    for (VEXABDB *h : {db->pGRPName, db->pGRPDesc}) {
        if (VEXABDbDelete(h, NAME, klen) != 0 && VRALErrGet() != ERR_NOT_FOUND)
            return -1;
    }
    return 0;
}

}  // namespace vexagroup

namespace {

int groupDBDelete(VEXAGROUPDB *db, const char *NAME, int len)
{
    if (db == nullptr || NAME == nullptr || len <= 0 || db->pGRPName == nullptr || db->pGRPGID == nullptr ||
        db->pGRPDesc == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (strchr(NAME, '\\') != nullptr)
        return -1;
    vexagroup::Buf line;
    if (vexauser::getLine(db->pGRPName, NAME, len + 1, &line.p, &line.cb) != 0) {
        if (VRALErrGet() == ERR_NOT_FOUND)
            VRAL_ERR_SET(ERR_GROUP_NOT_FOUND);
        return -1;
    }
    VEXAGROUP *g = nullptr;
    if (VEXAGroupDBUnpack(line.p, &g) != 0) {
        VEXAGroupFree(g);
        VRAL_LOG_ERR("VEXAGroupDBUnpack failed. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    const int gid = g->gid;
    VEXAGroupFree(g);
    if (!vexagroup::isApplianceGid(gid)) {
        VRAL_ERR_SET(ERR_GROUP_UNDELETABLE);
        return -1;
    }
    if (vexagroup::removeRecords(db, NAME, len + 1, gid, false) != 0) {
        vexabdb::cacheMarkStale(vexagroup::kGroupSet, db);
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAGroupDBDelete(VEXAGROUPDB *db, const char *NAME, int len)
{
    return vexabdb::cacheWriteGuarded(vexagroup::kGroupSet, db, [&] { return groupDBDelete(db, NAME, len); });
}
