// Helpers shared by the RAID source files.
#ifndef VEXA_RAID_INTERNAL_H
#define VEXA_RAID_INTERNAL_H

#include <syslog.h>

#include <cerrno>
#include <string_view>

#include "base/err/vral_err.h"
#include "services/raid/vexa_raid.h"

// Debug lines start with the source file's name and the line.
#include "base/err/err_log.h"

// A failed md or block-device request, what being "raid status" or "sync
// status": a missing array records ERR_NO_DEVICE without a message, any
// other failure is logged and records ERR_CONVERSION_FAILED.  -1.
#define RAID_REQUEST_FAILED(what) vexa::raid::requestFailed((what), __FILE__, __FILE_NAME__, __LINE__)

namespace vexa::raid {

// n of "/dev/md<n>": digits only, fitting an int; -1 for any other path.
inline int mdNumberOf(std::string_view path)
{
    constexpr std::string_view prefix = "/dev/md";
    if (path.substr(0, prefix.size()) != prefix)
        return -1;
    std::string_view digits = path.substr(prefix.size());
    if (digits.empty() || digits.size() > 9)
        return -1;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// Start sector, size in sectors and type id from one line of
// "sfdisk -l -uS -N<n>": the size, or -1 when the line does not hold them.
long long parsePartitionLine(std::string_view line, unsigned long *pStart, unsigned long *pId);

inline int requestFailed(const char *what, const char *file, const char *fileName, int line)
{
    if (errno == ENODEV) {
        VRALErrSet(ERR_NO_DEVICE, file, line);
        return -1;
    }
    syslog(LOG_DEBUG, "%s:%d Failed to ioctl for %s, errno=%m", fileName, line, what);
    VRALErrSet(ERR_CONVERSION_FAILED, file, line);
    return -1;
}

}  // namespace vexa::raid

#endif
