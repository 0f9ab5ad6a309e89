#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "services/user/user_internal.h"

namespace {

int userDBCheckExists(VEXAUSERDB *db, const char *NAME, int lenNAME, char *buf, unsigned cb)
{
    if (db == nullptr || NAME == nullptr || lenNAME <= 0 || (buf == nullptr && cb != 0)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return 0;
    }
    char *line = nullptr;
    int cbLine = 0;
    if (vexauser::getLine(db->pPWDName, NAME, lenNAME + 1, &line, &cbLine) != 0) {
        VRAL_ERR_SET(ERR_USER_NOT_FOUND);
        return 0;
    }
    int r = 1;
    if (buf != nullptr) {
        const char *colon = strchr(line, ':');
        const size_t n = colon != nullptr ? static_cast<size_t>(colon - line) : 0;
        if (colon == nullptr) {
            if (cb > 0)
                buf[0] = '\0';
            VRAL_ERR_SET(ERR_BAD_FORMAT);
            r = 0;
        } else if (n >= cb) {
            if (cb > 0)
                buf[0] = '\0';
            r = 0;
        } else {
            memcpy(buf, line, n);
            buf[n] = '\0';
        }
    }
    free(line);
    return r;
}

}  // namespace

extern "C" int VEXAUserDBCheckExists(VEXAUSERDB *db, const char *NAME, int lenNAME, char *buf, unsigned cb)
{
    return vral::NoThrow(-1, [&] { return userDBCheckExists(db, NAME, lenNAME, buf, cb); });
}
