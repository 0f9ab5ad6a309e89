#include "services/mtd/vexa_mtd.h"

#include <cerrno>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <syslog.h>

#include "services/mtd/mtd_internal.h"

extern "C" int VEXAMTDErasePartition(const char *device)
{
    vexamtd::Fd fd = vexamtd::openForRequest(device, __func__, __LINE__);
    erase_info_user range{};
    if (!fd.ok() || !vexamtd::wholeRange(fd, device, __func__, __LINE__, range))
        return -1;
    if (ioctl(fd.get(), MEMERASE, &range) != 0) {
        syslog(LOG_ERR, "Could not erase MTD device: %s, errno = %d\n", device, errno);
        return -1;
    }
    return 0;
}
