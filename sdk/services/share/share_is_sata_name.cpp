#include <cstring>

#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace {

int shareIsSataName(const char *name)
{
    return name != nullptr && (strcmp(name, "satashare") == 0 || strcmp(name, "satabackup") == 0) ? 1 : 0;
}

}  // namespace

extern "C" int VEXAShareIsSataName(const char *name)
{
    return vral::NoThrow(0, [&] { return shareIsSataName(name); });
}
