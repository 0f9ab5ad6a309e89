#include <cstdio>

#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace {

int shareFTypeSetToConf(int fType, char *guestOk, char *writeable, int cbGuestOk, int cbWriteable)
{
    if (fType <= 0 || guestOk == nullptr || writeable == nullptr || cbGuestOk <= 3 || cbWriteable <= 3) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const char *g = nullptr;
    const char *w = nullptr;
    if ((fType & SHARE_TYPE_DENIED) != 0) {
        g = "no";
        w = "no";
    } else if ((fType & SHARE_TYPE_GUEST_WRITE) != 0) {
        g = "yes";
        w = "yes";
    } else if ((fType & SHARE_TYPE_GUEST_READ) != 0) {
        g = "yes";
        w = "no";
    } else {
        VRAL_ERR_SET(ERR_BAD_SHARE_TYPE);
        return -1;
    }
    snprintf(guestOk, static_cast<size_t>(cbGuestOk), "%s", g);
    snprintf(writeable, static_cast<size_t>(cbWriteable), "%s", w);
    return 0;
}

}  // namespace

extern "C" int ShareFTypeSetToConf(int fType, char *guestOk, char *writeable, int cbGuestOk, int cbWriteable)
{
    return vral::NoThrow(-1, [&] { return shareFTypeSetToConf(fType, guestOk, writeable, cbGuestOk, cbWriteable); });
}
