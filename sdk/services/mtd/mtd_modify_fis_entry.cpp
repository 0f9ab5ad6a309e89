#include "services/mtd/vexa_mtd.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <syslog.h>

#include "services/mtd/mtd_internal.h"

extern "C" int VEXAMTDModifyFISEntry(const char *device, const MTDFISENTRY *entry)
{
    if (entry == nullptr) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    vexamtd::Fd fd = vexamtd::openForRequest(device, __func__, __LINE__);
    if (!fd.ok())
        return -1;
    // The driver reads the record; it must not see a name without its end.
    MTDFISENTRY copy = *entry;
    copy.name[sizeof(copy.name) - 1] = '\0';
    if (ioctl(fd.get(), VEXA_MTD_SET_FIS_ENTRY, &copy) != 0) {
        syslog(LOG_ERR, "%s: Failed to set the mtd info of %s by ioctl, errno = %d\n", __func__, device, errno);
        return -1;
    }
    return 0;
}
