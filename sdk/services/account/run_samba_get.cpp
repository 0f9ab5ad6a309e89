#include <sys/file.h>

#include <strings.h>

#include "base/file/vral_file.h"
#include "base/lock/vral_lock.h"
#include "services/account/vexa_account.h"

extern "C" int VEXARunSambaGet(void)
{
    if (VRALFileLock(LOCK_ID_VEXAINFO | LOCK_SH | LOCK_NB, 10) < 0)
        return 0;
    char value[20] = {};
    const int found = VRALFileGetKeyValue(VEXA_INFO_CONF, "runsamba", value, sizeof value, 0);
    VRALFileUnlock(LOCK_ID_VEXAINFO);
    return found > 0 && strcasecmp(value, "yes") == 0 ? 1 : 0;
}
