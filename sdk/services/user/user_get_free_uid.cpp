#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "services/user/user_query_internal.h"

namespace {

// The uid after the last one handed out: "#CURRENT_UID" plus 1, or without
// the marker the highest uid present plus 1.  -1 on a failed read.
long candidateUid(VEXABDB *uidDb)
{
    char *buf = nullptr;
    int cb = 0;
    if (VEXABDbGet(uidDb, USER_KEY_CURRENT_UID, USER_KEY_CURRENT_UID_LEN, &buf, &cb) == 0) {
        int v = 0;
        const bool ok = cb >= static_cast<int>(sizeof v);
        if (ok)
            memcpy(&v, buf, sizeof v);
        free(buf);
        if (!ok) {
            VRAL_ERR_SET(ERR_DB_GET_FAILED);
            return -1;
        }
        return static_cast<long>(v) + 1;
    }
    free(buf);
    if (VRALErrGet() != ERR_NOT_FOUND) {
        VRAL_ERR_SET(ERR_DB_GET_FAILED);
        return -1;
    }
    char *key = nullptr;
    int cbKey = 0;
    char *val = nullptr;
    int cbVal = 0;
    VEXABDbCursorSetType(uidDb, BDB_CURSOR_LAST);
    const int r = VEXABDbCursorGet(uidDb, 1, &key, &cbKey, &val, &cbVal);
    const long highest = r == 0 ? strtol(key, nullptr, 10) : -1;
    free(key);
    free(val);
    return r == 0 ? highest + 1 : -1;
}

}  // namespace

namespace {

int userGetFreeUid(VEXAUSERDB *db)
{
    if (db == nullptr || db->pPWDUID == nullptr)
        return -1;
    long start = candidateUid(db->pPWDUID);
    if (start < 0)
        return -1;
    if (start < USER_UID_FIRST + 1 || start > USER_UID_LAST)
        start = USER_UID_FIRST;
    long uid = start;
    char *buf = nullptr;
    int cb = 0;
    do {
        const vexauser::UidKey k = vexauser::uidKey(static_cast<int>(uid));
        if (VEXABDbGet(db->pPWDUID, k.text, sizeof k.text, &buf, &cb) != 0) {
            free(buf);
            if (VRALErrGet() == ERR_NOT_FOUND)
                return static_cast<int>(uid);
            VRAL_ERR_SET(ERR_DB_GET_FAILED);
            return -1;
        }
        uid = uid == USER_UID_LAST ? USER_UID_FIRST : uid + 1;
    } while (uid != start);
    free(buf);
    VRAL_ERR_SET(ERR_NO_FREE_UID);
    return -1;
}

}  // namespace

extern "C" int VEXAUserGetFreeUid(VEXAUSERDB *db)
{
    return vral::NoThrow(-1, [&] { return userGetFreeUid(db); });
}
