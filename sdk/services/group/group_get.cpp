#include <sys/file.h>

#include "base/lock/vral_lock.h"
#include "services/group/group_internal.h"

namespace {

int readGroup(const char *NAME, int len, VEXAGROUP **ppGroup)
{
    VEXAGROUPDB *db = VEXAGroupDBOpen();
    if (db == nullptr) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    vexagroup::Buf line;
    int r = 0;
    if (vexauser::getLine(db->pGRPName, NAME, len + 1, &line.p, &line.cb) != 0) {
        VRAL_ERR_SET(ERR_GROUP_NOT_FOUND);
        r = -1;
    } else if (VEXAGroupDBUnpack(line.p, ppGroup) != 0) {
        GROUP_LOG("VEXAGroupDBUnpack failed. vexaerr=0x%04X", VRALErrGet());
        r = -1;
    }
    VEXAGroupDBClose(db);
    return r;
}

}  // namespace

extern "C" int VEXAGroupGet(const char *name, VEXAGROUP **ppGroup)
{
    if (name == nullptr || ppGroup == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    char NAME[vexagroup::kLookupKeySize];
    const int len = vexauser::keyForm(name, NAME, sizeof NAME);
    if (len < 0) {
        GROUP_LOG("VRALUnicodeUTF8StrUpper failed, str=%s.", name);
        VRAL_ERR_SET(ERR_GROUP_NOT_FOUND);
        return -1;
    }
    // only locks taken here are released: a caller's hold stays
    if (VRALFileLock(LOCK_ID_PW | LOCK_ID_GR | LOCK_SH | LOCK_NB, 5) != 0)
        return -1;
    int r = readGroup(NAME, len, ppGroup);
    const int code = VRALErrGet();
    if (VRALFileUnlock(LOCK_ID_PW | LOCK_ID_GR) != 0) {
        VRAL_ERR_SET(ERR_UNLOCK_FAILED);
        return -1;
    }
    if (r != 0)
        VRALErrSetCode(code);
    return r;
}
