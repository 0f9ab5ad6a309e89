#include <strings.h>

#include <initializer_list>

#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace {

int shareSectionTypeGet(const char *section)
{
    if (section == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    for (const char *reserved : {"global", "home", "printers"}) {
        if (strcasecmp(section, reserved) == 0)
            return 1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAShareSectionTypeGet(const char *section)
{
    return vral::NoThrow(-1, [&] { return shareSectionTypeGet(section); });
}
