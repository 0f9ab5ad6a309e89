#include <grp.h>
#include <syslog.h>

#include "account_lines.h"
#include "services/group/vexa_group.h"
#include "services/log/vexa_log.h"
#include "updt_accounts.h"

namespace {

using updt::migrate::FixedUser;

constexpr unsigned kEventGroupCopied = 0x11800602;

constexpr const char *kFtpGroupLine = "ftp:x:21:nobody,ftp,nobody";
constexpr FixedUser kUsers[] = {
    {"anonymous", "anonymous:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin", "anonymous:*:10933:0:99999:7:::"},
    {"ftp", "ftp:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin", "ftp:*:10933:0:99999:7:::"},
};

// A local group "ftp" is copied with its members to the first free
// ftp<n>; the old group stays.
bool copyGroup()
{
    const struct group *gr = getgrnam("ftp");
    if (gr == nullptr || static_cast<unsigned>(gr->gr_gid) <= 1024)
        return true;
    char name[8];
    if (!updt::migrate::FirstFreeName("ftp", 63, updt::migrate::GroupNameFree, name, sizeof name))
        return false;
    VEXAGROUP *group = nullptr;
    if (VEXAGroupGet("ftp", &group) != 0) {
        syslog(LOG_ERR, "%s (%d) Failed to VEXAGroupGet() group [ftp].", "updater", __LINE__);
        VEXAGroupFree(group);
        return false;
    }
    char *oldName = group->szName;
    group->szName = name;
    if (VEXAGroupSet(nullptr, group) == 0) {
        updt::migrate::NoteCopy(updt::migrate::CopyKind::Group, name);
        VEXALogSet(2, 1, kEventGroupCopied, "ftp", name, "", "");
    } else {
        // Not a failure of the step, but nothing half-written stays.
        updt::migrate::DropCopy(updt::migrate::CopyKind::Group, name);
    }
    group->szName = oldName;
    VEXAGroupFree(group);
    return true;
}

bool addSystemEntries()
{
    if (!updt::migrate::GroupNameHeld("ftp") && !updt::migrate::AddFirstLine(updt::migrate::kGroupFile, kFtpGroupLine))
        return false;
    for (const FixedUser &u : kUsers) {
        const char *failed = updt::migrate::AddFixedUser(u);
        if (failed == updt::migrate::kShadowFile)
            syslog(LOG_ERR, "%s (%d) Failed to VRALFileAddLine in to /etc/shadow.", "updater", __LINE__);
        if (failed != nullptr)
            return false;
    }
    return true;
}

}  // namespace

int AddFtpAccounts(void)
{
    if (copyGroup() && CopyReservedNameUser("ftp") >= 0 && CopyReservedNameUser("anonymous") >= 0 &&
        addSystemEntries())
        return 0;
    syslog(LOG_ERR, "%s (%d) Failed to add ftp user/group.", "updater", __LINE__);
    return -1;
}
