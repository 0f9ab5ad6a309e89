#include <sys/stat.h>

#include <cstdio>

#include "base/err/err_guard.h"
#include "services/user/user_internal.h"

namespace vexauser {

const DumpFile kDumpFiles[4] = {
    {USER_FILE_SMBPASSWD, USER_FILE_SMBPASSWD ".tmp", 0600},
    {USER_FILE_SHADOW, USER_FILE_SHADOW ".tmp", 0600},
    {USER_FILE_PASSWD, USER_FILE_PASSWD ".tmp", 0644},
    {USER_FILE_VEXAUSER, USER_FILE_VEXAUSER ".tmp", 0644},
};

}  // namespace vexauser

namespace {

int useriRenameTmpFiles(void)
{
    for (const vexauser::DumpFile &f : vexauser::kDumpFiles) {
        struct stat st {};
        if (lstat(f.tmp, &st) != 0)
            continue;
        if (rename(f.tmp, f.target) != 0) {
            syslog(LOG_WARNING, "%s:%d rename %s file failed!", __FILE_NAME__, __LINE__, f.tmp);
            VRAL_ERR_SET(ERR_RENAME_FAILED);
            return -1;
        }
    }
    return 0;
}

}  // namespace

extern "C" int USERIRenameTmpFiles(void)
{
    return vral::NoThrow(-1, [&] { return useriRenameTmpFiles(); });
}
