#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace {

int shareGet(const char *name, VEXASHARE **ppShare)
{
    if (name == nullptr || ppShare == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vexashare::withReadLock([&](VEXASHAREDB *db) { return VEXAShareDBGet(db, name, ppShare); });
}

}  // namespace

extern "C" int VEXAShareGet(const char *name, VEXASHARE **ppShare)
{
    return vral::NoThrow(-1, [&] { return shareGet(name, ppShare); });
}
