#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

namespace {

int groupDBRebuild(void)
{
    return vexabdb::cacheRebuild(vexagroup::kGroupSet);
}

}  // namespace

extern "C" int VEXAGroupDBRebuild(void)
{
    return vral::NoThrow(-1, [&] { return groupDBRebuild(); });
}
