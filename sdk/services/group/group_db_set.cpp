#include <strings.h>

#include <cstring>
#include <string>

#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

namespace {

int store(VEXABDB *h, const void *key, int klen, const std::string &value)
{
    return VEXABDbSet(h, key, klen, value.c_str(), static_cast<int>(value.size()) + 1);
}

// The group a write replaces.
struct Old {
    int gid = 0;
    bool keepGid = false;  // a system group: its gid entry stands
    bool hasDesc = false;
    std::string desc;
};

int readOld(VEXAGROUPDB *db, const char *OLDNAME, int klenOld, const char *NAME, const char *name, Old *old)
{
    if (strchr(OLDNAME, '\\') != nullptr) {
        VRAL_ERR_SET(ERR_BAD_GROUP_NAME);
        return -1;
    }
    vexagroup::Buf line;
    if (vexauser::getLine(db->pGRPName, OLDNAME, klenOld, &line.p, &line.cb) != 0) {
        if (VRALErrGet() == ERR_NOT_FOUND)
            VRAL_ERR_SET(ERR_GROUP_NOT_FOUND);
        return -1;
    }
    VEXAGROUP *g = nullptr;
    const int r = VEXAGroupDBUnpack(line.p, &g);
    if (r == 0)
        old->gid = g->gid;
    VEXAGroupFree(g);
    if (r != 0)
        return -1;
    if (!vexagroup::isApplianceGid(old->gid)) {
        // a system group is rewritten in place, never renamed; "users" not at all
        if (strcmp(OLDNAME, NAME) != 0 || strcasecmp(name, "users") == 0) {
            VRAL_ERR_SET(ERR_GROUP_UNDELETABLE);
            return -1;
        }
        old->keepGid = true;
    }
    vexagroup::Buf desc;
    if (vexauser::getLine(db->pGRPDesc, OLDNAME, klenOld, &desc.p, &desc.cb) != 0)
        return VRALErrGet() == ERR_NOT_FOUND ? 0 : -1;
    const char *colon = strchr(desc.p, ':');
    if (colon == nullptr) {
        VRAL_ERR_SET(ERR_BAD_FORMAT);
        return -1;
    }
    old->hasDesc = true;
    old->desc = std::string(name) + colon;
    return 0;
}

}  // namespace

namespace vexagroup {

int setMembers(VEXAGROUPDB *db, const char *NAME, int len, char **members)
{
    Buf stored;
    if (vexauser::getLine(db->pGRPName, NAME, len + 1, &stored.p, &stored.cb) != 0)
        return -1;
    VEXAGROUP *g = nullptr;
    if (VEXAGroupDBUnpack(stored.p, &g) != 0) {
        VEXAGroupFree(g);
        return -1;
    }
    VEXAGROUP rec{g->szName, g->gid, members, 0, 0};
    struct group gr {};
    Buf line;
    int r = VEXAGroupToUnixGroup(&rec, &gr);
    if (r == 0 && VEXAGroupDBPackFromUnix(&gr, &line.p, &line.cb) < 0) {
        VRAL_LOG_ERR("VEXAGroupDBPackFromUnix failed. vexaerr=0x%04X", VRALErrGet());
        r = -1;
    }
    VEXAGroupFree(g);
    if (r == 0 && store(db->pGRPName, NAME, len + 1, line.p) != 0) {
        VRAL_LOG_ERR("VEXABDbSet pGRPName failed, str=%s. vexaerr=0x%04X", NAME, VRALErrGet());
        r = -1;
    }
    return r;
}

}  // namespace vexagroup

extern "C" int VEXAGroupDBSet(VEXAGROUPDB *db, const char *OLDNAME, int oldLen, VEXAGROUP *pGroup)
{
    return vexabdb::cacheWriteGuarded(vexagroup::kGroupSet, db, [&] {
        if (db == nullptr || pGroup == nullptr || db->pGRPName == nullptr || db->pGRPGID == nullptr ||
            db->pGRPDesc == nullptr || (OLDNAME != nullptr && oldLen <= 0)) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        if (!VEXAGroupNameIsValid(pGroup->szName)) {
            VRAL_ERR_SET(ERR_BAD_GROUP_NAME);
            return -1;
        }
        char NAME[vexagroup::kKeySize];
        const int len = vexauser::keyForm(pGroup->szName, NAME, sizeof NAME);
        if (len < 0) {
            VRAL_LOG_ERR("VRALUnicodeUTF8StrUpper failed, str=%s.", pGroup->szName);
            VRAL_ERR_SET(ERR_BAD_GROUP_NAME);
            return -1;
        }
        const int klen = len + 1;
        const bool renamed = OLDNAME == nullptr || strcmp(OLDNAME, NAME) != 0;
        if (renamed && VEXAGroupDBCheckExists(db, NAME, len, nullptr, 0)) {
            VRAL_ERR_SET(ERR_GROUP_EXISTS);
            return -1;
        }

        // Key, line and description are formed before anything is deleted.
        Old old;
        if (OLDNAME != nullptr && readOld(db, OLDNAME, oldLen + 1, NAME, pGroup->szName, &old) != 0)
            return -1;
        struct group gr {};
        if (VEXAGroupToUnixGroup(pGroup, &gr) != 0) {
            VRAL_LOG_ERR("VEXAGroupToUnixGroup failed. vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        vexagroup::Buf line;
        if (VEXAGroupDBPackFromUnix(&gr, &line.p, &line.cb) < 0) {
            VRAL_LOG_ERR("VEXAGroupDBPackFromUnix failed. vexaerr=0x%04X", VRALErrGet());
            return -1;
        }

        // The cache from here on: a failure leaves the set for rebuild, so
        // no dump writes a half-done change.
        int r = 0;
        if (OLDNAME != nullptr)
            r = vexagroup::removeRecords(db, OLDNAME, oldLen + 1, old.gid, old.keepGid);
        if (r == 0 && store(db->pGRPName, NAME, klen, line.p) != 0) {
            VRAL_LOG_ERR("VEXABDbSet pGRPName failed, str=%s. vexaerr=0x%04X", NAME, VRALErrGet());
            r = -1;
        }
        if (r == 0 && !old.keepGid) {
            const vexauser::UidKey k = vexagroup::gidKey(pGroup->gid);
            if (VEXABDbSet(db->pGRPGID, k.text, sizeof k.text, NAME, klen) != 0) {
                VRAL_LOG_ERR("VEXABDbSet pGRPGID failed. vexaerr=0x%04X", VRALErrGet());
                r = -1;
            }
        }
        if (r == 0 && old.hasDesc && store(db->pGRPDesc, NAME, klen, old.desc) != 0)
            r = -1;
        if (r != 0) {
            const int code = VRALErrGet();
            vexabdb::cacheMarkStale(vexagroup::kGroupSet, db);
            VRALErrSetCode(code);
        }
        return r;
    });
}
