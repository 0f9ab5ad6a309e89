#include "services/group/group_internal.h"

extern "C" int VEXAGroupDBRebuild(void)
{
    return vexabdb::cacheRebuild(vexagroup::kGroupSet);
}
