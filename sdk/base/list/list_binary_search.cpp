#include <cstring>

#include "base/err/vral_err.h"
#include "base/list/list_internal.h"

using namespace vral::list;

namespace {

template <typename Cmp>
int search(VRALSzList *pList, int hi, int lo, Cmp cmp)
{
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        int r = cmp(VRALSzListItem(pList, mid));
        // A comparison that cannot be made ends the search as not found.
        if (r == -2)
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

}  // namespace

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
    if (!fCase)
        return search(pList, hi, lo, [szStr](const char *szItem) {
            int r = strcmp(szStr, szItem);
            return (r > 0) - (r < 0);
        });
    CaseOrder order(szStr);
    return search(pList, hi, lo, [&order](const char *szItem) { return order.compare(szItem); });
}
