#include <cstring>

#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace {

int shareDBCheckExists(VEXASHAREDB *db, const char *NAME, int lenNAME, char *buf, int cb)
{
    if (db == nullptr || db->pShareDB == nullptr || NAME == nullptr || lenNAME <= 0 ||
        (buf == nullptr && cb != 0)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return 0;
    }
    VEXASHARE *rec = nullptr;
    if (vexashare::getStored(db->pShareDB, NAME, lenNAME + 1, &rec) != 0) {
        const int code = VRALErrGet();
        VEXAShareFree(rec);
        VRAL_ERR_SET(code == ERR_NOT_FOUND ? ERR_SHARE_NOT_FOUND : code);
        return 0;
    }
    int r = 1;
    if (buf != nullptr) {
        const size_t n = strlen(rec->szName);
        if (n >= static_cast<size_t>(cb)) {
            if (cb > 0)
                buf[0] = '\0';
            r = 0;
        } else {
            memcpy(buf, rec->szName, n + 1);
        }
    }
    VEXAShareFree(rec);
    return r;
}

}  // namespace

extern "C" int VEXAShareDBCheckExists(VEXASHAREDB *db, const char *NAME, int lenNAME, char *buf, int cb)
{
    return vral::NoThrow(-1, [&] { return shareDBCheckExists(db, NAME, lenNAME, buf, cb); });
}
