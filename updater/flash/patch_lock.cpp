// Locks or unlocks every partition but the directory and the boot
// loader's configuration.
#include "updt_patch.h"

#include <strings.h>
#include <syslog.h>

extern "C" int UPDTLockAll(int mode)
{
    for (const PARTDEV *p = gPartDevTable; p < gPartDevTable + UPDT_TABLE_MAX && p->device != nullptr; ++p) {
        if (p->name != nullptr &&
            (strcasecmp(p->name, "RedBoot Config") == 0 || strcasecmp(p->name, "FIS Directory") == 0))
            continue;
        if (mode == 1) {
            if (VEXAMTDLockPartition(p->device) != 0) {
                syslog(LOG_ERR, "%s: VEXAMTDLockPartition(%s) fail", __func__, p->device);
                return -1;
            }
        } else if (VEXAMTDUnlockPartition(p->device) != 0) {
            syslog(LOG_ERR, "%s: VEXAMTDUnlockPartition(%s) fail", __func__, p->device);
            return -1;
        }
    }
    return 0;
}

extern "C" int UPDTLockAllPartitions(void)
{
    return UPDTLockAll(1);
}

extern "C" int UPDTUnlockAllPartitions(void)
{
    return UPDTLockAll(0);
}
