// Writes one network-backup set.
#include "base/err/err_guard.h"
#include "base/err/vral_err.h"
#include "services/backup/backup_internal.h"

extern "C" int VEXANetBkpConfSetOne(const char *szOldBkpset, const VEXANETBKPCONF *pConf)
{
    if (pConf == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const vexabkp::Pair strings[] = {
        {"bkp_server", pConf->bkp_server},       {"bkp_ip", pConf->bkp_ip},
        {"bkp_auth_user", pConf->bkp_auth_user}, {"server_pass", pConf->server_pass},
        {"last_bkp_time", pConf->last_bkp_time}, {"bkp_module", pConf->bkp_module},
        {"server_pass2", pConf->server_pass2},   {"bkp_shares", pConf->bkp_shares},
        {"bkp_apps", pConf->bkp_apps},
    };
    const vexabkp::IntPair ints[] = {
        {"last_bkp_status", pConf->last_bkp_status},
        {"ssh", pConf->ssh},
        {"server_type", pConf->server_type},
        {"blockbkp", pConf->blockbkp},
        {"incrbkp", pConf->incrbkp},
    };
    // The file holds the servers' passwords: root's alone.
    return vral::NoThrow(-1, [&] {
        return vexabkp::WriteSet(__FILE_NAME__, VEXA_NETBKP_CONF, 0600, szOldBkpset, pConf->szSetName, strings, ints,
                                 false);
    });
}
