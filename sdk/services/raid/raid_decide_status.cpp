#include "services/raid/raid_internal.h"

namespace {

// How many raid disks the level may lack and still serve.
int toleranceOf(const VEXAMDARRAYINFO &info)
{
    switch (info.level) {
    case 1:
        return info.raid_disks - 1;
    case 5:
        return 1;
    case 6:
        return 2;
    default:
        return 0;  // linear, raid0 and anything else
    }
}

}  // namespace

extern "C" int VEXARaidDecideStatus(const VEXAMDARRAYINFO *pArrayInfo, const VEXARAIDDISK *pMembers, int *pStatus)
{
    if (pArrayInfo == nullptr || pStatus == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    int members = 0;
    int inSync = 0;
    int errors = 0;
    for (const VEXARAIDDISK *d = pMembers; d != nullptr; d = d->next) {
        ++members;
        if (d->state == VEXA_RAID_DISK_IN_SYNC)
            ++inSync;
        else if (d->state == VEXA_RAID_DISK_ERROR)
            ++errors;
    }
    const long long missing = static_cast<long long>(pArrayInfo->raid_disks) - inSync;
    if (errors > 0 || members == 0)
        *pStatus = VEXA_RAID_STATUS_CRASHED;
    else if (missing <= 0)
        *pStatus = VEXA_RAID_STATUS_NORMAL;
    else if (missing > toleranceOf(*pArrayInfo))
        *pStatus = VEXA_RAID_STATUS_CRASHED;
    else
        *pStatus = VEXA_RAID_STATUS_DEGRADED;
    return 0;
}
