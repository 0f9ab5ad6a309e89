#include <cstdio>
#include <cstring>

#include "base/err/err_guard.h"
#include "base/string/vral_string.h"
#include "services/user/user_internal.h"

namespace {

int userDBPack(const VEXAUSER *pUser, char **ppBuf, int *pcb)
{
    if (pUser == nullptr || ppBuf == nullptr || pcb == nullptr || (*ppBuf != nullptr && *pcb == 0)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (pUser->szName == nullptr || pUser->szName[0] == '\0') {
        VRAL_ERR_SET(ERR_BAD_USER_NAME);
        return -1;
    }
    char ids[32];
    snprintf(ids, sizeof ids, "%d:%d", pUser->uid, pUser->gid);
    auto s = [](const char *p) { return p != nullptr ? p : ""; };
    const int len = snprintf(nullptr, 0, "%s:x:%s:%s:%s:%s", pUser->szName, ids, s(pUser->szGecos),
                             s(pUser->szHome), s(pUser->szShell));
    if (len < 0 || VEXACheckAndRealloc(ppBuf, pcb, static_cast<unsigned int>(len) + 1) != 0) {
        VRAL_LOG_ERR("VEXACheckAndRealloc() failed! vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    snprintf(*ppBuf, static_cast<size_t>(len) + 1, "%s:x:%s:%s:%s:%s", pUser->szName, ids, s(pUser->szGecos),
             s(pUser->szHome), s(pUser->szShell));
    return len + 1;
}

}  // namespace

extern "C" int VEXAUserDBPack(const VEXAUSER *pUser, char **ppBuf, int *pcb)
{
    return vral::NoThrow(-1, [&] { return userDBPack(pUser, ppBuf, pcb); });
}
