#include "account_lines.h"

#include <grp.h>
#include <pwd.h>
#include <syslog.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/err/err_guard.h"
#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "base/string/vral_string.h"
#include "base/file/file_tmp_file.h"
#include "services/group/vexa_group.h"
#include "services/user/vexa_user_query.h"

namespace updt::migrate {

bool AddFirstLine(const char *path, const char *line)
{
    return VRALFileAddLine(path, nullptr, line, 0) >= 1;
}

const char *AddFixedUser(const FixedUser &user)
{
    if (UserNameHeld(user.name))
        return nullptr;
    if (!AddFirstLine(kPasswdFile, user.passwd))
        return kPasswdFile;
    if (!AddFirstLine(kShadowFile, user.shadow))
        return kShadowFile;
    return nullptr;
}

namespace {

// Free when the SDK's lookup says the name is unknown, nothing else.
template <typename Record>
bool unknownToSdk(const char *name, int (*get)(const char *, Record **), void (*release)(Record *), int notFound)
{
    Record *rec = nullptr;
    const int r = get(name, &rec);
    release(rec);
    return r != 0 && VRALErrGet() == notFound;
}

// Held when the SDK knows the name in any letter case; the holder of
// another case is named in the log.
template <typename Record>
bool heldInSdk(const char *kind, const char *name, int (*get)(const char *, Record **), void (*release)(Record *),
               int notFound)
{
    Record *rec = nullptr;
    const int r = get(name, &rec);
    bool held = true;
    if (r == 0) {
        if (rec != nullptr && rec->szName != nullptr && std::strcmp(rec->szName, name) != 0)
            syslog(LOG_ERR, "%s (%d) %s [%s] holds the name [%s], no line added.", "updater", __LINE__, kind,
                   rec->szName, name);
    } else if (VRALErrGet() == notFound) {
        held = false;
    } else {
        // The system's database has the last word, as it had before.
        syslog(LOG_ERR, "%s (%d) the SDK cannot tell whether the %s [%s] exists in other letters. vexaerr=[0x%04X]",
               "updater", __LINE__, kind, name, VRALErrGet());
        held = false;
    }
    release(rec);
    return held;
}

}  // namespace

bool UserNameFree(const char *name)
{
    return getpwnam(name) == nullptr && unknownToSdk(name, VEXAUserGet, VEXAUserFree, ERR_USER_NOT_FOUND);
}

bool GroupNameFree(const char *name)
{
    return getgrnam(name) == nullptr && unknownToSdk(name, VEXAGroupGet, VEXAGroupFree, ERR_GROUP_NOT_FOUND);
}

bool UserNameHeld(const char *name)
{
    return getpwnam(name) != nullptr || heldInSdk("user", name, VEXAUserGet, VEXAUserFree, ERR_USER_NOT_FOUND);
}

bool GroupNameHeld(const char *name)
{
    return getgrnam(name) != nullptr || heldInSdk("group", name, VEXAGroupGet, VEXAGroupFree, ERR_GROUP_NOT_FOUND);
}

namespace {

bool replace(const char *path, const char *what, const std::function<bool(std::string &)> &fill)
{
    char tmpPath[128];
    if (VRALFileTempNameGet((std::string(path) + ".").c_str(), tmpPath, sizeof tmpPath) != 0) {
        syslog(LOG_ERR, "%s:%d mkstemp %s tmpfile failed. errno:%d, message:%m", "updater", __LINE__, what, errno);
        return false;
    }
    vralfile::TmpFile tmp(path, tmpPath, 0644);
    if (!tmp.ok()) {
        syslog(LOG_ERR, "%s:%d open %s tmpfile failed. errno:%d, message:%m", "updater", __LINE__, what, errno);
        return false;
    }
    if (!fill(tmp.text()))
        return false;
    if (tmp.setMode(0644) != 0) {
        syslog(LOG_ERR, "%s:%d fchmod failed. errno:%d, message:%m", "updater", __LINE__, errno);
        return false;
    }
    if (tmp.finish() != 0) {
        syslog(LOG_ERR, "%s:%d fsync failed. errno:%d, message:%m", "updater", __LINE__, errno);
        return false;
    }
    if (tmp.moveIn() != 0) {
        syslog(LOG_ERR, "%s:%d rename %s failed. errno:%d, message:%m", "updater", __LINE__, what, errno);
        return false;
    }
    return true;
}

}  // namespace

bool ReplaceAccountFile(const char *path, const char *what, const std::function<bool(std::string &)> &fill)
{
    return vral::NoThrow(false, [&] { return replace(path, what, fill); });
}

bool FirstFreeName(const char *base, int last, bool (*isFree)(const char *), char *out, size_t cb)
{
    for (int i = 1; i <= last; ++i) {
        const int n = snprintf(out, cb, "%s%d", base, i);
        if (n > 0 && static_cast<size_t>(n) < cb && isFree(out))
            return true;
    }
    return false;
}

}  // namespace updt::migrate
