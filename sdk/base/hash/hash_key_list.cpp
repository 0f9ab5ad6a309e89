#include "base/hash/hash_internal.h"
#include "base/list/vral_list.h"

using namespace vral::hash;

extern "C" int VRALSzHashKeyList(VRALSzHash *pMap, VRALSzList **ppList)
{
    if (pMap == nullptr)
        return -1;
    int n = 0;
    for (int i = 0; i < pMap->nSlot; ++i) {
        if (!isLive(pMap, i))
            continue;
        ++n;
        if (ppList != nullptr && VRALSzListPush(ppList, VRALSzHashSlotKey(pMap, i)) < 0)
            return -1;
    }
    return n;
}
