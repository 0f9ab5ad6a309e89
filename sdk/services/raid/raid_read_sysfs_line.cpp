#include <cstdio>

#include "services/raid/raid_internal.h"

extern "C" int VEXARaidReadSysfsLine(const char *szPath, char *szBuf, int cbBuf)
{
    if (szPath == nullptr || szBuf == nullptr || cbBuf <= 0) {
        VRAL_LOG(LOG_DEBUG, "parameter error");
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    FILE *fp = fopen(szPath, "re");
    if (fp == nullptr) {
        VRAL_LOG(LOG_DEBUG, "Failed to fopen %s, errno=%m", szPath);
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    const bool ok = fgets(szBuf, cbBuf, fp) != nullptr;
    if (!ok) {
        // errno tells something only when the read itself failed.
        if (ferror(fp))
            VRAL_LOG(LOG_DEBUG, "Failed to fgets %s, errno=%m", szPath);
        else
            VRAL_LOG(LOG_DEBUG, "Failed to fgets %s: empty", szPath);
        VRAL_ERR_SET(ERR_READ_FAILED);
    }
    fclose(fp);
    return ok ? 0 : -1;
}
