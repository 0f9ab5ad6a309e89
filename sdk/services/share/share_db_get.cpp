#include "base/err/err_guard.h"
#include "services/share/share_internal.h"
#include "services/user/user_internal.h"

namespace {

int shareDBGet(VEXASHAREDB *db, const char *name, VEXASHARE **ppShare)
{
    if (db == nullptr || db->pShareDB == nullptr || name == nullptr || ppShare == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    char key[SHARE_KEY_SIZE];
    const int len = vexauser::keyForm(name, key, sizeof key);
    if (len < 0) {
        // no stored share has a name without a key form
        VRAL_ERR_SET(ERR_SHARE_NOT_FOUND);
        return -1;
    }
    if (vexashare::getStored(db->pShareDB, key, len + 1, ppShare) != 0) {
        if (VRALErrGet() == ERR_NOT_FOUND)
            VRAL_ERR_SET(ERR_SHARE_NOT_FOUND);
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAShareDBGet(VEXASHAREDB *db, const char *name, VEXASHARE **ppShare)
{
    return vral::NoThrow(-1, [&] { return shareDBGet(db, name, ppShare); });
}
