#include <cstring>

#include "base/file/vral_file.h"
#include "services/account/vexa_account.h"

namespace {
int gGuestSupport = -1;  // -1 until read; read once per process
}

extern "C" int VEXAGuestSupportGet(void)
{
    if (gGuestSupport == -1) {
        char value[32] = {};
        gGuestSupport =
            VRALFileGetKeyValue("/etc.defaults/vexainfo.conf", "guestsupport", value, sizeof value, 0) > 0 &&
                    strcmp(value, "no") == 0
                ? 0
                : 1;
    }
    return gGuestSupport;
}
