#include "base/err/err_guard.h"
#include "services/user/user_query_internal.h"

namespace {

int userEnum(VRALSzList **ppList, int mask)
{
    constexpr int kAll = USER_KIND_LOCAL | USER_KIND_DOMAIN | USER_KIND_SHARE_DOMAIN;
    if (ppList == nullptr || *ppList == nullptr || (mask & kAll) == 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    int n = 0;
    // Before the lock: the collection comes back here for group members.
    if ((mask & USER_KIND_SHARE_DOMAIN) != 0) {
        n = VEXAUserPushDUserUsed(ppList);
        if (n < 0)
            return -1;
    }
    if ((mask & (USER_KIND_LOCAL | USER_KIND_DOMAIN)) == 0)
        return n;
    vexauser::SharedRead rd;
    if (rd.db() == nullptr)
        return rd.finish(-1);
    const int r = vexauser::walkNames(rd.db(), [&](const vexauser::NameRecord &rec) {
        const int kind = rec.domain ? USER_KIND_DOMAIN : USER_KIND_LOCAL;
        if ((mask & kind) == 0 || vexauser::hiddenUser(rec))
            return 0;
        if (VRALSzListPush(ppList, rec.name) < 0)
            return -1;
        ++n;
        return 0;
    });
    return rd.finish(r == 0 ? n : -1);
}

}  // namespace

extern "C" int VEXAUserEnum(VRALSzList **ppList, int mask)
{
    return vral::NoThrow(-1, [&] { return userEnum(ppList, mask); });
}
