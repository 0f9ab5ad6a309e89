#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace {

int shareDBEnumTypeMatched(const VEXASHARE *share, int flags)
{
    if (share == nullptr || flags < 1 || flags > 7) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const bool usb = VEXAShareIsUsbName(share->szName) == 1;
    const bool sata = VEXAShareIsSataName(share->szName) == 1;
    if (((flags & SHARE_KIND_USB) != 0 && usb) || ((flags & SHARE_KIND_SATA) != 0 && sata) ||
        ((flags & SHARE_KIND_NORMAL) != 0 && !usb && !sata))
        return 0;
    return -1;
}

}  // namespace

extern "C" int VEXAShareDBEnumTypeMatched(const VEXASHARE *share, int flags)
{
    return vral::NoThrow(0, [&] { return shareDBEnumTypeMatched(share, flags); });
}
