#include <cerrno>
#include <syslog.h>

#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace {

int shareDBEnumInternal(VEXASHAREDB *db, VRALSzList **ppList, VEXAShareEnumOps *ops, void *arg,
                                       int flags)
{
    if (db == nullptr || ppList == nullptr || ops == nullptr || ops->filter == nullptr ||
        (ops->begin == nullptr) != (ops->end == nullptr)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    int r = 0;
    if (ops->begin != nullptr && ops->begin(ops, arg) != 0) {
        r = -1;
    } else {
        VEXASHARE *share = nullptr;
        while (r >= 0 && VEXAShareDBCursorGet(db, &share) == 0) {
            if (ops->filter(ops, share, flags) != 0)
                continue;
            if (VRALSzListPush(ppList, share->szName) < 0) {
                syslog(LOG_WARNING, "%s:%d VRALSzListPush error. errno=%d/%m", __FILE_NAME__, __LINE__, errno);
                r = -1;
            } else {
                ++r;
            }
        }
        // a walk cut short by a bad record is no list of the shares
        if (r >= 0 && VRALErrGet() != ERR_END_OF_RECORDS)
            r = -1;
        VEXAShareFree(share);
    }
    if (ops->end != nullptr)
        ops->end(ops);
    return r;
}

}  // namespace

extern "C" int VEXAShareDBEnumInternal(VEXASHAREDB *db, VRALSzList **ppList, VEXAShareEnumOps *ops, void *arg,
                                       int flags)
{
    return vral::NoThrow(-1, [&] { return shareDBEnumInternal(db, ppList, ops, arg, flags); });
}
