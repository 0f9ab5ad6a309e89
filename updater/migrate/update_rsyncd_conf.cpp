#include <sys/stat.h>
#include <syslog.h>

#include <string_view>

#include "base/file/vral_file.h"
#include "migrate_lines.h"
#include "services/netbkp/vexa_netbkp.h"
#include "updt_preflash.h"

namespace {

constexpr const char *kStep = "UpdateRsyncdConf";
constexpr char kNoChroot[] = "use chroot = no";

// 1 when a line is exactly the setting (blanks around it aside), 0 when
// none is, -1 when the file cannot be read.  A comment or a longer line
// that merely holds the text does not count.
int hasNoChroot()
{
    int found = 0;
    const int rc = updt::migrate::ForEachLine(SZF_RSYNCD_CONF, [&](const char *line, int) {
        const std::string_view text(line);
        const size_t b = text.find_first_not_of(" \t");
        const size_t e = text.find_last_not_of(" \t\r\n");
        if (b != std::string_view::npos && text.substr(b, e - b + 1) == kNoChroot)
            found = 1;
        return found == 0;
    });
    return rc < 0 ? -1 : found;
}

}  // namespace

void UpdateRsyncdConf(void)
{
    const int found = hasNoChroot();
    if (found == 1) {
        (void)chmod(SZF_RSYNCD_CONF, 0644);
    } else if (found == 0) {
        if (VRALFileAddLine(SZF_RSYNCD_CONF, "lock file =", kNoChroot, OP_FIND_PREFIX) < 0)
            syslog(LOG_ERR, "%s %s(%d) : VRALFileAddLine(szFile=[%s] szKey=[%s] szLine=[%s] flag=OP_FIND_PREFIX) fail",
                   "updater", kStep, __LINE__, SZF_RSYNCD_CONF, "lock file =", kNoChroot);
        else
            (void)chmod(SZF_RSYNCD_CONF, 0644);
    }
    (void)VEXANetBkpSecretsFileProtect(SZF_RSYNCD_SECRETS);
}
