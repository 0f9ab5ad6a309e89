#include <cstdlib>

#include "base/err/err_guard.h"
#include "services/user/user_query_internal.h"

extern "C" int VEXAUserGetByUid(int uid, VEXAUSER **ppUser)
{
    return vral::NoThrow(-1, [&]() -> int {
        if (ppUser == nullptr) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        vexauser::SharedRead rd;
        if (rd.db() == nullptr)
            return rd.finish(-1);
        char *name = nullptr;
        int cbName = 0;
        char *unused = nullptr;
        const vexauser::FreeBoth freeName{name, unused};
        const vexauser::UidKey k = vexauser::uidKey(uid);
        if (vexauser::getLine(rd.db()->pPWDUID, k.text, sizeof k.text, &name, &cbName) != 0) {
            VRAL_ERR_SET(ERR_USER_NOT_FOUND);
            return rd.finish(-1);
        }
        return rd.finish(VEXAUserDBGet(rd.db(), name, ppUser));
    });
}
