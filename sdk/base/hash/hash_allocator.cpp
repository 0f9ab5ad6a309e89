#include <cstdint>
#include <cstdlib>

#include "base/err/vral_err.h"
#include "base/hash/hash_internal.h"

using namespace vral::hash;

extern "C" VRALSzHash *VRALSzHashAllocator(int nSlot, int cbString)
{
    // Offsets are 4-byte words: the whole block must stay addressable by one.
    if (nSlot < 1 || cbString < 0 || areaStart(nSlot) + cbString > INT32_MAX) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    int64_t cb = areaStart(nSlot) + cbString;
    auto *p = static_cast<VRALSzHash *>(calloc(1, static_cast<size_t>(cb)));
    if (p == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    p->cbString = cbString;
    p->cbFree = cbString;
    p->nSlot = nSlot;
    p->nItem = 0;
    p->pszNext = static_cast<int32_t>(areaStart(nSlot));
    return p;
}

extern "C" VRALSzHash *VRALSzHashAlloc(int cbSize)
{
    int cb = cbSize < VRAL_SZHASH_MIN_STRING ? VRAL_SZHASH_MIN_STRING : cbSize;
    VRALSzHash *p = VRALSzHashAllocator(VRAL_SZHASH_DEFAULT_SLOTS, cb);
    if (p == nullptr)
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
    return p;
}

extern "C" void VRALSzHashFree(VRALSzHash *pMap)
{
    free(pMap);
}

extern "C" VRALSzHash *VRALSzHashClear(VRALSzHash *pMap)
{
    if (pMap == nullptr)
        return nullptr;
    // Live slots become tombstones: their values stay set.
    for (int i = 0; i < pMap->nSlot; ++i)
        pMap->slots[i].pszKey = 0;
    pMap->nItem = 0;
    pMap->cbFree = pMap->cbString;
    pMap->pszNext = static_cast<int32_t>(areaStart(pMap));
    return pMap;
}
