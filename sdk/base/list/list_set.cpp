#include <cstring>
#include <string>

#include "base/err/vral_err.h"
#include "base/list/list_internal.h"

using namespace vral::list;

extern "C" int VRALSzListSet(VRALSzList **ppList, int idx, const char *szStr)
{
    if (ppList == nullptr || *ppList == nullptr || szStr == nullptr || idx < 0 || idx >= (*ppList)->nItem) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    VRALSzList *p = *ppList;
    size_t cch = strlen(szStr);
    char *szOld = VRALSzListItem(p, idx);

    // A padding item shares the empty byte with every other padding item, so
    // it always gets bytes of its own.
    if (!isPadding(p, idx) && cch <= strlen(szOld)) {
        memmove(szOld, szStr, cch + 1);
    } else {
        auto cost = [&](const VRALSzList *l) { return stringBytes(l, cch); };
        std::string copy;
        if (!makeRoom(ppList, &szStr, cch, copy, cost))
            return -1;
        p = *ppList;
        int64_t cb = cost(p);
        p->pszItem[idx] = storeString(p, szStr, cch, cb);
        p->cbFree -= static_cast<int32_t>(cb);
    }

    // Sorting moves item offsets, never strings: the stored copy stays put
    // (the caller's szStr may have been overwritten in place).
    const char *szNew = VRALSzListItem(p, idx);
    if (isByteSorted(p)) {
        sortItems(p);
        return VRALSzListFind(p, szNew);
    }
    if (isCaseSorted(p)) {
        sortItems(p);
        return VRALSzListCaseFind(p, szNew);
    }
    return idx;
}
