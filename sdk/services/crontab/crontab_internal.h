// Pieces shared by the crontab schedule files.
#ifndef VEXA_CRONTAB_INTERNAL_H
#define VEXA_CRONTAB_INTERNAL_H

#include <syslog.h>

#include "services/crontab/vexa_crontab.h"

// Each file names its operation in kOp.
#define CRONTAB_LOG(fmt, ...) syslog(LOG_ERR, "%s(%d): " fmt, kOp, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

namespace vexacron {

inline constexpr char kCrontab[] = "/etc/crontab";

// A job is named by a non-empty command: an empty one matches every line
// that is not a comment.
inline bool CommandUsable(const char *szCmd)
{
    return szCmd != nullptr && szCmd[0] != '\0';
}

}  // namespace vexacron

#endif
