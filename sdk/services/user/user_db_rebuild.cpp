#include "services/user/user_internal.h"

extern "C" int VEXAUserDBRebuild(void)
{
    return vexabdb::cacheRebuild(vexauser::kUserSet);
}
