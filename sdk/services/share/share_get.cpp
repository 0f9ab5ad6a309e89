#include "services/share/share_internal.h"

extern "C" int VEXAShareGet(const char *name, VEXASHARE **ppShare)
{
    if (name == nullptr || ppShare == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vexashare::withReadLock([&](VEXASHAREDB *db) { return VEXAShareDBGet(db, name, ppShare); });
}
