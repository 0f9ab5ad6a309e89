// Block arithmetic shared by the string-list operations.
#ifndef VRAL_LIST_INTERNAL_H
#define VRAL_LIST_INTERNAL_H

#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "base/err/vral_err.h"
#include "base/list/vral_list.h"
#include "base/unicode/unicode_scratch.h"

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

// Header of an empty block of cb bytes (already cleared): no items, all of
// it free, and the shared empty byte that padding items point at.
inline void initBlock(VRALSzList *p, int32_t cb)
{
    p->cbAlloc = cb;
    p->nItem = 0;
    p->cbFree = cb - VRAL_SZLIST_HEADER;
    p->sortMode = VRAL_SZLIST_UNSORTED;
    p->pszTop = cb;
    p->pszEmpty = cb - 1;
    base(p)[cb - 1] = '\0';
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

// Makes room for cost(list) bytes to store the string *pszStr of cch
// characters.  A string inside this very list would move with the block, so
// it is copied into copy first and *pszStr points there.  False with
// ERR_OUT_OF_MEMORY when no block can hold it (the list stays valid,
// possibly moved).
template <typename Cost>
bool makeRoom(VRALSzList **ppList, const char **pszStr, size_t cch, std::string &copy, Cost cost)
{
    VRALSzList *p = *ppList;
    // No block of int size could ever hold it: fail before growing.
    if (cost(p) > INT32_MAX - VRAL_SZLIST_HEADER) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return false;
    }
    if (p->cbFree < cost(p) && isInside(p, *pszStr)) {
        try {
            copy.assign(*pszStr, cch);
        } catch (const std::bad_alloc &) {
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            return false;
        }
        *pszStr = copy.c_str();
    }
    if (!growFor(ppList, cost)) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return false;
    }
    return true;
}

// The list's case order, for one string compared with many (its upper-cased
// form is made once): the order of VRALUnicodeUTF8StrCaseCmp among valid
// UTF-8 strings, and after all of them the strings that it refuses, in byte
// order among themselves.  Being a total order, it lets sorting, inserting
// and searching agree on where such a string stands.
class CaseOrder {
public:
    explicit CaseOrder(const char *sz);
    CaseOrder(const CaseOrder &) = delete;
    CaseOrder &operator=(const CaseOrder &) = delete;

    // -1, 0 or 1 as the string sorts before, with or after szItem; -2 when
    // no comparison can be made (no collator, no memory).
    int compare(const char *szItem);

private:
    const char *sz_;
    UCollator *pColl_;
    vral::unicode::UpperText key_;
    vral::unicode::UpperText item_;
    bool fValid_ = false;
};

// Index of an item equal to szStr (strcmp, or the case order with fCase),
// by binary search in a list sorted that way, else by a scan that passes
// over padding items; -1 when none.
int findItem(VRALSzList *p, const char *szStr, bool fCase);

// Re-sorts the item table in the list's order.
void sortItems(VRALSzList *p);

}  // namespace vral::list

#endif
