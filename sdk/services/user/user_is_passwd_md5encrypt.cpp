#include <cstring>

#include "base/err/err_guard.h"
#include "services/user/user_internal.h"

namespace {

int userIsPasswdMD5Encrypt(const char *s)
{
    if (s == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return 0;
    }
    const char *p = strstr(s, "$1$");
    return p != nullptr && strlen(p) > 12 ? 1 : 0;
}

}  // namespace

extern "C" int VEXAUserIsPasswdMD5Encrypt(const char *s)
{
    return vral::NoThrow(0, [&] { return userIsPasswdMD5Encrypt(s); });
}
