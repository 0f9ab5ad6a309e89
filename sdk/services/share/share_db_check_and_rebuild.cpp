#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace {

int shareDBCheckAndRebuild(VEXASHAREDB **ppDb)
{
    return vexabdb::cacheCheck(vexashare::kShareSet, reinterpret_cast<void **>(ppDb));
}

}  // namespace

extern "C" int VEXAShareDBCheckAndRebuild(VEXASHAREDB **ppDb)
{
    return vral::NoThrow(-1, [&] { return shareDBCheckAndRebuild(ppDb); });
}
