#include <syslog.h>

#include <cstring>
#include <string>

#include "base/file/vral_file.h"
#include "services/netbkp/netbkp_internal.h"

extern "C" int VEXANetBackupGetServerPasswd(const char *szName, char *szOut, int cbOut)
{
    if (szName == nullptr || szOut == nullptr || cbOut < 0)
        return -1;
    return vral::NoThrow(-1, [&] {
        // The line must begin with the whole name: "ro" must not read root's.
        const std::string key = vexa::netbkp::secretsKey(vexa::netbkp::accountName(szName));
        char line[vexa::netbkp::kSecretsLineMax + 1] = {};
        if (VRALFileGetLine(SZF_RSYNCD_SECRETS, key.c_str(), line, sizeof line, OP_MATCH_BEGIN) <= 0) {
            syslog(LOG_ERR, "%s(%d):can not get rsync server password! ", "VEXANetBackupGetServerPasswd", __LINE__);
            return -1;
        }
        if (cbOut > 0) {
            memset(szOut, 0, static_cast<size_t>(cbOut));
            strncpy(szOut, line + key.size(), static_cast<size_t>(cbOut) - 1);
        }
        return 0;
    });
}
