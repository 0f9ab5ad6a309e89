#include <pwd.h>
#include <sys/file.h>
#include <syslog.h>

#include "account_lines.h"
#include "base/err/vral_err.h"
#include "base/lock/vral_lock.h"
#include "services/log/vexa_log.h"
#include "services/user/user_internal.h"
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

// Takes a copy whose hashes could not be set out again, so no account is
// left behind with a new user's empty password.
bool dropCopy(const char *name)
{
    char NAME[USER_KEY_SIZE];
    if (vexauser::keyForm(name, NAME, sizeof NAME) < 0)
        return false;
    if (VRALFileLock(LOCK_ID_PW | LOCK_EX | LOCK_NB, 5) != 0)
        return false;
    VEXAUSERDB *db = VEXAUserDBOpen();
    const bool ok = db != nullptr && VEXAUserDBDelete(db, NAME) == 0 && VEXAUserDBDump(db) == 0;
    VEXAUserDBClose(db);
    return VRALFileUnlock(LOCK_ID_PW) == 0 && ok;
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
    User copy;
    const bool built = VEXAUserAlloc(&copy.p, newName, nullptr, -1, kUsersGid, old.p->szGecos, nullptr, nullptr,
                                     old.p->expire, nullptr, 0) == 0;
    if (built) {
        // none given, so the writer puts its defaults in
        copy.p->szPasswd = nullptr;
        copy.p->szHome = nullptr;
        copy.p->szShell = nullptr;
        copy.p->szMail = nullptr;
    }
    if (!built || VEXAUserSet(nullptr, copy.p) != 0) {
        // nothing to give hashes to: never another account of that name
        syslog(LOG_ERR, "%s (%d) Failed to VEXAUserSet() user [%s].", "updater", __LINE__, newName);
        return -1;
    }
    const char *hash = old.p->szPasswd;
    const char *lmHash = lm;
    const char *ntHash = nt;
    if (VEXAUserSetPasswd(&copy.p, &hash, &lmHash, &ntHash, 1) != 0) {
        syslog(LOG_ERR, "%s (%d) Failed to VEXAUserSetPasswd() user [%s].", "updater", __LINE__, newName);
        if (!dropCopy(newName))
            syslog(LOG_ERR, "%s (%d) Failed to remove user [%s] again. vexaerr=[0x%04X]", "updater", __LINE__,
                   newName, VRALErrGet());
        return -1;
    }
    VEXALogSet(2, 1, kEventUserCopied, szName, newName, "", "");
    return 0;
}
