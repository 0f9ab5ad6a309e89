#include <cstring>

#include "services/share/share_internal.h"

extern "C" int VEXAShareIsSataName(const char *name)
{
    return name != nullptr && (strcmp(name, "satashare") == 0 || strcmp(name, "satabackup") == 0) ? 1 : 0;
}
