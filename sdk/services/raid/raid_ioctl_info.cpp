#include <sys/ioctl.h>

#include <cerrno>

#include "services/raid/raid_internal.h"

extern "C" int VEXARaidIoctlInfo(int fd, VEXAMDARRAYINFO *pArrayInfo)
{
    if (pArrayInfo == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (ioctl(fd, GET_ARRAY_INFO, pArrayInfo) < 0) {
        if (errno == ENODEV) {
            // no such array: the caller decides, no message
            VRAL_ERR_SET(ERR_NO_DEVICE);
            return -1;
        }
        RAID_LOG("Failed to ioctl for raid status, errno=%m");
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }
    return 0;
}
