// Search shared by the byte-order and case-order finders.
#include <cstring>
#include <optional>

#include "base/list/list_internal.h"

namespace vral::list {

int findItem(VRALSzList *p, const char *szStr, bool fCase)
{
    if (fCase ? isCaseSorted(p) : isByteSorted(p)) {
        int r = VRALSzListBinarySearch(p, p->nItem - 1, 0, szStr, fCase ? 1 : 0);
        return r < 0 ? -1 : r;
    }
    std::optional<CaseOrder> order;
    if (fCase)
        order.emplace(szStr);
    // Padding items never match, not even an empty string.
    for (int i = 0; i < p->nItem; ++i) {
        if (isPadding(p, i))
            continue;
        const char *szItem = VRALSzListItem(p, i);
        if ((fCase ? order->compare(szItem) : strcmp(szItem, szStr)) == 0)
            return i;
    }
    return -1;
}

}  // namespace vral::list
