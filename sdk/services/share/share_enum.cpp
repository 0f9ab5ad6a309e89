#include "services/share/share_internal.h"

extern "C" int VEXAShareEnumFilter(VEXAShareEnumOps *, const VEXASHARE *share, int flags)
{
    return VEXAShareDBEnumTypeMatched(share, flags);
}

extern "C" int VEXAShareEnum(VRALSzList **ppList, int flags)
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
