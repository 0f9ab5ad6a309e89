#include <initializer_list>
#include <strings.h>

#include "services/netbkp/vexa_netbkp.h"

extern "C" int VEXANetBackupIsReservedUser(const char *szName)
{
    if (szName == nullptr)
        return 0;
    for (const char *reserved : {"root", "admin", "rsync"}) {
        if (strcasecmp(szName, reserved) == 0)
            return 1;
    }
    return 0;
}
