#include <sys/stat.h>

#include <cstdio>

#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

namespace {

int groupiRenameTempFiles(void)
{
    const std::pair<const char *, const char *> moves[] = {{GROUP_FILE_TMP, GROUP_FILE},
                                                           {GROUP_FILE_DESC_TMP, GROUP_FILE_DESC}};
    for (const auto &[from, to] : moves) {
        struct stat st {};
        // only a file of its own: never a link put in its place
        if (lstat(from, &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (rename(from, to) != 0) {
            VRAL_LOG_ERR("Rename [%s]->[%s] fail, errno=%d/%m", from, to, errno);
            VRAL_ERR_SET(ERR_RENAME_FAILED);
            return -1;
        }
    }
    return 0;
}

}  // namespace

extern "C" int GROUPIRenameTempFiles(void)
{
    return vral::NoThrow(-1, [&] { return groupiRenameTempFiles(); });
}
