#include <cstring>
#include <string>

#include "base/err/err_guard.h"
#include "base/string/vral_string.h"
#include "services/group/group_internal.h"
#include "services/user/vexa_user_list.h"

namespace vexagroup {

std::string groupLine(const std::string &name, const std::string &passwd, const std::string &gidText, int gid,
                      const std::string &members)
{
    std::string line = name + ":" + passwd + ":" + gidText + ":";
    if (!isApplianceGid(gid))
        return line + members;
    return line + (members.empty() ? "nobody,nobody" : "nobody," + members + ",nobody");
}

}  // namespace vexagroup

extern "C" int VEXAGroupDBPackFromUnix(struct group *pGr, char **ppBuf, int *pcb)
{
    return vral::NoThrow(-1, [&] {
        if (pGr == nullptr || ppBuf == nullptr || pcb == nullptr || (*ppBuf != nullptr && *pcb == 0)) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        if (pGr->gr_name == nullptr || pGr->gr_name[0] == '\0') {
            VRAL_ERR_SET(ERR_BAD_GROUP_NAME);
            return -1;
        }
        static char kPasswd[] = "x";
        pGr->gr_passwd = kPasswd;
        const char *none[] = {nullptr};
        const char **members = pGr->gr_mem != nullptr ? const_cast<const char **>(pGr->gr_mem) : none;
        vexagroup::Buf kept;
        if (VEXAUserGetValidUserList(members, &kept.p, &kept.cb) != 0) {
            VRAL_LOG_ERR("VEXAUserGetValidUserList() failed! vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        const int gid = static_cast<int>(pGr->gr_gid);
        const std::string line = vexagroup::groupLine(pGr->gr_name, kPasswd, std::to_string(gid), gid, kept.p);
        if (VEXACheckAndRealloc(ppBuf, pcb, static_cast<unsigned int>(line.size()) + 1) != 0) {
            VRAL_LOG_ERR("VEXACheckAndRealloc() failed! vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        memcpy(*ppBuf, line.c_str(), line.size() + 1);
        return static_cast<int>(line.size()) + 1;
    });
}
