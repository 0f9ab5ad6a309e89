#include <cstdint>

#include "base/list/list_internal.h"

extern "C" int VRALSzListIsValid(const VRALSzList *pList, int cb)
{
    if (pList == nullptr || cb < VRAL_SZLIST_HEADER + 1 || pList->cbAlloc != cb)
        return 0;
    const char *b = reinterpret_cast<const char *>(pList);
    if (pList->pszEmpty != cb - 1 || b[cb - 1] != '\0')
        return 0;
    if (pList->sortMode != VRAL_SZLIST_UNSORTED && pList->sortMode != VRAL_SZLIST_SORT_BYTE &&
        pList->sortMode != VRAL_SZLIST_SORT_CASE)
        return 0;
    if (pList->nItem < 0 || pList->nItem > (cb - VRAL_SZLIST_HEADER) / VRAL_SZLIST_ITEM_SIZE)
        return 0;
    int64_t tableEnd = VRAL_SZLIST_HEADER + int64_t{VRAL_SZLIST_ITEM_SIZE} * pList->nItem;
    if (pList->pszTop < tableEnd || pList->pszTop > cb)
        return 0;
    // A free count beyond the gap would let the next insert overrun.
    if (pList->cbFree < 0 || pList->cbFree > pList->pszTop - tableEnd)
        return 0;
    // Every string lies in the string area, or is the shared empty byte of a
    // padding item (which lies above it while no string is stored); the
    // last byte being 0, each one is terminated inside the block.
    for (int i = 0; i < pList->nItem; ++i) {
        int32_t off = pList->pszItem[i];
        if ((off < pList->pszTop && off != pList->pszEmpty) || off > cb - 1)
            return 0;
    }
    return 1;
}
