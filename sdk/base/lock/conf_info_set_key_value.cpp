#include <sys/file.h>

#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "base/lock/vral_lock.h"

extern "C" int VEXAINFOSetKeyValue(const char *szKey, const char *szValue)
{
    if (szKey == nullptr || szValue == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (VRALFileLock(LOCK_ID_VEXAINFO | LOCK_EX | LOCK_NB, 5) < 0)
        return -1;
    const int written = VRALFileSetKeyValue(VEXA_INFO_CONF, szKey, szValue, "%s=\"%s\"\n");
    const int released = VRALFileUnlock(LOCK_ID_VEXAINFO);
    return written > 0 && released == 0 ? 0 : -1;
}
