// Writes one local-backup set.
#include "base/err/err_guard.h"
#include "base/err/vral_err.h"
#include "services/backup/backup_internal.h"

extern "C" int VEXALocalBkpConfSetOne(const char *szOldBkpset, const VEXALOCALBKPCONF *pConf)
{
    if (pConf == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const vexabkp::Pair strings[] = {
        {"dest_type", vexabkp::DestTypeWord(pConf->dest_type)},
        {"dest_share", pConf->dest_share},
        {"bkp_shares", pConf->bkp_shares},
        {"bkp_apps", pConf->bkp_apps},
        {"last_bkp_time", pConf->last_bkp_time},
        {"last_bkp_result", pConf->last_bkp_result},
        {"dest_id", pConf->dest_id},
    };
    const vexabkp::IntPair ints[] = {{"incrbkp", pConf->incrbkp}};
    return vral::NoThrow(-1, [&] {
        return vexabkp::WriteSet(__FILE_NAME__, VEXA_LOCALBKP_CONF, 0666, szOldBkpset, pConf->szSetName, strings, ints,
                                 true);
    });
}
