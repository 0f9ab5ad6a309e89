#include <cstring>

#include "base/err/vral_err.h"
#include "base/hash/hash_internal.h"

using namespace vral::hash;

namespace {

bool holds(VRALSzHash *p, int slot, const char *szKey)
{
    return isLive(p, slot) && strcmp(base(p) + p->slots[slot].pszKey, szKey) == 0;
}

// Home slot of the key, or -1 (NULL arguments recorded).
int homeSlot(VRALSzHash *p, const char *szKey)
{
    if (p == nullptr || szKey == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return VRALSzHashIndex(szKey, p->nSlot);
}

}  // namespace

extern "C" int VRALSzHashFind(VRALSzHash *pMap, const char *szKey)
{
    int home = homeSlot(pMap, szKey);
    if (home < 0)
        return -1;
    if (isEmpty(pMap, home))
        return -1;
    if (holds(pMap, home, szKey))
        return home;
    for (int i = (home + 1) % pMap->nSlot; i != home; i = (i + 1) % pMap->nSlot) {
        if (isEmpty(pMap, i))
            return -1;
        if (holds(pMap, i, szKey))
            return i;
    }
    return -1;
}

extern "C" int VRALSzHashFindSlot(VRALSzHash *pMap, const char *szKey)
{
    int home = homeSlot(pMap, szKey);
    if (home < 0)
        return -1;
    if (isEmpty(pMap, home) || holds(pMap, home, szKey))
        return home;
    int firstFree = -1;
    for (int i = (home + 1) % pMap->nSlot; i != home; i = (i + 1) % pMap->nSlot) {
        if (holds(pMap, i, szKey))
            return i;
        if (!isLive(pMap, i) && firstFree < 0)
            firstFree = i;
        if (isEmpty(pMap, i))
            break;
    }
    // The home tombstone is taken only when no later slot is free: a small
    // table can be full apart from it.
    if (firstFree < 0 && !isLive(pMap, home))
        firstFree = home;
    return firstFree;
}
