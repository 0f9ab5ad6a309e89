#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "base/string/heap_ptr.h"
#include "base/string/vral_string.h"
#include "services/user/user_internal.h"

namespace {

struct Buf {
    char *p = nullptr;
    int cb = 0;
    ~Buf() { free(p); }
};

}  // namespace

namespace {

int userDBGet(VEXAUSERDB *db, const char *NAME, VEXAUSER **ppUser)
{
    if (db == nullptr || NAME == nullptr || ppUser == nullptr || NAME[0] == '\0') {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const int klen = static_cast<int>(strlen(NAME)) + 1;
    Buf line;
    if (vexauser::getLine(db->pPWDName, NAME, klen, &line.p, &line.cb) != 0) {
        VRAL_ERR_SET(ERR_USER_NOT_FOUND);
        return -1;
    }
    struct passwd *pw = nullptr;
    int cbPw = 0;
    if (VEXAUserDBUnpackPasswd(line.p, &pw, &cbPw) != 0)
        return -1;
    vral::HeapPtr<struct passwd> pwOwner(pw);
    if (strchr(pw->pw_name, '\\') != nullptr)
        return VEXAUserAlloc(ppUser, pw->pw_name, nullptr, static_cast<int>(pw->pw_uid),
                             static_cast<int>(pw->pw_gid), pw->pw_gecos, pw->pw_dir, pw->pw_shell, -1, nullptr, 3);

    Buf shadowLine;
    if (db->pPWDShadow == nullptr) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    if (vexauser::getLine(db->pPWDShadow, NAME, klen, &shadowLine.p, &shadowLine.cb) != 0)
        return -1;
    struct spwd *sp = nullptr;
    int cbSp = 0;
    if (VEXAUserDBUnpackShadow(shadowLine.p, &sp, &cbSp) != 0)
        return -1;
    vral::HeapPtr<struct spwd> spOwner(sp);

    int privilege = 0;
    const char *mail = nullptr;
    Buf misc;
    if (strcasecmp(NAME, "admin") == 0) {
        privilege = 31;
    } else if (vexauser::getLine(db->pPWDVexaser, NAME, klen, &misc.p, &misc.cb) == 0) {
        const char *c1 = strchr(misc.p, ':');
        if (c1 == nullptr) {
            VRAL_ERR_SET(ERR_BAD_FORMAT);
            return -1;
        }
        privilege = atoi(c1 + 1);
        const char *c2 = strchr(c1 + 1, ':');
        mail = c2 != nullptr ? c2 + 1 : nullptr;
    }
    const size_t cbGecos = strlen(pw->pw_gecos) + 1;
    vral::HeapPtr<char> gecos(static_cast<char *>(malloc(cbGecos)));
    if (!gecos) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    if (VRALStrDecodeColon(pw->pw_gecos, gecos.get(), static_cast<unsigned int>(cbGecos)) < 0)
        return -1;
    return VEXAUserAlloc(ppUser, pw->pw_name, sp->sp_pwdp, static_cast<int>(pw->pw_uid), static_cast<int>(pw->pw_gid),
                         gecos.get(), pw->pw_dir, pw->pw_shell, static_cast<int>(sp->sp_expire), mail, privilege);
}

}  // namespace

extern "C" int VEXAUserDBGet(VEXAUSERDB *db, const char *NAME, VEXAUSER **ppUser)
{
    return vral::NoThrow(-1, [&] { return userDBGet(db, NAME, ppUser); });
}
