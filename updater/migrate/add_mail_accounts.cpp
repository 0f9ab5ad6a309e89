#include <syslog.h>

#include "account_lines.h"
#include "updt_accounts.h"

namespace {

using updt::migrate::FixedUser;

struct FixedGroup {
    const char *name;
    const char *line;
};

constexpr FixedGroup kGroups[] = {
    {"postfix", "postfix:x:125:postfix"},
    {"maildrop", "maildrop:x:126:"},
    {"dovecot", "dovecot:x:143:dovecot"},
};

constexpr FixedUser kUsers[] = {
    {"postfix", "postfix:x:125:125:Postfix User:/nonexist:/sbin/nologin", "postfix:*:10933:0:99999:7:::"},
    {"dovecot", "dovecot:x:143:143:Dovecot User:/nonexist:/sbin/nologin", "dovecot:*:10933:0:99999:7:::"},
};

// The file whose addition failed first, or nullptr.
const char *addAll()
{
    for (const FixedGroup &g : kGroups) {
        if (!updt::migrate::GroupNameHeld(g.name) && !updt::migrate::AddFirstLine(updt::migrate::kGroupFile, g.line))
            return updt::migrate::kGroupFile;
    }
    for (const FixedUser &u : kUsers) {
        if (const char *failed = updt::migrate::AddFixedUser(u))
            return failed;
    }
    return nullptr;
}

}  // namespace

int AddMailAccounts(void)
{
    const char *failed = addAll();
    if (failed == nullptr)
        return 0;
    syslog(LOG_ERR, "%s:%d Failed to VRALFileAddLine in to %s.", "updater", __LINE__, failed);
    syslog(LOG_ERR, "%s(%d) Create harrowin users failed.", "updater", __LINE__);
    return -1;
}
