// A local-backup record from a section's pairs.
#include <cstdlib>
#include <cstring>

#include "base/err/vral_err.h"
#include "services/backup/backup_internal.h"

extern "C" VEXALOCALBKPCONF *VEXALocalBkpConfAlloc(const char *szSetName, VRALSzHash *pHash)
{
    auto *p = vexabkp::NewRecord<VEXALOCALBKPCONF>(szSetName, pHash);
    if (p == nullptr)
        return nullptr;
    p->dest_type = vexabkp::DestTypeFromWord(SzVRALSzHashGetValue(pHash, "dest_type"));
    p->incrbkp = vexabkp::PairInt(pHash, "incrbkp", 0);
    p->szSetName = strdup(szSetName);
    p->dest_id = vexabkp::PairCopy(pHash, "dest_id");
    p->dest_share = vexabkp::PairCopy(pHash, "dest_share");
    p->bkp_shares = vexabkp::PairCopy(pHash, "bkp_shares");
    p->bkp_apps = vexabkp::PairCopy(pHash, "bkp_apps");
    p->last_bkp_time = vexabkp::PairCopy(pHash, "last_bkp_time");
    p->last_bkp_result = vexabkp::PairCopy(pHash, "last_bkp_result");
    return vexabkp::CompleteRecord(
        p, {p->szSetName, p->dest_id, p->dest_share, p->bkp_shares, p->bkp_apps, p->last_bkp_time, p->last_bkp_result},
        VEXALocalBkpConfFree);
}
