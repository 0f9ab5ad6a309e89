#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

namespace {

int groupDBDomainBuild(VEXABDB *h)
{
    static const vexauser::DomainList kGroups = {GROUP_FILE_DOMAIN, "group", ":x:-1:", vexagroup::kDomainKeySize};
    return vexauser::domainListBuild(h, kGroups);
}

}  // namespace

extern "C" int GroupDBDomainBuild(VEXABDB *h)
{
    return vral::NoThrow(-1, [&] { return groupDBDomainBuild(h); });
}
