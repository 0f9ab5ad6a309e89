#include "services/share/share_internal.h"

extern "C" int VEXAShareDBCheckAndRebuild(VEXASHAREDB **ppDb)
{
    return vexabdb::cacheCheck(vexashare::kShareSet, reinterpret_cast<void **>(ppDb));
}
