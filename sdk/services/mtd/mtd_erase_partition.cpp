#include "services/mtd/vexa_mtd.h"

#include <cerrno>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <syslog.h>

#include "services/mtd/mtd_internal.h"

extern "C" int VEXAMTDErasePartition(const char *device)
{
    if (device == nullptr) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    vexamtd::Fd fd(device, O_RDWR);
    if (!fd.ok()) {
        syslog(LOG_ERR, "%s(%d): fail to open mtd device %s, errno = %d", __func__, __LINE__, device, errno);
        return -1;
    }
    mtd_info_user info{};
    if (ioctl(fd.get(), MEMGETINFO, &info) != 0) {
        syslog(LOG_ERR, "%s(%d): Could not get MTD device info for %s, errno = %d", __func__, __LINE__,
               device, errno);
        return -1;
    }
    erase_info_user range{0, info.size};
    if (ioctl(fd.get(), MEMERASE, &range) != 0) {
        syslog(LOG_ERR, "Could not erase MTD device: %s, errno = %d\n", device, errno);
        return -1;
    }
    return 0;
}
