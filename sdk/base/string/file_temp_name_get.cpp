#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "base/err/vral_err.h"
#include "base/string/vral_string.h"

namespace {
int gnTempName = 0;
}

extern "C" int VRALFileTempNameGet(const char *szBase, char *szBuf, int cbBuf)
{
    if (szBase == nullptr || szBuf == nullptr || cbBuf < 0)
        return -1;
    memset(szBuf, 0, static_cast<size_t>(cbBuf));
    char szSuffix[32];
    snprintf(szSuffix, sizeof(szSuffix), "%d-%d", static_cast<int>(getpid()), gnTempName);
    ++gnTempName;
    if (strlen(szBase) + strlen(szSuffix) + 1 > static_cast<size_t>(cbBuf)) {
        VRAL_ERR_SET(ERR_BUFFER_TOO_SMALL);
        return -1;
    }
    size_t cbBase = strlen(szBase);
    memcpy(szBuf, szBase, cbBase);
    memcpy(szBuf + cbBase, szSuffix, strlen(szSuffix) + 1);
    return 0;
}
