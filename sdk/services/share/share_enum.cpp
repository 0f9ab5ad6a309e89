#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

extern "C" int VEXAShareEnumFilter(VEXAShareEnumOps *, const VEXASHARE *share, int flags)
{
    return VEXAShareDBEnumTypeMatched(share, flags);
}

namespace {

int shareEnum(VRALSzList **ppList, int flags)
{
    if (ppList == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vexashare::withReadLock([&](VEXASHAREDB *db) {
        VEXAShareEnumOps ops = {nullptr, VEXAShareEnumFilter, nullptr};
        return VEXAShareDBEnumInternal(db, ppList, &ops, nullptr, flags);
    });
}

}  // namespace

extern "C" int VEXAShareEnum(VRALSzList **ppList, int flags)
{
    return vral::NoThrow(-1, [&] { return shareEnum(ppList, flags); });
}
