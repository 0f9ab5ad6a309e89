// Block arithmetic shared by the string-list operations.
#ifndef VRAL_LIST_INTERNAL_H
#define VRAL_LIST_INTERNAL_H

#include <cstdint>
#include <cstring>

#include "base/list/vral_list.h"

namespace vral::list {

inline char *base(VRALSzList *p)
{
    return reinterpret_cast<char *>(p);
}

inline bool isPadding(const VRALSzList *p, int i)
{
    return p->pszItem[i] == p->pszEmpty;
}

inline bool isInside(VRALSzList *p, const char *sz)
{
    const char *b = base(p);
    return sz >= b && sz < b + p->cbAlloc;
}

inline bool isCaseSorted(const VRALSzList *p)
{
    return p->sortMode == VRAL_SZLIST_SORT_CASE;
}

inline bool isByteSorted(const VRALSzList *p)
{
    return p->sortMode == VRAL_SZLIST_SORT_BYTE;
}

// String-area bytes for a string of cch characters.  An empty string stored
// first would land on the shared empty byte and pass for padding from then
// on, so it takes one byte more.
inline int64_t stringBytes(const VRALSzList *p, size_t cch)
{
    int64_t cb = static_cast<int64_t>(cch) + 1;
    if (cch == 0 && p->pszTop == p->cbAlloc)
        ++cb;
    return cb;
}

// Stores the string below pszTop and returns its offset; the caller has made
// room and accounts cbFree.
inline int32_t storeString(VRALSzList *p, const char *sz, size_t cch, int64_t cbString)
{
    p->pszTop -= static_cast<int32_t>(cbString);
    memcpy(base(p) + p->pszTop, sz, cch + 1);
    return p->pszTop;
}

// Grows *ppList until cost(list) free bytes are there.  The list stays
// valid (possibly moved) when growth fails.
template <typename Cost>
bool growFor(VRALSzList **ppList, Cost cost)
{
    while (static_cast<int64_t>((*ppList)->cbFree) < cost(*ppList)) {
        VRALSzList *pNew = VRALSzListExpand(*ppList);
        if (pNew == nullptr)
            return false;
        *ppList = pNew;
    }
    return true;
}

// Re-sorts the item table in the list's order.
void sortItems(VRALSzList *p);

}  // namespace vral::list

#endif
