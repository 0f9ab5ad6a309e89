#include <cstring>

#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

namespace {

// ":" would give a line no walk can unpack, "#" a marker key
bool usable(const char *name)
{
    return strchr(name, ':') == nullptr && name[0] != '#';
}

}  // namespace

namespace {

int groupDBDomainBuild(VEXABDB *h)
{
    static const vexauser::DomainList kGroups = {GROUP_FILE_DOMAIN, "group", ":x:-1:", vexagroup::kDomainKeySize,
                                                 usable};
    return vexauser::domainListBuild(h, kGroups);
}

}  // namespace

extern "C" int GroupDBDomainBuild(VEXABDB *h)
{
    return vral::NoThrow(-1, [&] { return groupDBDomainBuild(h); });
}
