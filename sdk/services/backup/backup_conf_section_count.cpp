// Counts the sets of a backup-set file.
#include "base/err/err_guard.h"
#include "base/err/vral_err.h"
#include "services/backup/backup_internal.h"

extern "C" int VEXABackupConfSectionCount(const char *szPath)
{
    if (szPath == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vral::NoThrow(-1, [&] {
        int count = 0;
        if (vexabkp::ScanHeaders(szPath, [&](std::string_view) {
                ++count;
                return true;
            }) < 0)
            return -1;
        return count;
    });
}
