#include <cstring>

#include "base/err/vral_err.h"
#include "base/list/list_internal.h"
#include "base/unicode/vral_unicode.h"

extern "C" int VRALSzListBinarySearch(VRALSzList *pList, int hi, int lo, const char *szStr, int fCase)
{
    if (pList == nullptr || szStr == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (hi == -1)
        return -1;
    // Bounds outside the item table would read past it.
    if (lo < 0 || hi >= pList->nItem) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        const char *szItem = VRALSzListItem(pList, mid);
        int r = fCase ? VRALUnicodeUTF8StrCaseCmp(szStr, szItem) : strcmp(szStr, szItem);
        if (fCase && r == -2)
            break;
        if (r < 0)
            hi = mid - 1;
        else if (r > 0)
            lo = mid + 1;
        else
            return mid;
    }
    return -lo - 1;
}
