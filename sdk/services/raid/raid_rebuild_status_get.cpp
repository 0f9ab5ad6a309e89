#include <sys/ioctl.h>

#include "services/kernel/vexa_kernel.h"
#include "services/raid/raid_internal.h"

extern "C" int VEXARaidRebuildStatusGet(int fd, int sync[3])
{
    if (sync == nullptr || fd < 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    int v[3] = {0, 0, 0};
    if (ioctl(fd, VEXA_MD_GET_SYNC_STATE, v) < 0)
        return RAID_REQUEST_FAILED("sync status");
    if (v[0] == 0) {
        sync[0] = VEXA_RAID_SYNC_NONE;
        sync[1] = sync[2] = 0;
    } else if (v[1] != 0) {
        sync[0] = VEXA_RAID_SYNC_RUNNING;
        sync[1] = v[1];
        sync[2] = v[2];
    } else {
        sync[0] = VEXA_RAID_SYNC_OTHER;
        sync[1] = sync[2] = 0;
    }
    return 0;
}
