#include <sys/file.h>

#include <cstdlib>

#include "base/lock/lock_holder.h"
#include "services/user/user_internal.h"
#include "base/err/err_guard.h"

extern "C" int VEXAUserGetByUid(int uid, VEXAUSER **ppUser)
{
    return vral::NoThrow(-1, [&]() -> int {
        if (ppUser == nullptr) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        vral::LockHolder lock(LOCK_ID_PW | LOCK_SH | LOCK_NB, 5);
        if (!lock.held()) {
            VRAL_ERR_SET(ERR_LOCK_FAILED);
            return -1;
        }
        int r = -1;
        char *name = nullptr;
        int cbName = 0;
        const struct FreeName {
            char *&p;
            ~FreeName() { free(p); }
        } freeName{name};
        vexauser::UserDb db(VEXAUserDBOpen());
        if (db == nullptr) {
            vexabdb::cacheOpenFailed();
        } else {
            const vexauser::UidKey k = vexauser::uidKey(uid);
            if (vexauser::getLine(db->pPWDUID, k.text, sizeof k.text, &name, &cbName) != 0)
                VRAL_ERR_SET(ERR_USER_NOT_FOUND);
            else
                r = VEXAUserDBGet(db.get(), name, ppUser);
        }
        db.reset();
        return lock.release(r);
    });
}
