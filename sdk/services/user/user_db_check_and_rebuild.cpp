#include "base/err/err_guard.h"
#include "services/user/user_internal.h"

namespace {

int userDBCheckAndRebuild(VEXAUSERDB **ppDb)
{
    return vexabdb::cacheCheck(vexauser::kUserSet, reinterpret_cast<void **>(ppDb));
}

}  // namespace

extern "C" int VEXAUserDBCheckAndRebuild(VEXAUSERDB **ppDb)
{
    return vral::NoThrow(-1, [&] { return userDBCheckAndRebuild(ppDb); });
}
