#include "services/group/group_internal.h"

extern "C" int GroupDBDomainBuild(VEXABDB *h)
{
    static const vexauser::DomainList kGroups = {GROUP_FILE_DOMAIN, "group", ":x:-1:", vexagroup::kDomainKeySize};
    return vexauser::domainListBuild(h, kGroups);
}
