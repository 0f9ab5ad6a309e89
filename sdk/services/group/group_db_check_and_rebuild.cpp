#include "services/group/group_internal.h"

extern "C" int VEXAGroupDBCheckAndRebuild(VEXAGROUPDB **ppDb)
{
    return vexabdb::cacheCheck(vexagroup::kGroupSet, reinterpret_cast<void **>(ppDb));
}
