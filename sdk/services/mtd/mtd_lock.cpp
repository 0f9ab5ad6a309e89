// Lock and unlock a whole partition: VEXAMTDILock and its two wrappers.
#include "services/mtd/vexa_mtd.h"

#include <cerrno>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <syslog.h>

#include "services/mtd/mtd_internal.h"

extern "C" int VEXAMTDILock(const char *device, int fLock)
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
    const bool lock = fLock == 1;
    if (ioctl(fd.get(), lock ? MEMLOCK : MEMUNLOCK, &range) != 0) {
        syslog(LOG_ERR, "Could not lock/unlock MTD device: %s, errno = %d\n", device, errno);
        return -1;
    }
    return 0;
}

extern "C" int VEXAMTDLockPartition(const char *device)
{
    return VEXAMTDILock(device, 1);
}

extern "C" int VEXAMTDUnlockPartition(const char *device)
{
    return VEXAMTDILock(device, 0);
}
