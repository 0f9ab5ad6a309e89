#include "base/err/err_guard.h"
#include "services/user/user_internal.h"

namespace {

int userDBRebuild(void)
{
    return vexabdb::cacheRebuild(vexauser::kUserSet);
}

}  // namespace

extern "C" int VEXAUserDBRebuild(void)
{
    return vral::NoThrow(-1, [&] { return userDBRebuild(); });
}
