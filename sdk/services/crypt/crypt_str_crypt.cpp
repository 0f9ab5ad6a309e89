#include <syslog.h>

#include <cstring>

#include "services/crypt/vexa_crypt.h"

extern "C" int VEXAStrCrypt(const char *szIn, char *szOut, int iLen)
{
    if (szIn == nullptr || szOut == nullptr) {
        syslog(LOG_ERR, "%s %s(%d): wrong parameters", "crypt_str_crypt", __func__, __LINE__);
        return -1;
    }
    const size_t cch = strlen(szIn);
    if (iLen <= 0 || static_cast<size_t>(iLen) <= cch) {
        syslog(LOG_ERR, "%s %s(%d): iLen is not enough!!", "crypt_str_crypt", __func__, __LINE__);
        return -1;
    }
    memset(szOut, 0, static_cast<size_t>(iLen));
    if (VEXAStrCryptInitTables() != 0)
        return -1;

    unsigned step = 0;
    unsigned turn = 0;
    for (size_t i = 0; i < cch; ++i) {
        const unsigned c = static_cast<unsigned char>(szIn[i]);
        const unsigned x = gStrCryptRotor[(c + step) & 0xffu];
        const unsigned y = gStrCryptReflector[(x + turn) & 0xffu];
        const unsigned z = gStrCryptInvRotor[(y - turn) & 0xffu];
        szOut[i] = static_cast<char>((z - step) & 0xffu);
        if (++step == 256) {
            step = 0;
            turn = (turn + 1) & 0xffu;
        }
    }
    return 0;
}
