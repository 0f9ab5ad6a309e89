// Deletes a job's line from the crontab.
#include "base/err/vral_err.h"
#include "services/crontab/crontab_internal.h"

namespace {
constexpr char kOp[] = "VEXAScheduleRemove";
}

extern "C" int VEXAScheduleRemove(const char *szCmd)
{
    if (!vexacron::CommandUsable(szCmd)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (VEXAUpdateCrontab(szCmd, nullptr) < 0) {
        VRAL_LOG_CALL(kOp, "fail to remove schedule to /etc/crontab");
        return -1;
    }
    return 0;
}
