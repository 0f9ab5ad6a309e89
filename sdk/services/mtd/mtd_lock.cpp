// Lock and unlock a whole partition: VEXAMTDILock and its two wrappers.
#include "services/mtd/vexa_mtd.h"

#include <cerrno>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <syslog.h>

#include "services/mtd/mtd_internal.h"

extern "C" int VEXAMTDILock(const char *device, int fLock)
{
    vexamtd::Fd fd = vexamtd::openForRequest(device, __func__, __LINE__);
    erase_info_user range{};
    if (!fd.ok() || !vexamtd::wholeRange(fd, device, __func__, __LINE__, range))
        return -1;
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
