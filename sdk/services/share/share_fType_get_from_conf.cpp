#include <cstring>

#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace {

int shareFTypeGetFromConf(const char *guestOk, const char *writeable)
{
    if (guestOk == nullptr || writeable == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const bool guest = strcmp(guestOk, "yes") == 0;
    if (guest && strcmp(writeable, "yes") == 0)
        return SHARE_TYPE_GUEST_WRITE;
    if (guest && strcmp(writeable, "no") == 0)
        return SHARE_TYPE_GUEST_READ;
    if (strcmp(guestOk, "no") == 0 && strcmp(writeable, "no") == 0)
        return SHARE_TYPE_DENIED;
    VRAL_ERR_SET(ERR_CONVERSION_FAILED);
    return -1;
}

}  // namespace

extern "C" int ShareFTypeGetFromConf(const char *guestOk, const char *writeable)
{
    return vral::NoThrow(-1, [&] { return shareFTypeGetFromConf(guestOk, writeable); });
}
