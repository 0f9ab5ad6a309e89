#include "base/hash/hash_internal.h"

extern "C" char *SzVRALSzHashRemove(VRALSzHash *pMap, const char *szKey)
{
    if (pMap == nullptr || szKey == nullptr)
        return nullptr;
    int slot = VRALSzHashFind(pMap, szKey);
    if (slot < 0)
        return nullptr;
    // The value stays set: the slot becomes a tombstone for later probes.
    pMap->slots[slot].pszKey = 0;
    --pMap->nItem;
    return VRALSzHashSlotValue(pMap, slot);
}
