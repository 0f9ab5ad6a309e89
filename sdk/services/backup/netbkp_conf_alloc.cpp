// A network-backup record from a section's pairs.
#include <cstdlib>
#include <cstring>

#include "base/err/vral_err.h"
#include "services/backup/backup_internal.h"

extern "C" VEXANETBKPCONF *VEXANetBkpConfAlloc(const char *szSetName, VRALSzHash *pHash)
{
    auto *p = vexabkp::NewRecord<VEXANETBKPCONF>(szSetName, pHash);
    if (p == nullptr)
        return nullptr;
    p->last_bkp_status = vexabkp::PairInt(pHash, "last_bkp_status", -1);
    p->ssh = vexabkp::PairInt(pHash, "ssh", 0);
    p->blockbkp = vexabkp::PairInt(pHash, "blockbkp", 0);
    p->incrbkp = vexabkp::PairInt(pHash, "incrbkp", 0);
    p->server_type = vexabkp::PairInt(pHash, "server_type", 1);
    p->szSetName = strdup(szSetName);
    p->bkp_server = vexabkp::PairCopy(pHash, "bkp_server");
    p->bkp_ip = vexabkp::PairCopy(pHash, "bkp_ip");
    p->bkp_auth_user = vexabkp::PairCopy(pHash, "bkp_auth_user");
    p->server_pass = vexabkp::PairCopy(pHash, "server_pass");
    p->last_bkp_time = vexabkp::PairCopy(pHash, "last_bkp_time");
    p->bkp_module = vexabkp::PairCopy(pHash, "bkp_module");
    p->server_pass2 = vexabkp::PairCopy(pHash, "server_pass2");
    p->bkp_shares = vexabkp::PairCopy(pHash, "bkp_shares");
    p->bkp_apps = vexabkp::PairCopy(pHash, "bkp_apps");
    return vexabkp::CompleteRecord(p,
                                   {p->szSetName, p->bkp_server, p->bkp_ip, p->bkp_auth_user, p->server_pass,
                                    p->last_bkp_time, p->bkp_module, p->server_pass2, p->bkp_shares, p->bkp_apps},
                                   VEXANetBkpConfFree);
}
