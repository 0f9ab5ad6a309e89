// Frees network-backup records: one, or an array of them.
#include <cstdlib>

#include "services/backup/backup_internal.h"

extern "C" void VEXANetBkpConfFree(VEXANETBKPCONF *p)
{
    if (p == nullptr)
        return;
    for (char *s : {p->szSetName, p->bkp_server, p->bkp_ip, p->bkp_auth_user, p->server_pass, p->last_bkp_time,
                    p->bkp_module, p->server_pass2, p->bkp_shares, p->bkp_apps})
        free(s);
    free(p);
}

extern "C" void VEXANetBkpConfFreeAll(VEXANETBKPCONF **rgConf, int count)
{
    vexabkp::FreeRecords(rgConf, count, VEXANetBkpConfFree);
}
