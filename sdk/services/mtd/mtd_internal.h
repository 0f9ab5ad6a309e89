// Shared by the flash functions: the opening of a partition's device and
// the reading of its size that most requests start with.
#ifndef VEXA_MTD_INTERNAL_H
#define VEXA_MTD_INTERNAL_H

#include <cerrno>
#include <cstdint>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <syslog.h>

#include "services/mtd/vexa_mtd.h"

namespace vexamtd {

// Opens device read-write for func's request; a NULL device and a failed
// open are logged as func's own failures (check ok() on the result).
inline Fd openForRequest(const char *device, const char *func, int line)
{
    if (device == nullptr) {
        syslog(LOG_ERR, "%s(%d): parameter error", func, line);
        return Fd();
    }
    Fd fd(device, O_RDWR);
    if (!fd.ok())
        syslog(LOG_ERR, "%s(%d): fail to open mtd device %s, errno = %d", func, line, device, errno);
    return fd;
}

// The whole partition behind fd as an erase or lock range; false (logged)
// when the device does not tell its size.
inline bool wholeRange(const Fd &fd, const char *device, const char *func, int line, erase_info_user &range)
{
    mtd_info_user info{};
    if (ioctl(fd.get(), MEMGETINFO, &info) != 0) {
        syslog(LOG_ERR, "%s(%d): Could not get MTD device info for %s, errno = %d", func, line, device, errno);
        return false;
    }
    range = erase_info_user{0, info.size};
    return true;
}

}  // namespace vexamtd

#endif
