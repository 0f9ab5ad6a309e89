#include <linux/fs.h>
#include <sys/ioctl.h>

#include "services/raid/raid_internal.h"

extern "C" int VEXARaidIoctlSize(int fd, uint64_t *pSize)
{
    if (pSize == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    *pSize = 0;
    uint64_t size = 0;
    if (ioctl(fd, BLKGETSIZE64, &size) < 0)
        return RAID_REQUEST_FAILED("raid status");
    *pSize = size;
    return 0;
}
