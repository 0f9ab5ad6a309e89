#include <cstring>

#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

namespace {

int groupDBCheckExists(VEXAGROUPDB *db, const char *NAME, int len, char *buf, int cb)
{
    if (db == nullptr || db->pGRPName == nullptr || NAME == nullptr || len <= 0 || (buf == nullptr && cb != 0) ||
        cb < 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return 0;
    }
    vexagroup::Buf line;
    if (vexauser::getLine(db->pGRPName, NAME, len + 1, &line.p, &line.cb) != 0) {
        VRAL_ERR_SET(ERR_GROUP_NOT_FOUND);
        return 0;
    }
    if (buf == nullptr)
        return 1;
    const char *colon = strchr(line.p, ':');
    const size_t n = colon != nullptr ? static_cast<size_t>(colon - line.p) : 0;
    if (colon == nullptr || n >= static_cast<size_t>(cb)) {
        if (cb > 0)
            buf[0] = '\0';
        if (colon == nullptr)
            VRAL_ERR_SET(ERR_BAD_FORMAT);
        return 0;
    }
    memcpy(buf, line.p, n);
    buf[n] = '\0';
    return 1;
}

}  // namespace

extern "C" int VEXAGroupDBCheckExists(VEXAGROUPDB *db, const char *NAME, int len, char *buf, int cb)
{
    return vral::NoThrow(-1, [&] { return groupDBCheckExists(db, NAME, len, buf, cb); });
}
