#include <cstring>

#include "base/err/vral_err.h"
#include "base/list/list_internal.h"

// Only the item's 4 bytes come back; its string stays in the block until
// growth repacks it, so the returned pointer stays valid until then.
extern "C" char *SzVRALSzListRemove(VRALSzList *pList, int idx)
{
    if (pList == nullptr || idx < 0 || idx >= pList->nItem) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    char *sz = VRALSzListItem(pList, idx);
    memmove(&pList->pszItem[idx], &pList->pszItem[idx + 1],
            sizeof(int32_t) * static_cast<size_t>(pList->nItem - idx - 1));
    --pList->nItem;
    pList->cbFree += VRAL_SZLIST_ITEM_SIZE;
    return sz;
}

extern "C" char *SzVRALSzListShift(VRALSzList *pList)
{
    return SzVRALSzListRemove(pList, 0);
}

extern "C" char *SzVRALSzListPop(VRALSzList *pList)
{
    if (pList == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    return SzVRALSzListRemove(pList, pList->nItem - 1);
}
