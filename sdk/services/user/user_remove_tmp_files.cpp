#include <sys/stat.h>
#include <unistd.h>

#include "base/err/err_guard.h"
#include "services/user/user_internal.h"

namespace {

int useriRemoveTmpFiles(void)
{
    int r = 0;
    for (const vexauser::DumpFile &f : vexauser::kDumpFiles) {
        struct stat st {};
        if (lstat(f.tmp, &st) == 0 && unlink(f.tmp) != 0) {
            syslog(LOG_WARNING, "%s:%d remove %s file failed!", __FILE_NAME__, __LINE__, f.tmp);
            VRAL_ERR_SET(ERR_REMOVE_FAILED);
            r = -1;
        }
    }
    return r;
}

}  // namespace

extern "C" int USERIRemoveTmpFiles(void)
{
    return vral::NoThrow(-1, [&] { return useriRemoveTmpFiles(); });
}
