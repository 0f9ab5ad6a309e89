#include <sys/stat.h>

#include <cstdio>

#include "base/file/file_tmp_file.h"
#include "base/file/vral_file.h"
#include "base/proc/vral_proc.h"
#include "services/user/user_set_internal.h"

namespace vexauser {

namespace {

// The edited copy replaces afpd.conf through the one writer: afpd.conf's
// own owner and mode (not what the copy tool and the caller's umask gave
// the copy), synced, renamed, its folder synced.  0 or -1.
int MoveCopyIn(const struct stat &st)
{
    vralfile::TmpFile out(AFPD_CONF, st);
    FILE *copy = fopen(AFPD_CONF_TMP, "re");
    if (!out.ok() || copy == nullptr) {
        if (copy != nullptr)
            fclose(copy);
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, copy)) > 0;)
        out.text().append(buf, n);
    const bool read = ferror(copy) == 0;
    fclose(copy);
    if (!read) {
        VRAL_ERR_SET(ERR_READ_FAILED);
        return -1;
    }
    return out.finish() == 0 && out.moveIn() == 0 ? 0 : -1;
}

}  // namespace

int SDKISetGuestAfpd(bool fOpen)
{
    struct stat st;
    if (stat(AFPD_CONF, &st) != 0 || !S_ISREG(st.st_mode)) {
        VRAL_LOG_ERR("%s not found!", AFPD_CONF);
        VRAL_ERR_SET(ERR_FILE_NOT_FOUND);
        return -1;
    }
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
    const int rc = VRALFileReplaceSubStr(AFPD_CONF_TMP, from, to) < 0 ? -1 : MoveCopyIn(st);
    VRALFileUnlink(AFPD_CONF_TMP);
    return rc;
}

}  // namespace vexauser
