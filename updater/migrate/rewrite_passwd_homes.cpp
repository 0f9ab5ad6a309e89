#include <pwd.h>
#include <syslog.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "account_lines.h"
#include "services/user/vexa_user_query.h"
#include "updt_accounts.h"

namespace {

constexpr const char *kHomeRoot = "/var/services/homes";
constexpr size_t kEntrySize = 4096;  // one entry of the walk with its strings
constexpr size_t kHomeSize = 4096;

// Closes the walk on every path.
struct PasswdWalk {
    PasswdWalk() { setpwent(); }
    ~PasswdWalk() { endpwent(); }
    PasswdWalk(const PasswdWalk &) = delete;
    PasswdWalk &operator=(const PasswdWalk &) = delete;
};

// putpwent's line of one entry (it refuses fields that would break the
// file's form): true when written.
bool appendEntry(const struct passwd &pw, std::string &text)
{
    char *p = nullptr;
    size_t cb = 0;
    FILE *fp = open_memstream(&p, &cb);
    if (fp == nullptr)
        return false;
    const bool ok = putpwent(&pw, fp) == 0;
    const bool closed = fclose(fp) == 0;
    if (ok && closed)
        text.append(p, cb);
    free(p);
    return ok && closed;
}

// The kept entries with their new homes into text.  Anything but the
// walk's real end (an entry too long for the buffer above all) fails it, so
// a shortened copy never replaces the file.
bool fillEntries(std::string &text)
{
    PasswdWalk walk;
    char buf[kEntrySize];
    char home[kHomeSize];
    for (;;) {
        struct passwd pw {};
        struct passwd *found = nullptr;
        const int r = getpwent_r(&pw, buf, sizeof buf, &found);
        if (r == ENOENT && found == nullptr)
            return true;
        if (r != 0 || found == nullptr) {
            errno = r != 0 ? r : EIO;
            syslog(LOG_ERR, "%s:%d getpwent_r failed. errno:%d, message:%m", "updater", __LINE__, errno);
            return false;
        }
        if (pw.pw_name == nullptr || pw.pw_name[0] == '\0' || strchr(pw.pw_name, '\\') != nullptr)
            continue;  // nameless, or a domain user
        const unsigned uid = pw.pw_uid;
        if (uid == USER_UID_FIRST || uid > USER_UID_GUEST) {
            const int n = snprintf(home, sizeof home, "%s/%s", kHomeRoot, pw.pw_name);
            if (n < 0 || static_cast<size_t>(n) >= sizeof home) {
                syslog(LOG_ERR, "%s:%d home of [%s] too long", "updater", __LINE__, pw.pw_name);
                return false;
            }
            pw.pw_dir = home;
        }
        if (!appendEntry(pw, text)) {
            syslog(LOG_ERR, "%s:%d putpwent failed. errno:%d, message:%m", "updater", __LINE__, errno);
            return false;
        }
    }
}

}  // namespace

int RewritePasswdHomes(void)
{
    if (updt::migrate::ReplaceAccountFile(updt::migrate::kPasswdFile, "passwd", fillEntries))
        return 0;
    syslog(LOG_ERR, "%s(%d) Rewrite /etc/passwd user home failed.", "updater", __LINE__);
    return -1;
}
