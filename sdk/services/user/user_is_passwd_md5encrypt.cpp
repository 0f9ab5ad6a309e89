#include <cstring>

#include "services/user/user_internal.h"

extern "C" int VEXAUserIsPasswdMD5Encrypt(const char *s)
{
    if (s == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return 0;
    }
    const char *p = strstr(s, "$1$");
    return p != nullptr && strlen(p) > 12 ? 1 : 0;
}
