#include <cstdlib>

#include "base/err/vral_err.h"
#include "base/list/list_internal.h"

extern "C" VRALSzList *PslVRALSzListAlloc(int cbSize)
{
    int32_t cb = cbSize < VRAL_SZLIST_MIN_SIZE ? VRAL_SZLIST_MIN_SIZE : cbSize;
    // Cleared so that a stored block never carries stale heap bytes.
    auto *p = static_cast<VRALSzList *>(calloc(1, static_cast<size_t>(cb)));
    if (p == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    vral::list::initBlock(p, cb);
    return p;
}

extern "C" void VRALSzListFree(VRALSzList *pList)
{
    free(pList);
}

extern "C" VRALSzList *VRALSzListClear(VRALSzList *pList)
{
    if (pList == nullptr)
        return nullptr;
    pList->nItem = 0;
    pList->pszTop = pList->cbAlloc;
    pList->cbFree = pList->cbAlloc - VRAL_SZLIST_HEADER;
    return pList;
}
