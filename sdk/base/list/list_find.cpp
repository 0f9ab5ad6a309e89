#include <cstring>

#include "base/err/vral_err.h"
#include "base/list/list_internal.h"

using namespace vral::list;

extern "C" int VRALSzListFind(VRALSzList *pList, const char *szStr)
{
    if (pList == nullptr || szStr == nullptr || isCaseSorted(pList)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (isByteSorted(pList)) {
        int r = VRALSzListBinarySearch(pList, pList->nItem - 1, 0, szStr, 0);
        return r < 0 ? -1 : r;
    }
    for (int i = 0; i < pList->nItem; ++i) {
        if (!isPadding(pList, i) && strcmp(VRALSzListItem(pList, i), szStr) == 0)
            return i;
    }
    return -1;
}
