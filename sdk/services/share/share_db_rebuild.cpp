#include "services/share/share_internal.h"

extern "C" int VEXAShareDBRebuild(void)
{
    return vexabdb::cacheRebuild(vexashare::kShareSet);
}
