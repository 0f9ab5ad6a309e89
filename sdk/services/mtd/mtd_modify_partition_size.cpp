#include "services/mtd/vexa_mtd.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <syslog.h>

#include "services/mtd/mtd_internal.h"

extern "C" int VEXAMTDModifyPartitionSize(const char *device, uint32_t start, uint32_t size)
{
    vexamtd::Fd fd = vexamtd::openForRequest(device, __func__, __LINE__);
    if (!fd.ok())
        return -1;
    MTDPARTRANGE range{start, size};
    if (ioctl(fd.get(), VEXA_MTD_SET_PARTITION, &range) != 0) {
        syslog(LOG_ERR, "Failed to set the mtd info of %s by ioctl, errno = %d\n", device, errno);
        return -1;
    }
    return 0;
}
