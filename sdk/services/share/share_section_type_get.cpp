#include <strings.h>

#include <initializer_list>

#include "services/share/share_internal.h"

extern "C" int VEXAShareSectionTypeGet(const char *section)
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
