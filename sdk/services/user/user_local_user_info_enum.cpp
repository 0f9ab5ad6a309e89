#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "services/user/user_query_internal.h"

extern "C" void VEXALocalUserInfoFree(VEXALOCALUSERINFO **ppHead)
{
    if (ppHead == nullptr)
        return;
    VEXALOCALUSERINFO *p = *ppHead;
    while (p != nullptr) {
        VEXALOCALUSERINFO *next = p->pNext;
        free(p);  // its name lies in the same block
        p = next;
    }
    *ppHead = nullptr;
}

namespace {

int localUserInfoEnum(VEXALOCALUSERINFO **ppHead)
{
    if (ppHead == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    *ppHead = nullptr;
    vexauser::SharedRead rd;
    if (rd.db() == nullptr)
        return rd.finish(-1);
    VEXALOCALUSERINFO *head = nullptr;
    VEXALOCALUSERINFO **tail = &head;
    int n = 0;
    int r = vexauser::walkNames(rd.db(), [&](const vexauser::NameRecord &rec) {
        if (rec.domain || vexauser::hiddenUser(rec))
            return 0;
        // one block: the node, then its name
        auto *node = static_cast<VEXALOCALUSERINFO *>(malloc(sizeof(VEXALOCALUSERINFO) + rec.nameLen + 1));
        if (node == nullptr) {
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            return -1;
        }
        node->uid = static_cast<int>(rec.uid);
        node->gid = static_cast<int>(rec.gid);
        node->szName = reinterpret_cast<char *>(node + 1);
        memcpy(node->szName, rec.name, rec.nameLen + 1);
        node->pNext = nullptr;
        *tail = node;
        tail = &node->pNext;
        ++n;
        return 0;
    });
    r = rd.finish(r == 0 ? n : -1);
    if (r < 0)
        VEXALocalUserInfoFree(&head);
    *ppHead = head;
    return r;
}

}  // namespace

extern "C" int VEXALocalUserInfoEnum(VEXALOCALUSERINFO **ppHead)
{
    return vral::NoThrow(-1, [&] { return localUserInfoEnum(ppHead); });
}
