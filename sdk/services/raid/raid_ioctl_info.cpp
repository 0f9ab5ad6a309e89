#include <sys/ioctl.h>

#include "services/raid/raid_internal.h"

extern "C" int VEXARaidIoctlInfo(int fd, VEXAMDARRAYINFO *pArrayInfo)
{
    if (pArrayInfo == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (ioctl(fd, GET_ARRAY_INFO, pArrayInfo) < 0)
        return RAID_REQUEST_FAILED("raid status");
    return 0;
}
