#include "account_lines.h"

#include <grp.h>
#include <pwd.h>

#include <cstdio>

#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "services/group/vexa_group.h"
#include "services/user/vexa_user_query.h"

namespace updt::migrate {

bool AddFirstLine(const char *path, const char *line)
{
    return VRALFileAddLine(path, nullptr, line, 0) >= 1;
}

const char *AddFixedUser(const FixedUser &user)
{
    if (getpwnam(user.name) != nullptr)
        return nullptr;
    if (!AddFirstLine(kPasswdFile, user.passwd))
        return kPasswdFile;
    if (!AddFirstLine(kShadowFile, user.shadow))
        return kShadowFile;
    return nullptr;
}

bool UserNameFree(const char *name)
{
    if (getpwnam(name) != nullptr)
        return false;
    VEXAUSER *user = nullptr;
    const int r = VEXAUserGet(name, &user);
    VEXAUserFree(user);
    return r != 0 && VRALErrGet() == ERR_USER_NOT_FOUND;
}

bool GroupNameFree(const char *name)
{
    if (getgrnam(name) != nullptr)
        return false;
    VEXAGROUP *group = nullptr;
    const int r = VEXAGroupGet(name, &group);
    VEXAGroupFree(group);
    return r != 0 && VRALErrGet() == ERR_GROUP_NOT_FOUND;
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
