// Consistency check of a string-list block, shared by the list tests.
#ifndef VEXA_TEST_LIST_CHECK_H
#define VEXA_TEST_LIST_CHECK_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/list/vral_list.h"

namespace listtest {

// Free bytes are exactly the gap between the item table and the strings;
// every item is a terminated string inside the string area, or the shared
// empty byte.
inline ::testing::AssertionResult consistent(const VRALSzList *p)
{
    if (p == nullptr)
        return ::testing::AssertionFailure() << "NULL list";
    if (p->cbAlloc < VRAL_SZLIST_MIN_SIZE)
        return ::testing::AssertionFailure() << "cbAlloc " << p->cbAlloc;
    int gap = p->pszTop - VRAL_SZLIST_HEADER - VRAL_SZLIST_ITEM_SIZE * p->nItem;
    if (p->cbFree != gap)
        return ::testing::AssertionFailure() << "cbFree " << p->cbFree << " but gap " << gap;
    if (gap < 0)
        return ::testing::AssertionFailure() << "item table runs into strings";
    if (p->pszEmpty != p->cbAlloc - 1)
        return ::testing::AssertionFailure() << "pszEmpty " << p->pszEmpty;
    if (p->pszTop > p->cbAlloc)
        return ::testing::AssertionFailure() << "pszTop " << p->pszTop;
    const char *b = reinterpret_cast<const char *>(p);
    if (b[p->cbAlloc - 1] != '\0')
        return ::testing::AssertionFailure() << "last byte not 0";
    for (int i = 0; i < p->nItem; ++i) {
        int off = p->pszItem[i];
        if ((off < p->pszTop && off != p->pszEmpty) || off > p->cbAlloc - 1)
            return ::testing::AssertionFailure() << "item " << i << " offset " << off;
        if (memchr(b + off, '\0', static_cast<size_t>(p->cbAlloc - off)) == nullptr)
            return ::testing::AssertionFailure() << "item " << i << " unterminated";
    }
    if (!VRALSzListIsValid(p, p->cbAlloc))
        return ::testing::AssertionFailure() << "VRALSzListIsValid refuses the block";
    return ::testing::AssertionSuccess();
}

inline std::vector<std::string> items(VRALSzList *p)
{
    std::vector<std::string> v;
    for (int i = 0; i < p->nItem; ++i)
        v.emplace_back(SzVRALSzListGet(p, i));
    return v;
}

}  // namespace listtest

#endif
