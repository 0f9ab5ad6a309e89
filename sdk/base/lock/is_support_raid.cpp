#include <strings.h>

#include "base/file/vral_file.h"
#include "base/lock/vral_lock.h"

namespace {
int gSupportRaid = -1;  // -1 until read; read once per process
}

extern "C" int VEXAIsSupportRaid(void)
{
    if (gSupportRaid == -1) {
        gSupportRaid = 0;
        char value[5] = {};
        if (VRALFileGetKeyValue("/etc.defaults/vexainfo.conf", "supportraid", value, sizeof value, 0) > 0 &&
            strcasecmp(value, "yes") == 0)
            gSupportRaid = 1;
    }
    return gSupportRaid;
}
