#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "base/file/vral_file.h"
#include "services/netbkp/netbkp_internal.h"

extern "C" int NetBackupDelSecret(const char *szName)
{
    if (szName == nullptr)
        return -1;
    return vral::NoThrow(-1, [&] {
        struct stat st {};
        if (stat(SZF_RSYNCD_SECRETS, &st) != 0) {
            const int e = errno;
            NETBKP_LOG("NetBackupDelSecret", ": stat(%s) failed! error_code[%d]=[%m]\n", SZF_RSYNCD_SECRETS, e);
            return -1;
        }
        const std::string key = vexa::netbkp::secretsKey(szName);
        if (VRALFileSetLine(SZF_RSYNCD_SECRETS, key.c_str(), nullptr, OP_MATCH_BEGIN) < 0) {
            NETBKP_LOG("NetBackupDelSecret", ": VRALFileSetLine(szFile=[%s], szKey=[%s]) failed (Delete Failed)",
                       SZF_RSYNCD_SECRETS, key.c_str());
            return -1;
        }
        return 0;
    });
}
