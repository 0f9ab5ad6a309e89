#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "base/string/vral_string.h"
#include "services/user/user_internal.h"

namespace {

bool inside(const char *s, const char *block, int cb)
{
    return s != nullptr && s >= block && s <= block + cb;
}

}  // namespace

namespace {

int userAlloc(VEXAUSER **ppUser, const char *name, const char *passwd, int uid, int gid,
                             const char *gecos, const char *home, const char *shell, int expire, const char *mail,
                             int privilege)
{
    if (ppUser == nullptr || name == nullptr || name[0] == '\0') {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const char *strs[6] = {name, passwd, gecos, home, shell, mail};
    VEXAUSER *old = *ppUser;
    if (old != nullptr && old->cbAlloc != 0) {
        for (const char *s : strs) {
            if (inside(s, reinterpret_cast<const char *>(old), old->cbAlloc)) {
                VRAL_ERR_SET(ERR_BAD_PARAMETERS);
                return -1;
            }
        }
    }
    size_t need = sizeof(VEXAUSER);
    for (const char *s : strs)
        need += s != nullptr ? strlen(s) + 1 : 0;
    char *block = reinterpret_cast<char *>(old);
    int cb = old != nullptr ? old->cbAlloc : 0;
    if (block != nullptr && cb <= 0)
        block = nullptr;
    if (VEXACheckAndRealloc(&block, &cb, static_cast<unsigned int>(need)) != 0) {
        VRAL_LOG_ERR("VEXACheckAndRealloc failed. vexaerr=0x%04X", VRALErrGet());
        *ppUser = nullptr;
        return -1;
    }
    auto *u = reinterpret_cast<VEXAUSER *>(block);
    char *at = block + sizeof(VEXAUSER);
    char *fields[6];
    const char *lastEnd = nullptr;
    for (int i = 0; i < 6; ++i) {
        if (strs[i] != nullptr) {
            const size_t n = strlen(strs[i]) + 1;
            memcpy(at, strs[i], n);
            fields[i] = at;
            at += n;
            lastEnd = at - 1;
        } else {
            fields[i] = nullptr;
        }
    }
    // a missing string is the empty text at the last string's NUL
    for (char *&f : fields) {
        if (f == nullptr)
            f = const_cast<char *>(lastEnd);
    }
    u->szName = fields[0];
    u->szPasswd = fields[1];
    u->szGecos = fields[2];
    u->szHome = fields[3];
    u->szShell = fields[4];
    u->szMail = fields[5];
    u->uid = uid;
    u->gid = gid;
    u->expire = expire;
    u->privilege = privilege;
    u->type = strchr(name, '\\') != nullptr ? 2 : 1;
    u->cbAlloc = cb;
    *ppUser = u;
    return 0;
}

}  // namespace

extern "C" int VEXAUserAlloc(VEXAUSER **ppUser, const char *name, const char *passwd, int uid, int gid,
                             const char *gecos, const char *home, const char *shell, int expire, const char *mail,
                             int privilege)
{
    return vral::NoThrow(-1, [&] { return userAlloc(ppUser, name, passwd, uid, gid, gecos, home, shell, expire, mail, privilege); });
}

extern "C" void VEXAUserFree(VEXAUSER *pUser)
{
    free(pUser);
}
