#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "base/list/vral_list.h"
#include "base/string/vral_string.h"
#include "services/user/user_query_internal.h"

namespace {

// The key form of a looked-up name (492 bytes): its length, or -1 (logged).
int lookupKey(const char *name, char (&NAME)[USER_KEY_SIZE])
{
    const int len = vexauser::keyForm(name, NAME, sizeof NAME);
    if (len < 0 && name[0] == '\0') {
        // no user has the empty name
        VRAL_ERR_SET(ERR_USER_NOT_FOUND);
    } else if (len < 0) {
        VRAL_LOG_ERR("VRALUnicodeUTF8StrUpper failed, str=%s", name);
    }
    return len;
}

}  // namespace

namespace {

int userGet(const char *name, VEXAUSER **ppUser)
{
    if (name == nullptr || ppUser == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    char NAME[USER_KEY_SIZE];
    if (lookupKey(name, NAME) < 0)
        return -1;
    vexauser::SharedRead rd;
    if (rd.db() == nullptr)
        return rd.finish(-1);
    return rd.finish(VEXAUserDBGet(rd.db(), NAME, ppUser));
}

}  // namespace

extern "C" int VEXAUserGet(const char *name, VEXAUSER **ppUser)
{
    return vral::NoThrow(-1, [&] { return userGet(name, ppUser); });
}

namespace {

int userGetSmbPasswd(const char *name, char *lm, int cbLm, char *nt, int cbNt)
{
    if (name == nullptr || lm == nullptr || nt == nullptr || cbLm != 33 || cbNt != 33) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    char NAME[USER_KEY_SIZE];
    const int len = lookupKey(name, NAME);
    if (len < 0)
        return -1;
    vexauser::SharedRead rd;
    if (rd.db() == nullptr)
        return rd.finish(-1);
    char *line = nullptr;
    int cbLine = 0;
    if (vexauser::getLine(rd.db()->pPWDSMB, NAME, len + 1, &line, &cbLine) != 0) {
        free(line);
        VRAL_ERR_SET(ERR_USER_NOT_FOUND);
        return rd.finish(-1);
    }
    VRALSzList *fields = PslVRALSzListAlloc(512);
    int r = -1;
    if (fields == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
    } else if (VRALStrSep(line, ":", &fields) >= 0) {
        if (fields->nItem != 7) {
            VRAL_ERR_SET(ERR_BAD_FORMAT);
        } else {
            snprintf(lm, 33, "%.32s", VRALSzListItem(fields, 2));
            snprintf(nt, 33, "%.32s", VRALSzListItem(fields, 3));
            r = 0;
        }
    }
    VRALSzListFree(fields);
    free(line);
    return rd.finish(r);
}

}  // namespace

extern "C" int VEXAUserGetSmbPasswd(const char *name, char *lm, int cbLm, char *nt, int cbNt)
{
    return vral::NoThrow(-1, [&] { return userGetSmbPasswd(name, lm, cbLm, nt, cbNt); });
}
