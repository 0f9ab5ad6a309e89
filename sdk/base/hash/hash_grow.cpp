#include <cstdint>
#include <cstring>

#include "base/err/vral_err.h"
#include "base/hash/hash_internal.h"

using namespace vral::hash;

namespace {

// Live string bytes of the map, keys and values with their terminators.
int64_t liveBytes(VRALSzHash *p)
{
    int64_t cb = 0;
    for (int i = 0; i < p->nSlot; ++i) {
        if (isLive(p, i))
            cb += pairBytes(VRALSzHashSlotKey(p, i), VRALSzHashSlotValue(p, i));
    }
    return cb;
}

}  // namespace

extern "C" void VRALSzHashPutStrings(VRALSzHash *pMap, const char *szKey, const char *szValue, int slot)
{
    if (pMap == nullptr || szKey == nullptr || szValue == nullptr || slot < 0 || slot >= pMap->nSlot) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return;
    }
    size_t cchKey = strlen(szKey);
    size_t cchValue = strlen(szValue);
    int64_t cb = static_cast<int64_t>(cchKey) + static_cast<int64_t>(cchValue) + 2;
    if (cb > pMap->cbFree) {
        VRAL_ERR_SET(ERR_BUFFER_TOO_SMALL);
        return;
    }
    char *dst = base(pMap) + pMap->pszNext;
    // memmove: either string may lie in the block already.
    memmove(dst, szKey, cchKey + 1);
    memmove(dst + cchKey + 1, szValue, cchValue + 1);
    pMap->slots[slot].pszKey = pMap->pszNext;
    pMap->slots[slot].pszValue = pMap->pszNext + static_cast<int32_t>(cchKey + 1);
    pMap->pszNext += static_cast<int32_t>(cb);
    pMap->cbFree -= static_cast<int32_t>(cb);
    ++pMap->nItem;
}

extern "C" void VRALSzHashRehash(VRALSzHash *pFrom, VRALSzHash *pTo)
{
    if (pFrom == nullptr || pTo == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return;
    }
    for (int i = 0; i < pFrom->nSlot; ++i) {
        if (!isLive(pFrom, i))
            continue;
        const char *szKey = VRALSzHashSlotKey(pFrom, i);
        int slot = VRALSzHashFindSlot(pTo, szKey);
        // A target without room leaves the pair out instead of overrunning.
        if (slot >= 0 && !isLive(pTo, slot))
            VRALSzHashPutStrings(pTo, szKey, VRALSzHashSlotValue(pFrom, i), slot);
    }
}

extern "C" VRALSzHash *VRALSzHashResize(VRALSzHash *pMap, int nSlot, int cbString)
{
    if (pMap == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    // The live pairs must fit, and a free slot must remain for the probes.
    if (nSlot <= pMap->nItem || cbString < liveBytes(pMap)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    VRALSzHash *pNew = VRALSzHashAllocator(nSlot, cbString);
    if (pNew == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    VRALSzHashRehash(pMap, pNew);
    VRALSzHashFree(pMap);
    return pNew;
}

extern "C" VRALSzHash *VRALSzHashGrow(VRALSzHash *pMap, int cbNeed)
{
    if (pMap == nullptr || cbNeed < 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    int64_t nFree = pMap->nSlot - pMap->nItem;
    int64_t nSlot = pMap->nSlot;
    bool growSlots = static_cast<float>(nFree) / static_cast<float>(pMap->nSlot) < 0.25f;
    if (growSlots) {
        nSlot = 4 * nSlot - 5;
        if (nSlot <= pMap->nSlot)   // tables of one slot
            nSlot = 4 * static_cast<int64_t>(pMap->nSlot);
    }
    int64_t cbString = pMap->cbString;
    bool growStrings = pMap->cbFree <= cbNeed;
    if (!growSlots && !growStrings)
        return pMap;
    if (growStrings) {
        int64_t per = pMap->nItem == 0
                          ? cbNeed
                          : static_cast<int64_t>(static_cast<float>(pMap->cbString) / static_cast<float>(pMap->nItem));
        cbString += per * nFree + cbNeed;
    }
    if (nSlot > INT32_MAX || cbString > INT32_MAX || areaStart(nSlot) + cbString > INT32_MAX) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    return VRALSzHashResize(pMap, static_cast<int>(nSlot), static_cast<int>(cbString));
}
