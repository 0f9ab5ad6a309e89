#include <sys/stat.h>

#include "base/err/err_guard.h"
#include "services/log/log_internal.h"

namespace vexalog {

// The class's own file, whatever the configuration names; class 2 has one
// of its own here.
const char *builtInFile(int iClass)
{
    const LogClass *c = logClassOf(iClass);
    return c != nullptr ? c->file : nullptr;
}

}  // namespace vexalog

extern "C" int VEXALogChangeSize(int iMax, int iClass)
{
    if (iMax < VEXA_LOG_SIZE_MIN || iMax > VEXA_LOG_SIZE_MAX)
        return -1;
    const char *path = vexalog::builtInFile(iClass);
    if (path == nullptr)
        return 0;
    struct stat st {};
    if (stat(path, &st) != 0) {
        syslog(LOG_ERR, "VEXALogChangeSize : logfile %s not existed", path);
        return 0;
    }
    if (st.st_size <= iMax)
        return 0;
    return vral::NoThrow(-1, [&] { return VEXALogShrink(static_cast<int>(st.st_size - iMax), path); });
}
