#include <cstdio>

#include "base/file/vral_file.h"
#include "base/proc/vral_proc.h"
#include "services/user/user_set_internal.h"

namespace vexauser {

int SDKISetGuestAfpd(bool fOpen)
{
    FILE *probe = fopen(AFPD_CONF, "re");
    if (probe == nullptr) {
        VRAL_LOG_ERR("%s not found!", AFPD_CONF);
        VRAL_ERR_SET(ERR_FILE_NOT_FOUND);
        return -1;
    }
    fclose(probe);
    // Only a copy that ran through is edited and moved in.
    if (VEXAProcExec("/bin/cp", "-Rf", AFPD_CONF, AFPD_CONF_TMP, nullptr) != 0) {
        VRAL_LOG_ERR("/bin/cp -Rf %s %s failed!", AFPD_CONF, AFPD_CONF_TMP);
        VRALFileUnlink(AFPD_CONF_TMP);
        return -1;
    }
    char line[512];
    if (VRALFileGetLine(AFPD_CONF_TMP, "-uamlist", line, sizeof line, 0) <= 0) {
        VRALFileUnlink(AFPD_CONF_TMP);
        return 0;
    }
    const char *from = fOpen ? "uams_noguest.so" : "uams_guest.so";
    const char *to = fOpen ? "uams_guest.so" : "uams_noguest.so";
    if (VRALFileReplaceSubStr(AFPD_CONF_TMP, from, to) < 0 || rename(AFPD_CONF_TMP, AFPD_CONF) != 0) {
        VRALFileUnlink(AFPD_CONF_TMP);
        return -1;
    }
    return 0;
}

}  // namespace vexauser
