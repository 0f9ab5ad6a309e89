#include <cstring>
#include <string>

#include "base/err/vral_err.h"
#include "base/list/list_internal.h"

using namespace vral::list;

extern "C" int VRALSzListInsert(VRALSzList **ppList, int idx, const char *szStr)
{
    if (ppList == nullptr || *ppList == nullptr || szStr == nullptr || idx < 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    VRALSzList *p = *ppList;
    int pos = idx;
    if (isByteSorted(p) || isCaseSorted(p)) {
        int r = VRALSzListBinarySearch(p, p->nItem - 1, 0, szStr, isCaseSorted(p) ? 1 : 0);
        pos = r >= 0 ? r : -r - 1;
    }

    size_t cch = strlen(szStr);
    int64_t cbPadding = pos > p->nItem ? int64_t{VRAL_SZLIST_ITEM_SIZE} * (pos - p->nItem) : 0;
    auto cost = [&](const VRALSzList *l) { return stringBytes(l, cch) + VRAL_SZLIST_ITEM_SIZE + cbPadding; };

    std::string copy;
    if (!makeRoom(ppList, &szStr, cch, copy, cost))
        return -1;
    p = *ppList;

    int64_t cbCost = cost(p);
    int32_t off = storeString(p, szStr, cch, stringBytes(p, cch));
    if (pos < p->nItem) {
        memmove(&p->pszItem[pos + 1], &p->pszItem[pos], sizeof(int32_t) * static_cast<size_t>(p->nItem - pos));
        ++p->nItem;
    } else {
        for (int i = p->nItem; i < pos; ++i)
            p->pszItem[i] = p->pszEmpty;
        p->nItem = pos + 1;
    }
    p->pszItem[pos] = off;
    p->cbFree -= static_cast<int32_t>(cbCost);
    return pos;
}

extern "C" int VRALSzListPush(VRALSzList **ppList, const char *szStr)
{
    if (ppList == nullptr || *ppList == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return VRALSzListInsert(ppList, (*ppList)->nItem, szStr);
}

extern "C" int VRALSzListUnshift(VRALSzList **ppList, const char *szStr)
{
    return VRALSzListInsert(ppList, 0, szStr);
}
