#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

namespace {

int groupDBCheckAndRebuild(VEXAGROUPDB **ppDb)
{
    return vexabdb::cacheCheck(vexagroup::kGroupSet, reinterpret_cast<void **>(ppDb));
}

}  // namespace

extern "C" int VEXAGroupDBCheckAndRebuild(VEXAGROUPDB **ppDb)
{
    return vral::NoThrow(-1, [&] { return groupDBCheckAndRebuild(ppDb); });
}
