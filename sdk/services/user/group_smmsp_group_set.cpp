#include <cstdlib>
#include <vector>

#include "base/err/err_guard.h"
#include "base/list/vral_list.h"
#include "base/unicode/vral_unicode.h"
#include "services/group/vexa_group.h"
#include "services/user/user_set_internal.h"
#include "services/user/vexa_user_query.h"

namespace {

struct List {
    VRALSzList *p = PslVRALSzListAlloc(512);
    ~List() { VRALSzListFree(p); }
};

int setMembers(const char *user, const char *newUser, int op)
{
    List list;
    if (list.p == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    if (VEXAGroupListMember(SMMSP_GROUP, &list.p) != 0) {
        if (VRALErrGet() != ERR_GROUP_NOT_FOUND) {
            VRAL_LOG_ERR("VEXAGroupListMember [%s] failed. vexaerr=0x%04X", SMMSP_GROUP, VRALErrGet());
            return -1;
        }
        VRALSzListClear(list.p);
        if (VRALSzListPush(&list.p, SMMSP_GROUP) < 0)
            return -1;
    }
    if (user != nullptr) {
        for (int i = list.p->nItem - 1; i >= 0; --i) {
            if (VRALUnicodeUTF8StrCaseCmp(VRALSzListItem(list.p, i), user) != 0)
                continue;
            if (op == SMMSP_OP_RENAME && VRALSzListSet(&list.p, i, newUser) < 0)
                return -1;
            if (op == SMMSP_OP_REMOVE)
                SzVRALSzListRemove(list.p, i);
        }
    }
    if (op == SMMSP_OP_ADD && VRALSzListPush(&list.p, newUser) < 0)
        return -1;
    std::vector<char *> members;
    for (int i = 0; i < list.p->nItem; ++i)
        members.push_back(VRALSzListItem(list.p, i));
    members.push_back(nullptr);
    char name[] = SMMSP_GROUP;
    VEXAGROUP g{name, SMMSP_GID, members.data(), 1, 0};
    if (VEXAGroupSet(SMMSP_GROUP, &g) != 0) {
        VRAL_LOG_ERR("VEXAGroupSet [%s] failed. vexaerr=0x%04X", SMMSP_GROUP, VRALErrGet());
        return -1;
    }
    return 0;
}

}  // namespace

namespace {

int smmspGroupSet(const char *user, const char *newUser, int op)
{
    if ((op == SMMSP_OP_ADD && newUser == nullptr) ||
        (op == SMMSP_OP_RENAME && (user == nullptr || newUser == nullptr)) ||
        (op == SMMSP_OP_REMOVE && user == nullptr)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vral::NoThrow(-1, [&] { return setMembers(user, newUser, op); });
}

}  // namespace

extern "C" int VEXASmmspGroupSet(const char *user, const char *newUser, int op)
{
    return vral::NoThrow(-1, [&] { return smmspGroupSet(user, newUser, op); });
}
