#include <cstring>

#include "services/group/group_internal.h"

namespace {

// ":" would give a line no walk can unpack, "#" a marker key
bool usable(const char *name)
{
    return strchr(name, ':') == nullptr && name[0] != '#';
}

}  // namespace

extern "C" int GroupDBDomainBuild(VEXABDB *h)
{
    static const vexauser::DomainList kGroups = {GROUP_FILE_DOMAIN, "group", ":x:-1:", vexagroup::kDomainKeySize,
                                                 usable};
    return vexauser::domainListBuild(h, kGroups);
}
