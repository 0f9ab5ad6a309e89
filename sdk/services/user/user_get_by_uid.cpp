#include <sys/file.h>

#include <cstdlib>

#include "base/lock/vral_lock.h"
#include "services/user/user_internal.h"

extern "C" int VEXAUserGetByUid(int uid, VEXAUSER **ppUser)
{
    if (ppUser == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (VRALFileLock(LOCK_ID_PW | LOCK_SH | LOCK_NB, 5) != 0) {
        VRAL_ERR_SET(ERR_LOCK_FAILED);
        return -1;
    }
    int r = -1;
    char *name = nullptr;
    int cbName = 0;
    VEXAUSERDB *db = VEXAUserDBOpen();
    if (db == nullptr) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
    } else {
        const vexauser::UidKey k = vexauser::uidKey(uid);
        if (vexauser::getLine(db->pPWDUID, k.text, sizeof k.text, &name, &cbName) != 0)
            VRAL_ERR_SET(ERR_USER_NOT_FOUND);
        else
            r = VEXAUserDBGet(db, name, ppUser);
        VEXAUserDBClose(db);
    }
    if (VRALFileUnlock(LOCK_ID_PW) != 0) {
        VRAL_ERR_SET(ERR_UNLOCK_FAILED);
        r = -1;
    }
    free(name);
    return r;
}
