#include <syslog.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "account_lines.h"
#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "migrate_lines.h"
#include "services/user/vexa_user.h"
#include "services/user/vexa_user_query.h"
#include "updt_accounts.h"

namespace {

constexpr const char *kInfo = VEXA_INFO_CONF;
constexpr const char *kMail = "/etc/mail";

// The comment lines on top of the old file: the header that holds the last
// uid handed out, and its comment.  Without the header, deleted users'
// uids would be handed out again.  False when the file cannot be read.
bool oldHeader(std::string &text)
{
    const int r = updt::migrate::ForEachLine(USER_FILE_VEXAUSER, [&](const char *line, int) {
        if (line[0] != '#')
            return false;
        text += line;
        if (text.back() != '\n')
            text += '\n';
        return true;
    });
    return r == 0 || errno == ENOENT;
}

int privilege()
{
    char value[4] = {};
    if (VRALFileGetKeyValue(kInfo, "download_enabled", value, sizeof value, 0) == -1) {
        syslog(LOG_ERR, "%s:%d VRALFileGetKeyValue failed. vexaerr=[0x%04X]", "updater", __LINE__, VRALErrGet());
        return 3;
    }
    return strcmp(value, "yes") == 0 ? 11 : 3;
}

// The user's mail text; empty when it has none or it cannot be read.
std::string mailOf(const char *name)
{
    char mail[1024] = {};
    const int r = VRALFileGetKeyValue(kMail, name, mail, sizeof mail, 0);
    if (r == -1)
        syslog(LOG_ERR, "%s:%d VRALFileGetKeyValue failed. vexaerr=[0x%04X]", "updater", __LINE__, VRALErrGet());
    return r > 0 ? std::string(mail) : std::string();
}

struct UserList {
    VEXALOCALUSERINFO *head = nullptr;
    ~UserList() { VEXALocalUserInfoFree(&head); }
};

bool fill(std::string &text)
{
    if (!oldHeader(text)) {
        syslog(LOG_ERR, "%s:%d read %s failed. errno:%d, message:%m", "updater", __LINE__, USER_FILE_VEXAUSER,
               errno);
        return false;
    }
    const int priv = privilege();
    UserList users;
    if (VEXALocalUserInfoEnum(&users.head) < 0) {
        syslog(LOG_ERR, "%s:%d VEXALocalUserInfoEnum failed. vexaerr=[0x%04X]", "updater", __LINE__,
               VRALErrGet());
        return false;
    }
    for (const VEXALOCALUSERINFO *p = users.head; p != nullptr; p = p->pNext) {
        if (p->uid > USER_UID_GUEST)
            text += std::string(p->szName) + ":" + std::to_string(priv) + ":" + mailOf(p->szName) + "\n";
    }
    return true;
}

}  // namespace

int RewriteUserConf(void)
{
    if (updt::migrate::ReplaceAccountFile(USER_FILE_VEXAUSER, "vexauser.conf", fill))
        return 0;
    syslog(LOG_ERR, "%s(%d) Create /etc/vexauser failed.", "updater", __LINE__);
    return -1;
}
