#include <sys/file.h>

#include "base/err/err_guard.h"
#include <memory>

#include "base/lock/lock_holder.h"
#include "services/group/group_internal.h"

namespace {

int readGroup(const char *NAME, int len, VEXAGROUP **ppGroup)
{
    const std::unique_ptr<VEXAGROUPDB, void (*)(VEXAGROUPDB *)> owner(VEXAGroupDBOpen(), VEXAGroupDBClose);
    VEXAGROUPDB *db = owner.get();
    if (db == nullptr) {
        vexabdb::cacheOpenFailed();
        return -1;
    }
    vexagroup::Buf line;
    int r = 0;
    if (vexauser::getLine(db->pGRPName, NAME, len + 1, &line.p, &line.cb) != 0) {
        VRAL_ERR_SET(ERR_GROUP_NOT_FOUND);
        r = -1;
    } else if (VEXAGroupDBUnpack(line.p, ppGroup) != 0) {
        VRAL_LOG_ERR("VEXAGroupDBUnpack failed. vexaerr=0x%04X", VRALErrGet());
        r = -1;
    }
    return r;
}

}  // namespace

namespace {

int groupGet(const char *name, VEXAGROUP **ppGroup)
{
    if (name == nullptr || ppGroup == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    char NAME[vexagroup::kLookupKeySize];
    const int len = vexauser::keyForm(name, NAME, sizeof NAME);
    if (len < 0) {
        VRAL_LOG_ERR("VRALUnicodeUTF8StrUpper failed, str=%s.", name);
        VRAL_ERR_SET(ERR_GROUP_NOT_FOUND);
        return -1;
    }
    // only locks taken here are released: a caller's hold stays
    vral::LockHolder lock(LOCK_ID_PW | LOCK_ID_GR | LOCK_SH | LOCK_NB, 5);
    if (!lock.held())
        return -1;
    return lock.release(readGroup(NAME, len, ppGroup));
}

}  // namespace

extern "C" int VEXAGroupGet(const char *name, VEXAGROUP **ppGroup)
{
    return vral::NoThrow(-1, [&] { return groupGet(name, ppGroup); });
}
