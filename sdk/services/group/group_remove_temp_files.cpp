#include <unistd.h>

#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

namespace {

int groupiRemoveTempFiles(void)
{
    int r = 0;
    for (const char *path : {GROUP_FILE_TMP, GROUP_FILE_DESC_TMP}) {
        if (unlink(path) != 0 && errno != ENOENT) {
            VRAL_LOG_ERR("Remove [%s] failed! errno=%d/%m", path, errno);
            VRAL_ERR_SET(ERR_REMOVE_FAILED);
            r = -1;
        }
    }
    return r;
}

}  // namespace

extern "C" int GROUPIRemoveTempFiles(void)
{
    return vral::NoThrow(-1, [&] { return groupiRemoveTempFiles(); });
}
