#include <strings.h>

#include <cstdlib>

#include "base/err/err_guard.h"
#include "base/string/vral_string.h"
#include "services/group/vexa_group.h"
#include "services/user/user_query_internal.h"
#include "services/user/vexa_user_list.h"

namespace {

// The members that are users now, joined with ",": into *pBuf.  0 or -1.
int validMembers(const char *group, char **pBuf, int *pcb)
{
    VEXAGROUP *g = nullptr;
    if (VEXAGroupGet(group, &g) != 0)
        return -1;
    static const char *const kNone[] = {nullptr};
    const char **members = g->ppszMember != nullptr ? const_cast<const char **>(g->ppszMember)
                                                    : const_cast<const char **>(kNone);
    const int r = VEXAUserGetValidUserList(members, pBuf, pcb);
    VEXAGroupFree(g);
    return r;
}

}  // namespace

namespace {

int groupListMember(const char *group, VRALSzList **ppList)
{
    if (group == nullptr || ppList == nullptr || *ppList == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    VRALSzList *work = PslVRALSzListAlloc(512);
    if (work == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    int r;
    if (strcasecmp(group, "users") == 0) {
        r = VEXAUserEnum(&work, USER_KIND_LOCAL) < 0 ? -1 : 0;
    } else {
        char *joined = nullptr;
        int cb = 0;
        r = validMembers(group, &joined, &cb);
        if (r == 0 && VRALStrSep(joined != nullptr ? joined : "", ",", &work) < 0)
            r = -1;
        free(joined);
    }
    for (int i = 0; r == 0 && i < work->nItem; ++i) {
        const char *item = VRALSzListItem(work, i);
        if (item[0] != '\0' && VRALSzListPush(ppList, item) < 0)
            r = -1;
    }
    VRALSzListFree(work);
    return r;
}

}  // namespace

extern "C" int VEXAGroupListMember(const char *group, VRALSzList **ppList)
{
    return vral::NoThrow(-1, [&] { return groupListMember(group, ppList); });
}
