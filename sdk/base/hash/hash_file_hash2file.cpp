#include <cstdio>
#include <cstring>

#include "base/err/vral_err.h"
#include "base/hash/hash_internal.h"

using namespace vral::hash;

extern "C" int VRALSzHashFormatCheck(const char *szFormat)
{
    if (szFormat == nullptr)
        return 1;
    const char *p = strstr(szFormat, "%s");
    if (p == nullptr || (p = strchr(p + 2, '=')) == nullptr || (p = strstr(p + 1, "%s")) == nullptr ||
        strchr(p + 2, '\n') == nullptr)
        return 0;
    // The format is handed two strings: any other conversion would read
    // arguments that are not there.
    int nString = 0;
    for (p = szFormat; *p != '\0'; ++p) {
        if (*p != '%')
            continue;
        if (p[1] == '%') {
            ++p;
        } else if (p[1] == 's') {
            ++nString;
            ++p;
        } else {
            return 0;
        }
    }
    return nString == 2 ? 1 : 0;
}

extern "C" int VRALSzHashWriteFile(FILE *fp, const char *szSection, VRALSzHash *pMap, const char *szFormat)
{
    if (fp == nullptr || VRALSzHashFormatCheck(szFormat) == 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const char *fmt = szFormat != nullptr ? szFormat : "%s=%s\n";
    if (szSection != nullptr && fprintf(fp, "[%s]\n", szSection) < 0) {
        VRAL_ERR_SET(ERR_WRITE_FAILED);
        return -1;
    }
    if (pMap == nullptr)
        return 0;
    for (int i = 0; i < pMap->nSlot; ++i) {
        if (!isLive(pMap, i))
            continue;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        int r = fprintf(fp, fmt, VRALSzHashSlotKey(pMap, i), VRALSzHashSlotValue(pMap, i));
#pragma GCC diagnostic pop
        if (r < 0) {
            VRAL_ERR_SET(ERR_WRITE_FAILED);
            return -1;
        }
    }
    return 0;
}
