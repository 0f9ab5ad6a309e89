#include <syslog.h>

#include "base/err/err_guard.h"
#include "services/ftp/ftp_internal.h"

extern "C" int VEXAFTPEnumChrootUser(VRALSzList **ppList)
{
    if (ppList == nullptr || *ppList == nullptr)
        return -1;
    return vral::NoThrow(-1, [&] {
        std::vector<std::string> names;
        const int r = vexaftp::chrootRead(names, "ftputil_chroot_user_enum");
        if (r <= 0)
            return r;
        for (const std::string &name : names) {
            if (VRALSzListPush(ppList, name.c_str()) < 0) {
                syslog(LOG_ERR, "%s(%d) VRALSzListPush failed!! err=[%d]", "ftputil_chroot_user_enum", __LINE__,
                       VRALErrGet());
                return -1;
            }
        }
        return (*ppList)->nItem;
    });
}
