#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

namespace {

int groupToUnixGroup(const VEXAGROUP *pGroup, struct group *pGr)
{
    if (pGroup == nullptr || pGr == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    static char kPasswd[] = "x";
    pGr->gr_name = pGroup->szName;
    pGr->gr_passwd = kPasswd;
    pGr->gr_gid = static_cast<gid_t>(pGroup->gid);
    pGr->gr_mem = pGroup->ppszMember;
    return 0;
}

}  // namespace

extern "C" int VEXAGroupToUnixGroup(const VEXAGROUP *pGroup, struct group *pGr)
{
    return vral::NoThrow(-1, [&] { return groupToUnixGroup(pGroup, pGr); });
}
