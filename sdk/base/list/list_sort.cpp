#include <algorithm>
#include <cstdlib>

#include "base/list/list_internal.h"

namespace vral::list {

namespace {

using Cmp = int (*)(const void *, const void *);

// Merge sort: safe with a comparator that is not a strict weak order (a case
// comparison that cannot be made at all reports -2 both ways).
void mergeSort(const char **a, const char **tmp, size_t n, Cmp cmp)
{
    if (n < 2)
        return;
    size_t half = n / 2;
    mergeSort(a, tmp, half, cmp);
    mergeSort(a + half, tmp, n - half, cmp);
    std::merge(a, a + half, a + half, a + n, tmp,
               [cmp](const char *x, const char *y) { return cmp(&x, &y) < 0; });
    std::copy(tmp, tmp + n, a);
}

}  // namespace

void sortItems(VRALSzList *p)
{
    size_t n = static_cast<size_t>(p->nItem);
    if (n < 2)
        return;
    auto *ptrs = static_cast<const char **>(malloc(2 * n * sizeof(const char *)));
    if (ptrs == nullptr) {
        // Fall back to an insertion sort in place: slow but needs no memory.
        Cmp cmp = isCaseSorted(p) ? VRALSzListCaseCmp : VRALSzListCmp;
        for (size_t i = 1; i < n; ++i) {
            for (size_t j = i; j > 0; --j) {
                const char *x = VRALSzListItem(p, static_cast<int>(j - 1));
                const char *y = VRALSzListItem(p, static_cast<int>(j));
                if (cmp(&y, &x) >= 0)
                    break;
                std::swap(p->pszItem[j - 1], p->pszItem[j]);
            }
        }
        return;
    }
    for (size_t i = 0; i < n; ++i)
        ptrs[i] = VRALSzListItem(p, static_cast<int>(i));
    mergeSort(ptrs, ptrs + n, n, isCaseSorted(p) ? VRALSzListCaseCmp : VRALSzListCmp);
    const char *b = base(p);
    for (size_t i = 0; i < n; ++i)
        p->pszItem[i] = static_cast<int32_t>(ptrs[i] - b);
    free(ptrs);
}

}  // namespace vral::list
