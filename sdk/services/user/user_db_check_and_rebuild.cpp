#include "services/user/user_internal.h"

extern "C" int VEXAUserDBCheckAndRebuild(VEXAUSERDB **ppDb)
{
    return vexabdb::cacheCheck(vexauser::kUserSet, reinterpret_cast<void **>(ppDb));
}
