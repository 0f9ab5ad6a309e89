#include <cstdlib>
#include <cstring>

#include "base/err/vral_err.h"
#include "base/list/list_internal.h"

using namespace vral::list;

extern "C" VRALSzList *VRALSzListExpand(VRALSzList *pList)
{
    if (pList == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    if (pList->cbAlloc > INT32_MAX / 2) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    int32_t cb = 2 * pList->cbAlloc;
    auto *pNew = static_cast<VRALSzList *>(calloc(1, static_cast<size_t>(cb)));
    if (pNew == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    initBlock(pNew, cb);
    pNew->nItem = pList->nItem;
    pNew->sortMode = pList->sortMode;

    // Repack in item order; strings of removed items are left behind.
    for (int i = 0; i < pList->nItem; ++i) {
        if (isPadding(pList, i)) {
            pNew->pszItem[i] = pNew->pszEmpty;
            continue;
        }
        const char *sz = VRALSzListItem(pList, i);
        size_t cch = strlen(sz);
        pNew->pszItem[i] = storeString(pNew, sz, cch, stringBytes(pNew, cch));
    }
    pNew->cbFree = pNew->pszTop - VRAL_SZLIST_HEADER - VRAL_SZLIST_ITEM_SIZE * pNew->nItem;
    free(pList);
    return pNew;
}
