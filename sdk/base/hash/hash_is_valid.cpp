#include <cstdint>
#include <cstring>

#include "base/hash/hash_internal.h"

using namespace vral::hash;

namespace {

// A terminated string at off, inside [lo, hi).
bool stringIn(const VRALSzHash *p, int32_t off, int64_t lo, int64_t hi)
{
    if (off < lo || off >= hi)
        return false;
    return memchr(base(p) + off, '\0', static_cast<size_t>(hi - off)) != nullptr;
}

}  // namespace

extern "C" int VRALSzHashIsValid(const VRALSzHash *pMap, int64_t cb)
{
    if (pMap == nullptr || cb < VRAL_SZHASH_HEADER)
        return 0;
    if (pMap->nSlot < 1 || pMap->cbString < 0 || VRALSzHashBlockSize(pMap) != cb)
        return 0;
    int64_t lo = areaStart(pMap);
    int64_t used = pMap->cbString - static_cast<int64_t>(pMap->cbFree);
    if (pMap->cbFree < 0 || used < 0 || pMap->pszNext != lo + used)
        return 0;
    int nLive = 0;
    for (int i = 0; i < pMap->nSlot; ++i) {
        const VRALSzHashSlot &s = pMap->slots[i];
        if (s.pszKey != 0) {
            // Live strings lie in the used part of the area.
            if (!stringIn(pMap, s.pszKey, lo, pMap->pszNext) || !stringIn(pMap, s.pszValue, lo, pMap->pszNext))
                return 0;
            ++nLive;
        } else if (s.pszValue != 0 && (s.pszValue < lo || s.pszValue >= cb)) {
            return 0;
        }
    }
    return nLive == pMap->nItem ? 1 : 0;
}
