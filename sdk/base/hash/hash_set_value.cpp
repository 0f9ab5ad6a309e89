#include "base/hash/hash_internal.h"

using namespace vral::hash;

extern "C" int VRALSzHashSetValue(VRALSzHash **ppMap, const char *szKey, const char *szValue)
{
    if (ppMap == nullptr || *ppMap == nullptr || szKey == nullptr || szValue == nullptr)
        return -1;
    VRALSzHash *pMap = *ppMap;
    int slot = VRALSzHashFindSlot(pMap, szKey);
    VRALSzHash *pNew = slot >= 0 && isLive(pMap, slot) ? VRALSzHashReplaceValue(pMap, szKey, szValue, &slot)
                                                        : VRALSzHashInsert(pMap, szKey, szValue, &slot);
    if (pNew == nullptr)
        return -1;
    *ppMap = pNew;
    return slot;
}
