#include <cstdint>
#include <cstring>
#include <string>

#include "base/err/vral_err.h"
#include "base/hash/hash_internal.h"

using namespace vral::hash;

extern "C" VRALSzHash *VRALSzHashInsert(VRALSzHash *pMap, const char *szKey, const char *szValue, int *pSlot)
{
    if (pMap == nullptr || szKey == nullptr || szValue == nullptr || pSlot == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    int64_t cb = pairBytes(szKey, szValue);
    std::string keyCopy, valueCopy;
    VRALSzHash *pNew = growForStore(pMap, cb, &szKey, &szValue, keyCopy, valueCopy);
    if (pNew == nullptr)
        return nullptr;
    if (pNew != pMap || *pSlot < 0 || *pSlot >= pNew->nSlot || isLive(pNew, *pSlot))
        *pSlot = VRALSzHashFindSlot(pNew, szKey);
    if (*pSlot < 0 || isLive(pNew, *pSlot) || pNew->cbFree < cb)
        return noRoom(pMap, pNew, pSlot);
    VRALSzHashPutStrings(pNew, szKey, szValue, *pSlot);
    return pNew;
}

extern "C" VRALSzHash *VRALSzHashReplaceValue(VRALSzHash *pMap, const char *szKey, const char *szValue, int *pSlot)
{
    if (pMap == nullptr || szKey == nullptr || szValue == nullptr || pSlot == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    if (*pSlot < 0 || *pSlot >= pMap->nSlot || !isLive(pMap, *pSlot))
        *pSlot = VRALSzHashFind(pMap, szKey);
    if (*pSlot < 0) {
        VRAL_ERR_SET(ERR_NOT_FOUND);
        return nullptr;
    }
    char *szOld = VRALSzHashSlotValue(pMap, *pSlot);
    size_t cchOld = strlen(szOld);
    size_t cchNew = strlen(szValue);
    if (cchNew <= cchOld) {
        memmove(szOld, szValue, cchNew + 1);
        return pMap;
    }
    int64_t cb = static_cast<int64_t>(cchNew) + 1;
    std::string keyCopy, valueCopy;
    VRALSzHash *pNew = growForStore(pMap, cb, &szKey, &szValue, keyCopy, valueCopy);
    if (pNew == nullptr)
        return nullptr;
    if (pNew != pMap)
        *pSlot = VRALSzHashFind(pNew, szKey);
    if (*pSlot < 0 || pNew->cbFree < cb)
        return noRoom(pMap, pNew, pSlot);
    memcpy(base(pNew) + pNew->pszNext, szValue, cchNew + 1);
    pNew->slots[*pSlot].pszValue = pNew->pszNext;
    pNew->pszNext += static_cast<int32_t>(cb);
    pNew->cbFree -= static_cast<int32_t>(cb);
    return pNew;
}
