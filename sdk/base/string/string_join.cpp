#include <syslog.h>

#include <climits>
#include <cstring>

#include "base/err/vral_err.h"
#include "base/string/vral_string.h"

extern "C" int VRALStrJoin(const char **rgszItem, int nItem, const char *szSep, char **ppBuf, int *pcbBuf)
{
    if (rgszItem == nullptr || nItem <= 0 || szSep == nullptr || ppBuf == nullptr || pcbBuf == nullptr ||
        (*ppBuf != nullptr && *pcbBuf < 1)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        syslog(LOG_ERR, "%s:%d Bad parameters!!", __FILE__, __LINE__);
        return -1;
    }
    size_t cchSep = strlen(szSep);
    size_t total = 0;
    for (int i = 0; i < nItem; ++i) {
        if (rgszItem[i] != nullptr)
            total += strlen(rgszItem[i]) + cchSep;
    }
    if (total == 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        syslog(LOG_ERR, "%s:%d The input array is empty!!", __FILE__, __LINE__);
        return -1;
    }
    if (total >= static_cast<size_t>(INT_MAX)) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        syslog(LOG_ERR, "%s:%d Out of memory!!", __FILE__, __LINE__);
        return -1;
    }
    size_t cbNeed = total + 1;
    if (*ppBuf == nullptr || static_cast<size_t>(*pcbBuf) < cbNeed) {
        *ppBuf = static_cast<char *>(VRALReallocOrFree(*ppBuf, cbNeed));
        if (*ppBuf == nullptr) {
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            syslog(LOG_ERR, "%s:%d Out of memory!!", __FILE__, __LINE__);
            return -1;
        }
        *pcbBuf = static_cast<int>(cbNeed);
    }

    char *buf = *ppBuf;
    memset(buf, 0, static_cast<size_t>(*pcbBuf));
    size_t at = 0;
    for (int i = 0; i < nItem; ++i) {
        if (rgszItem[i] == nullptr)
            continue;
        size_t cch = strlen(rgszItem[i]);
        memcpy(buf + at, rgszItem[i], cch);
        at += cch;
        memcpy(buf + at, szSep, cchSep);
        at += cchSep;
    }
    buf[at - cchSep] = '\0';
    return 0;
}
