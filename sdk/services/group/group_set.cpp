#include <sys/file.h>

#include <cstring>

#include "base/err/err_guard.h"
#include "base/lock/vral_lock.h"
#include "base/unicode/vral_unicode.h"
#include "services/group/group_internal.h"

namespace {

struct GroupDbOwner {
    VEXAGROUPDB *db = VEXAGroupDBOpen();
    ~GroupDbOwner() { VEXAGroupDBClose(db); }
};

int setLocked(const char *oldName, VEXAGROUP *pGroup)
{
    GroupDbOwner g;
    if (g.db == nullptr) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    VEXAGROUPDB *db = g.db;
    char NAME[vexagroup::kLookupKeySize];
    const int len = vexauser::keyForm(pGroup->szName, NAME, sizeof NAME);
    if (len < 0) {
        GROUP_LOG("VRALUnicodeUTF8StrUpper failed, str=%s.", pGroup->szName);
        VRAL_ERR_SET(pGroup->szName[0] == '\0' ? ERR_BAD_PARAMETERS : ERR_BAD_GROUP_NAME);
        return -1;
    }
    const bool exists = VEXAGroupDBCheckExists(db, NAME, len, nullptr, 0) == 1;
    const bool sameName = oldName != nullptr && VRALUnicodeUTF8StrCaseCmp(oldName, pGroup->szName) == 0;
    if (!sameName && exists) {
        VRAL_ERR_SET(ERR_GROUP_EXISTS);
        return -1;
    }
    if (sameName && !exists) {
        VRAL_ERR_SET(ERR_GROUP_NOT_FOUND);
        return -1;
    }
    char OLDNAME[vexagroup::kLookupKeySize] = "";
    char storedOld[vexagroup::kLookupKeySize] = "";
    int oldLen = 0;
    if (oldName != nullptr) {
        oldLen = vexauser::keyForm(oldName, OLDNAME, sizeof OLDNAME);
        if (oldLen < 0) {
            GROUP_LOG("VRALUnicodeUTF8StrUpper failed, str=%s.", oldName);
            VRAL_ERR_SET(oldName[0] == '\0' ? ERR_BAD_PARAMETERS : ERR_GROUP_NOT_FOUND);
            return -1;
        }
        if (VEXAGroupDBCheckExists(db, OLDNAME, oldLen, storedOld, sizeof storedOld) != 1) {
            VRAL_ERR_SET(ERR_GROUP_NOT_FOUND);
            return -1;
        }
    }
    const bool allocated = pGroup->gid == -1;
    if (allocated) {
        pGroup->gid = VEXAGroupGetFreeGid(db);
        if (pGroup->gid < 0) {
            pGroup->gid = -1;
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
    }
    if (VEXAGroupDBSet(db, oldName != nullptr ? OLDNAME : nullptr, oldLen, pGroup) != 0) {
        GROUP_LOG("VEXAGroupDBSet failed. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    if (allocated && vexagroup::storeCurrentGid(db, pGroup->gid) != 0) {
        // the group is in the cache but not in the files: rebuilt at the next open
        vexabdb::cacheMarkStale(vexagroup::kGroupSet, db);
        return -1;
    }
    if (VEXAGroupDBDump(db) != 0) {
        GROUP_LOG("VEXAGroupDBDump failed. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAGroupSet(const char *oldName, VEXAGROUP *pGroup)
{
    return vral::NoThrow(-1, [&] {
        if (pGroup == nullptr || pGroup->szName == nullptr || pGroup->ppszMember == nullptr) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        // only locks taken here are released: a caller's hold stays
        if (VRALFileLock(LOCK_ID_PW | LOCK_ID_GR | LOCK_ID_SMB | LOCK_EX | LOCK_NB, 5) != 0)
            return -1;
        const int r = setLocked(oldName, pGroup);
        const int code = VRALErrGet();
        if (VRALFileUnlock(LOCK_ID_PW | LOCK_ID_GR | LOCK_ID_SMB) != 0) {
            VRAL_ERR_SET(ERR_UNLOCK_FAILED);
            return -1;
        }
        if (r != 0)
            VRALErrSetCode(code);
        return r;
    });
}
