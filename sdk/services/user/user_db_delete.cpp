#include <cstdlib>
#include <cstring>

#include "base/string/heap_ptr.h"
#include "services/user/user_internal.h"
#include "services/account/vexa_account.h"

namespace vexauser {

unsigned int deleteFloor()
{
    return VEXAGuestSupportGet() ? 1025u : 1024u;
}

int removeRecords(VEXAUSERDB *db, const char *NAME, int klen, int uid, bool keepUid)
{
    // only this user's uid record: another user of the same uid keeps its own
    if (!keepUid) {
        const UidKey k = uidKey(uid);
        if (VEXABDbDeleteDup(db->pPWDUID, k.text, sizeof k.text, NAME, klen) != 0 && VRALErrGet() != ERR_NOT_FOUND)
            return -1;
    }
    for (VEXABDB *h : {db->pPWDName, db->pPWDSMB, db->pPWDVexaser, db->pPWDShadow}) {
        if (VEXABDbDelete(h, NAME, klen) != 0 && VRALErrGet() != ERR_NOT_FOUND)
            return -1;
    }
    return 0;
}

}  // namespace vexauser

namespace {

int userDBDelete(VEXAUSERDB *db, const char *NAME)
{
    if (db == nullptr || NAME == nullptr || NAME[0] == '\0' || db->pPWDSMB == nullptr || db->pPWDShadow == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const unsigned int floor = vexauser::deleteFloor();
    if (strchr(NAME, '\\') != nullptr)
        return -1;
    const int klen = static_cast<int>(strlen(NAME)) + 1;
    char *line = nullptr;
    int cb = 0;
    if (vexauser::getLine(db->pPWDName, NAME, klen, &line, &cb) != 0) {
        if (VRALErrGet() == ERR_NOT_FOUND)
            VRAL_ERR_SET(ERR_USER_NOT_FOUND);
        return -1;
    }
    vral::HeapPtr<char> lineOwner(line);
    struct passwd *pw = nullptr;
    int cbPw = 0;
    if (VEXAUserDBUnpackPasswd(line, &pw, &cbPw) != 0)
        return -1;
    const int uid = static_cast<int>(pw->pw_uid);
    free(pw);
    if (static_cast<unsigned int>(uid) <= floor) {
        VRAL_ERR_SET(ERR_USER_UNDELETABLE);
        return -1;
    }
    if (vexauser::removeRecords(db, NAME, klen, uid, false) != 0) {
        vexabdb::cacheMarkStale(vexauser::kUserSet, db);
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAUserDBDelete(VEXAUSERDB *db, const char *NAME)
{
    return vexabdb::cacheWriteGuarded(vexauser::kUserSet, db, [&] { return userDBDelete(db, NAME); });
}
