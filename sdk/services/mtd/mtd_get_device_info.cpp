#include "services/mtd/vexa_mtd.h"

#include <cerrno>
#include <cstring>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <syslog.h>

#include "services/mtd/mtd_internal.h"

static_assert(sizeof(mtd_info_user) == MTD_INFO_USER_SIZE);
static_assert(offsetof(mtd_info_user, size) == MTD_INFO_SIZE_OFFSET);
static_assert(offsetof(mtd_info_user, erasesize) == MTD_INFO_ERASESIZE_OFFSET);

extern "C" int VEXAMTDGetDeviceInfo(const char *device, void *buffer, unsigned cb)
{
    if (device == nullptr || buffer == nullptr || cb < MTD_INFO_USER_SIZE) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    std::memset(buffer, 0, cb);
    vexamtd::Fd fd(device, O_RDONLY);
    if (!fd.ok()) {
        syslog(LOG_ERR, "%s(%d): fail to open mtd device, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    mtd_info_user info{};
    if (ioctl(fd.get(), MEMGETINFO, &info) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to get mtd size, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    std::memcpy(buffer, &info, sizeof(info));
    return 0;
}
