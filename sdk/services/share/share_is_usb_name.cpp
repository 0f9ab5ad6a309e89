#include <strings.h>

#include <cstring>

#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace {

int shareIsUsbName(const char *name)
{
    if (name == nullptr)
        return 0;
    if (strcmp(name, "usbbackup") == 0)
        return 1;
    if (strncasecmp(name, "usbshare", 8) != 0)
        return 0;
    return strspn(name + 8, "0123456789") == strlen(name + 8) ? 1 : 0;
}

}  // namespace

extern "C" int VEXAShareIsUsbName(const char *name)
{
    return vral::NoThrow(0, [&] { return shareIsUsbName(name); });
}
