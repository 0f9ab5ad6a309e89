#include "base/hash/hash_internal.h"

extern "C" char *SzVRALSzHashGetValue(VRALSzHash *pMap, const char *szKey)
{
    if (pMap == nullptr || szKey == nullptr)
        return nullptr;
    int slot = VRALSzHashFind(pMap, szKey);
    return slot < 0 ? nullptr : VRALSzHashSlotValue(pMap, slot);
}
