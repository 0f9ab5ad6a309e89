#include <cstring>

#include "base/err/vral_err.h"
#include "base/string/vral_string.h"

extern "C" int VRALStrEncodeColon(const char *szIn, char *szOut, int cbOut)
{
    if (szIn == nullptr || szOut == nullptr || szIn == szOut) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    int at = 0;
    for (const char *p = szIn; *p != '\0'; ++p) {
        char pair[2];
        int n = 1;
        if (*p == ':') {
            pair[0] = ';';
            pair[1] = ',';
            n = 2;
        } else if (*p == ';') {
            pair[0] = ';';
            pair[1] = ';';
            n = 2;
        } else {
            pair[0] = *p;
        }
        if (static_cast<long long>(at) + n + 1 > cbOut) {
            // Never leave a half-written, unterminated text behind.
            if (cbOut > 0)
                szOut[0] = '\0';
            VRAL_ERR_SET(ERR_BUFFER_TOO_SMALL);
            return -1;
        }
        memcpy(szOut + at, pair, static_cast<size_t>(n));
        at += n;
    }
    if (cbOut < 1) {
        VRAL_ERR_SET(ERR_BUFFER_TOO_SMALL);
        return -1;
    }
    szOut[at] = '\0';
    return at;
}
