// Frees local-backup records: one, or an array of them.
#include <cstdlib>

#include "services/backup/backup_internal.h"

extern "C" void VEXALocalBkpConfFree(VEXALOCALBKPCONF *p)
{
    if (p == nullptr)
        return;
    for (char *s :
         {p->szSetName, p->dest_id, p->dest_share, p->bkp_shares, p->bkp_apps, p->last_bkp_time, p->last_bkp_result})
        free(s);
    free(p);
}

extern "C" void VEXALocalBkpConfFreeAll(VEXALOCALBKPCONF **rgConf, int count)
{
    vexabkp::FreeRecords(rgConf, count, VEXALocalBkpConfFree);
}
