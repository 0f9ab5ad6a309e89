#include <pwd.h>
#include <sys/random.h>
#include <syslog.h>

#include <cerrno>
#include <cstring>

#include "account_lines.h"
#include "services/log/vexa_log.h"
#include "services/user/vexa_user_query.h"
#include "services/user/vexa_user_set.h"
#include "updt_accounts.h"

namespace {

constexpr unsigned kEventUserCopied = 0x11800E02;
constexpr int kUsersGid = 100;

struct User {
    VEXAUSER *p = nullptr;
    ~User() { VEXAUserFree(p); }
};

// A password nobody can guess, which the copy holds until it is given the
// old account's hashes: never the empty one a new user would get.
bool unguessable(char (&out)[49])
{
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+-";
    unsigned char raw[48];
    size_t got = 0;
    while (got < sizeof raw) {
        const ssize_t n = getrandom(raw + got, sizeof raw - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    for (size_t i = 0; i < sizeof raw; ++i)
        out[i] = kChars[raw[i] % 64];
    out[48] = '\0';
    return true;
}

}  // namespace

int CopyReservedNameUser(const char *szName)
{
    const struct passwd *pw = getpwnam(szName);
    if (pw == nullptr || static_cast<unsigned>(pw->pw_uid) <= 1024)
        return 0;
    char newName[64];
    if (!updt::migrate::FirstFreeName(szName, 127, updt::migrate::UserNameFree, newName, sizeof newName))
        return -1;
    User old;
    if (VEXAUserGet(szName, &old.p) != 0) {
        syslog(LOG_ERR, "%s (%d) Failed to VEXAUserGet() user [%s].", "updater", __LINE__, szName);
        return -1;
    }
    char lm[33] = {};
    char nt[33] = {};
    if (VEXAUserGetSmbPasswd(szName, lm, sizeof lm, nt, sizeof nt) != 0) {
        syslog(LOG_ERR, "%s (%d) Failed to VEXAUserGetSmbPasswd() user [%s].", "updater", __LINE__, szName);
        return -1;
    }
    // A new user (uid allocated, home, shell and mail the writer's
    // defaults) with the old one's description and expiry.
    char secret[49];
    if (!unguessable(secret)) {
        syslog(LOG_ERR, "%s (%d) no random password for user [%s]. errno=%d", "updater", __LINE__, newName, errno);
        return -1;
    }
    User copy;
    const bool built = VEXAUserAlloc(&copy.p, newName, secret, -1, kUsersGid, old.p->szGecos, nullptr, nullptr,
                                     old.p->expire, nullptr, 0) == 0;
    explicit_bzero(secret, sizeof secret);
    if (!built) {
        syslog(LOG_ERR, "%s (%d) Failed to VEXAUserSet() user [%s].", "updater", __LINE__, newName);
        return -1;
    }
    // none given, so the writer puts its defaults in
    copy.p->szHome = nullptr;
    copy.p->szShell = nullptr;
    copy.p->szMail = nullptr;
    // A failed write may have reached some account files before it failed
    // (a dump's later rename, the chroot list): whatever of the copy did
    // is taken out again.
    if (VEXAUserSet(nullptr, copy.p) != 0) {
        syslog(LOG_ERR, "%s (%d) Failed to VEXAUserSet() user [%s].", "updater", __LINE__, newName);
        updt::migrate::DropCopy(updt::migrate::CopyKind::User, newName);
        return -1;
    }
    const char *hash = old.p->szPasswd;
    const char *lmHash = lm;
    const char *ntHash = nt;
    if (VEXAUserSetPasswd(&copy.p, &hash, &lmHash, &ntHash, 1) != 0) {
        syslog(LOG_ERR, "%s (%d) Failed to VEXAUserSetPasswd() user [%s].", "updater", __LINE__, newName);
        updt::migrate::DropCopy(updt::migrate::CopyKind::User, newName);
        return -1;
    }
    updt::migrate::NoteCopy(updt::migrate::CopyKind::User, newName);
    VEXALogSet(2, 1, kEventUserCopied, szName, newName, "", "");
    return 0;
}
