// Frees an array of backup records by its type.
#include "services/backup/backup_internal.h"

extern "C" void VEXABackupConfFreeAll(void **rgConf, int count, int type)
{
    if (rgConf == nullptr || count <= 0)
        return;
    if (type == BACKUP_TYPE_NETBKP) {
        VEXANetBkpConfFreeAll(reinterpret_cast<VEXANETBKPCONF **>(rgConf), count);
    } else if (type == BACKUP_TYPE_LOCALBKP) {
        VEXALocalBkpConfFreeAll(reinterpret_cast<VEXALOCALBKPCONF **>(rgConf), count);
    } else {
        VRAL_LOG_ERR("Failed to free backup conf struct due to bad backup type [%d]!", type);
    }
}
