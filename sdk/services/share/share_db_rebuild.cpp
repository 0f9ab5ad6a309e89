#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace {

int shareDBRebuild(void)
{
    return vexabdb::cacheRebuild(vexashare::kShareSet);
}

}  // namespace

extern "C" int VEXAShareDBRebuild(void)
{
    return vral::NoThrow(-1, [&] { return shareDBRebuild(); });
}
