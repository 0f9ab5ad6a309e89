#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "base/err/vral_err.h"
#include "base/list/vral_list.h"
#include "list_check.h"

using listtest::consistent;
using listtest::items;
using Strings = std::vector<std::string>;

namespace {

struct ListPtr {
    VRALSzList *p;
    explicit ListPtr(int cb = 512) : p(PslVRALSzListAlloc(cb)) {}
    ~ListPtr() { VRALSzListFree(p); }
    ListPtr(const ListPtr &) = delete;
    ListPtr &operator=(const ListPtr &) = delete;
};

}  // namespace

TEST(SzList, AllocSizes)
{
    const struct {
        int ask;
        int got;
    } cases[] = {{100, 512}, {0, 512}, {-5, 512}, {512, 512}, {1000, 1000}};
    for (const auto &c : cases) {
        ListPtr l(c.ask);
        ASSERT_NE(l.p, nullptr);
        EXPECT_EQ(l.p->cbAlloc, c.got);
        EXPECT_EQ(l.p->cbFree, c.got - 24);
        EXPECT_EQ(l.p->nItem, 0);
        EXPECT_EQ(l.p->sortMode, VRAL_SZLIST_UNSORTED);
        EXPECT_TRUE(consistent(l.p));
    }
    VRALSzListFree(nullptr);
    EXPECT_EQ(VRALSzListClear(nullptr), nullptr);
}

TEST(SzList, PushCostsAndOrderUnsortedAndByteSorted)
{
    ListPtr u;
    EXPECT_EQ(VRALSzListPush(&u.p, "m"), 0);
    EXPECT_EQ(VRALSzListPush(&u.p, "a"), 1);
    EXPECT_EQ(VRALSzListPush(&u.p, "z"), 2);
    EXPECT_EQ(items(u.p), (Strings{"m", "a", "z"}));
    EXPECT_EQ(u.p->cbFree, 512 - 24 - 3 * (1 + 5));
    EXPECT_TRUE(consistent(u.p));
    // The first string ends at the block's last byte.
    EXPECT_EQ(u.p->pszItem[0], u.p->cbAlloc - 2);

    ListPtr s;
    s.p->sortMode = VRAL_SZLIST_SORT_BYTE;
    EXPECT_EQ(VRALSzListPush(&s.p, "m"), 0);
    EXPECT_EQ(VRALSzListPush(&s.p, "a"), 0);
    EXPECT_EQ(VRALSzListPush(&s.p, "z"), 2);
    EXPECT_EQ(VRALSzListInsert(&s.p, 0, "q"), 2);  // index ignored when sorted
    EXPECT_EQ(items(s.p), (Strings{"a", "m", "q", "z"}));
    EXPECT_TRUE(consistent(s.p));
}

TEST(SzList, UnshiftAndInsertInTheMiddle)
{
    ListPtr l;
    EXPECT_EQ(VRALSzListPush(&l.p, "b"), 0);
    EXPECT_EQ(VRALSzListUnshift(&l.p, "a"), 0);
    EXPECT_EQ(VRALSzListInsert(&l.p, 1, "x"), 1);
    EXPECT_EQ(VRALSzListInsert(&l.p, 3, "end"), 3);
    EXPECT_EQ(items(l.p), (Strings{"a", "x", "b", "end"}));
    EXPECT_TRUE(consistent(l.p));
}

TEST(SzList, InsertBeyondTheEndPadsWithEmptyItems)
{
    ListPtr l;
    EXPECT_EQ(VRALSzListInsert(&l.p, 5, "abc"), 5);
    EXPECT_EQ(l.p->nItem, 6);
    EXPECT_EQ(l.p->cbFree, 488 - (3 + 25));
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(SzVRALSzListGet(l.p, i), "");
        EXPECT_EQ(l.p->pszItem[i], l.p->pszEmpty);
    }
    EXPECT_STREQ(SzVRALSzListGet(l.p, 5), "abc");
    EXPECT_TRUE(consistent(l.p));

    // Padding never matches, not even an empty string...
    EXPECT_EQ(VRALSzListFind(l.p, ""), -1);
    EXPECT_EQ(VRALSzListCaseFind(l.p, ""), -1);
    // ...but an empty string pushed on purpose does.
    EXPECT_EQ(VRALSzListPush(&l.p, ""), 6);
    EXPECT_EQ(VRALSzListFind(l.p, ""), 6);
    EXPECT_EQ(VRALSzListCaseFind(l.p, ""), 6);
    EXPECT_TRUE(consistent(l.p));
}

TEST(SzList, EmptyStringStoredFirstStaysFindableAcrossGrowth)
{
    ListPtr l;
    EXPECT_EQ(VRALSzListPush(&l.p, ""), 0);
    EXPECT_NE(l.p->pszItem[0], l.p->pszEmpty);
    EXPECT_TRUE(consistent(l.p));
    EXPECT_EQ(VRALSzListFind(l.p, ""), 0);
    VRALSzList *grown = VRALSzListExpand(l.p);
    ASSERT_NE(grown, nullptr);
    l.p = grown;
    EXPECT_EQ(VRALSzListFind(l.p, ""), 0);
    EXPECT_TRUE(consistent(l.p));
}

TEST(SzList, GrowthDoublesAndMovesTheBlock)
{
    const struct {
        size_t len;
        int cb;
    } cases[] = {{400, 512}, {600, 1024}, {1100, 2048}, {5000, 8192}};
    for (const auto &c : cases) {
        ListPtr l;
        ASSERT_EQ(VRALSzListPush(&l.p, "first"), 0);
        std::string big(c.len, 'q');
        ASSERT_EQ(VRALSzListPush(&l.p, big.c_str()), 1);
        EXPECT_EQ(l.p->cbAlloc, c.cb) << c.len;
        EXPECT_EQ(items(l.p), (Strings{"first", big}));
        EXPECT_TRUE(consistent(l.p));
    }
}

TEST(SzList, RemovedBytesComeBackOnlyWithGrowth)
{
    ListPtr l;
    std::string s(100, 'r');
    ASSERT_EQ(VRALSzListPush(&l.p, s.c_str()), 0);
    int freeAfterPush = l.p->cbFree;
    char *removed = SzVRALSzListPop(l.p);
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(std::string(removed), s);  // still readable inside the block
    EXPECT_EQ(l.p->cbFree, freeAfterPush + 4);
    ASSERT_EQ(VRALSzListPush(&l.p, s.c_str()), 0);
    EXPECT_EQ(l.p->cbFree, freeAfterPush - 101);
    EXPECT_TRUE(consistent(l.p));

    VRALSzList *grown = VRALSzListExpand(l.p);
    ASSERT_NE(grown, nullptr);
    l.p = grown;
    EXPECT_EQ(l.p->cbAlloc, 1024);
    EXPECT_EQ(l.p->cbFree, 1024 - 24 - 105);
    EXPECT_EQ(items(l.p), (Strings{s}));
    EXPECT_TRUE(consistent(l.p));
}

TEST(SzList, RemoveShiftPopAndClear)
{
    ListPtr l;
    for (const char *s : {"a", "b", "c", "d", "e"})
        ASSERT_GE(VRALSzListPush(&l.p, s), 0);
    EXPECT_STREQ(SzVRALSzListShift(l.p), "a");
    EXPECT_STREQ(SzVRALSzListPop(l.p), "e");
    EXPECT_STREQ(SzVRALSzListRemove(l.p, 1), "c");
    EXPECT_EQ(items(l.p), (Strings{"b", "d"}));
    EXPECT_TRUE(consistent(l.p));

    l.p->sortMode = VRAL_SZLIST_SORT_CASE;
    EXPECT_EQ(VRALSzListClear(l.p), l.p);
    EXPECT_EQ(l.p->nItem, 0);
    EXPECT_EQ(l.p->cbFree, 488);
    EXPECT_EQ(l.p->sortMode, VRAL_SZLIST_SORT_CASE);
    EXPECT_TRUE(consistent(l.p));
    EXPECT_EQ(SzVRALSzListPop(l.p), nullptr);
    EXPECT_EQ(SzVRALSzListShift(l.p), nullptr);
}

TEST(SzList, IndexOutOfRangeIsRefused)
{
    ListPtr l;
    ASSERT_EQ(VRALSzListPush(&l.p, "a"), 0);
    ASSERT_EQ(VRALSzListPush(&l.p, "b"), 1);
    const int bad[] = {-1, 2, 3, 1 << 30, -(1 << 30)};
    for (int i : bad) {
        VRALErrSetCode(0);
        EXPECT_EQ(SzVRALSzListGet(l.p, i), nullptr) << i;
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
        VRALErrSetCode(0);
        EXPECT_EQ(SzVRALSzListRemove(l.p, i), nullptr) << i;
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
        VRALErrSetCode(0);
        EXPECT_EQ(VRALSzListSet(&l.p, i, "x"), -1) << i;
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    }
    VRALErrSetCode(0);
    EXPECT_EQ(VRALSzListInsert(&l.p, -1, "x"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    // Search bounds outside the item table.
    VRALErrSetCode(0);
    EXPECT_EQ(VRALSzListBinarySearch(l.p, 2, 0, "a", 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    VRALErrSetCode(0);
    EXPECT_EQ(VRALSzListBinarySearch(l.p, 1, -1, "a", 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(items(l.p), (Strings{"a", "b"}));
    EXPECT_TRUE(consistent(l.p));
}

TEST(SzList, HugePaddingIndexFailsWithoutDamage)
{
    ListPtr l;
    ASSERT_EQ(VRALSzListPush(&l.p, "keep"), 0);
    VRALErrSetCode(0);
    EXPECT_EQ(VRALSzListInsert(&l.p, 0x7fffffff, "x"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OUT_OF_MEMORY);
    ASSERT_NE(l.p, nullptr);
    EXPECT_EQ(items(l.p), (Strings{"keep"}));
    EXPECT_TRUE(consistent(l.p));
}

TEST(SzList, NullArgumentsAreRefused)
{
    ListPtr l;
    VRALSzList *none = nullptr;
    auto expectBad = [](bool failed) {
        EXPECT_TRUE(failed);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
        VRALErrSetCode(0);
    };
    expectBad(VRALSzListInsert(nullptr, 0, "a") == -1);
    expectBad(VRALSzListInsert(&none, 0, "a") == -1);
    expectBad(VRALSzListInsert(&l.p, 0, nullptr) == -1);
    expectBad(VRALSzListPush(&none, "a") == -1);
    expectBad(VRALSzListPush(&l.p, nullptr) == -1);
    expectBad(VRALSzListUnshift(&none, "a") == -1);
    expectBad(VRALSzListSet(&none, 0, "a") == -1);
    expectBad(SzVRALSzListGet(nullptr, 0) == nullptr);
    expectBad(SzVRALSzListRemove(nullptr, 0) == nullptr);
    expectBad(SzVRALSzListShift(nullptr) == nullptr);
    expectBad(SzVRALSzListPop(nullptr) == nullptr);
    expectBad(VRALSzListFind(nullptr, "a") == -1);
    expectBad(VRALSzListFind(l.p, nullptr) == -1);
    expectBad(VRALSzListCaseFind(nullptr, "a") == -1);
    expectBad(VRALSzListBinarySearch(nullptr, 0, 0, "a", 0) == -1);
    expectBad(VRALSzListExpand(nullptr) == nullptr);
}

TEST(SzList, FindInTheWrongOrderIsRefused)
{
    ListPtr c;
    c.p->sortMode = VRAL_SZLIST_SORT_CASE;
    ASSERT_EQ(VRALSzListPush(&c.p, "a"), 0);
    VRALErrSetCode(0);
    EXPECT_EQ(VRALSzListFind(c.p, "a"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALSzListCaseFind(c.p, "A"), 0);

    ListPtr b;
    b.p->sortMode = VRAL_SZLIST_SORT_BYTE;
    ASSERT_EQ(VRALSzListPush(&b.p, "a"), 0);
    VRALErrSetCode(0);
    EXPECT_EQ(VRALSzListCaseFind(b.p, "a"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALSzListFind(b.p, "a"), 0);

    // Not found is no failure.
    VRALErrSetCode(0);
    EXPECT_EQ(VRALSzListFind(b.p, "zz"), -1);
    EXPECT_EQ(VRALErrGet(), 0);
}

TEST(SzList, CaseOrderedListPlacesEqualNamesInFront)
{
    ListPtr l;
    l.p->sortMode = VRAL_SZLIST_SORT_CASE;
    EXPECT_EQ(VRALSzListPush(&l.p, "bob"), 0);
    EXPECT_EQ(VRALSzListPush(&l.p, "alice"), 0);
    EXPECT_EQ(VRALSzListPush(&l.p, "Carol"), 2);
    EXPECT_EQ(VRALSzListPush(&l.p, "ALICE"), 0);
    EXPECT_EQ(items(l.p), (Strings{"ALICE", "alice", "bob", "Carol"}));
    EXPECT_GE(VRALSzListCaseFind(l.p, "Alice"), 0);
    EXPECT_LE(VRALSzListCaseFind(l.p, "Alice"), 1);
    EXPECT_EQ(VRALSzListCaseFind(l.p, "BOB"), 2);
    EXPECT_EQ(VRALSzListCaseFind(l.p, "dave"), -1);
    EXPECT_TRUE(consistent(l.p));
}

// Strings that are not valid UTF-8 stand after all others in case order,
// in byte order among themselves, so that searching finds what inserting
// placed.
TEST(SzList, CaseOrderedListWithInvalidUTF8StaysSearchable)
{
    ListPtr l;
    l.p->sortMode = VRAL_SZLIST_SORT_CASE;
    for (const char *s : {"a", "\xFF", "b", "\xC3", "c", "\xC3(", "B"})
        ASSERT_GE(VRALSzListPush(&l.p, s), 0) << s;
    EXPECT_EQ(items(l.p), (Strings{"a", "B", "b", "c", "\xC3", "\xC3(", "\xFF"}));
    EXPECT_EQ(VRALSzListCaseFind(l.p, "a"), 0);
    EXPECT_EQ(VRALSzListCaseFind(l.p, "C"), 3);
    EXPECT_EQ(VRALSzListCaseFind(l.p, "\xFF"), 6);
    EXPECT_EQ(VRALSzListCaseFind(l.p, "\xC3("), 5);
    EXPECT_EQ(VRALSzListCaseFind(l.p, "\xFE"), -1);
    EXPECT_EQ(VRALSzListCaseFind(l.p, "d"), -1);

    // Setting re-sorts to the same order, and the index returned holds it.
    EXPECT_EQ(VRALSzListSet(&l.p, 0, "\xFE"), 5);
    EXPECT_EQ(VRALSzListSet(&l.p, 6, "A"), 0);
    EXPECT_EQ(items(l.p), (Strings{"A", "B", "b", "c", "\xC3", "\xC3(", "\xFE"}));

    // An unsorted list finds the same items by scanning.
    ListPtr u;
    for (const char *s : {"\xFF", "x", "\xC3"})
        ASSERT_GE(VRALSzListPush(&u.p, s), 0);
    EXPECT_EQ(VRALSzListCaseFind(u.p, "X"), 1);
    EXPECT_EQ(VRALSzListCaseFind(u.p, "\xC3"), 2);
    EXPECT_EQ(VRALSzListCaseFind(u.p, "\xFE"), -1);

    const char *v[] = {"\xFF", "b", "\xC3", "A"};
    qsort(v, 4, sizeof(v[0]), VRALSzListCaseCmp);
    EXPECT_STREQ(v[0], "A");
    EXPECT_STREQ(v[1], "b");
    EXPECT_STREQ(v[2], "\xC3");
    EXPECT_STREQ(v[3], "\xFF");
}

TEST(SzList, SetInPlaceOrWithNewBytesAndResort)
{
    ListPtr l;
    for (const char *s : {"one", "two", "three"})
        ASSERT_GE(VRALSzListPush(&l.p, s), 0);
    int freeBefore = l.p->cbFree;
    EXPECT_EQ(VRALSzListSet(&l.p, 0, "ONE"), 0);  // same length: in place
    EXPECT_EQ(l.p->cbFree, freeBefore);
    EXPECT_EQ(VRALSzListSet(&l.p, 1, "t"), 1);    // shorter: in place
    EXPECT_EQ(l.p->cbFree, freeBefore);
    EXPECT_EQ(VRALSzListSet(&l.p, 2, "thirty-three"), 2);
    EXPECT_EQ(l.p->cbFree, freeBefore - 13);
    EXPECT_EQ(items(l.p), (Strings{"ONE", "t", "thirty-three"}));
    EXPECT_TRUE(consistent(l.p));

    ListPtr s;
    s.p->sortMode = VRAL_SZLIST_SORT_BYTE;
    for (const char *x : {"b", "c", "d"})
        ASSERT_GE(VRALSzListPush(&s.p, x), 0);
    EXPECT_EQ(VRALSzListSet(&s.p, 2, "a"), 0);
    EXPECT_EQ(items(s.p), (Strings{"a", "b", "c"}));
    EXPECT_EQ(VRALSzListSet(&s.p, 0, "zzz"), 2);
    EXPECT_EQ(items(s.p), (Strings{"b", "c", "zzz"}));
    EXPECT_TRUE(consistent(s.p));

    ListPtr c;
    c.p->sortMode = VRAL_SZLIST_SORT_CASE;
    for (const char *x : {"Bb", "cc", "DD"})
        ASSERT_GE(VRALSzListPush(&c.p, x), 0);
    EXPECT_EQ(VRALSzListSet(&c.p, 2, "aA"), 0);
    EXPECT_EQ(items(c.p), (Strings{"aA", "Bb", "cc"}));
    EXPECT_TRUE(consistent(c.p));
}

TEST(SzList, SetPaddingItemGetsItsOwnBytes)
{
    ListPtr l;
    ASSERT_EQ(VRALSzListInsert(&l.p, 2, "x"), 2);
    EXPECT_EQ(VRALSzListSet(&l.p, 0, ""), 0);
    EXPECT_NE(l.p->pszItem[0], l.p->pszEmpty);
    EXPECT_EQ(VRALSzListFind(l.p, ""), 0);
    EXPECT_EQ(VRALSzListSet(&l.p, 1, "pad"), 1);
    EXPECT_EQ(items(l.p), (Strings{"", "pad", "x"}));
    EXPECT_TRUE(consistent(l.p));
}

TEST(SzList, StringFromTheSameListSurvivesGrowth)
{
    ListPtr l;
    std::string big(250, 'b');
    ASSERT_EQ(VRALSzListPush(&l.p, big.c_str()), 0);
    ASSERT_EQ(VRALSzListPush(&l.p, "small"), 1);
    // The copy of item 0 does not fit: the block grows and moves meanwhile.
    ASSERT_LT(l.p->cbFree, 255);
    ASSERT_EQ(VRALSzListPush(&l.p, SzVRALSzListGet(l.p, 0)), 2);
    EXPECT_EQ(l.p->cbAlloc, 1024);
    ASSERT_EQ(VRALSzListPush(&l.p, SzVRALSzListGet(l.p, 0)), 3);
    EXPECT_EQ(items(l.p), (Strings{big, "small", big, big}));
    EXPECT_TRUE(consistent(l.p));

    // Same for a set that needs new bytes.
    ListPtr s;
    std::string mid(150, 'm');
    for (int i = 0; i < 3; ++i)
        ASSERT_GE(VRALSzListPush(&s.p, mid.c_str()), 0);
    ASSERT_EQ(VRALSzListPush(&s.p, "x"), 3);
    ASSERT_LT(s.p->cbFree, 151);
    ASSERT_EQ(VRALSzListSet(&s.p, 3, SzVRALSzListGet(s.p, 0)), 3);
    EXPECT_EQ(s.p->cbAlloc, 1024);
    EXPECT_EQ(items(s.p), (Strings{mid, mid, mid, mid}));
    EXPECT_TRUE(consistent(s.p));
}

TEST(SzList, SetSortedFromOwnSuffixFindsTheNewString)
{
    ListPtr s;
    s.p->sortMode = VRAL_SZLIST_SORT_BYTE;
    ASSERT_GE(VRALSzListPush(&s.p, "abcdef"), 0);
    ASSERT_GE(VRALSzListPush(&s.p, "m"), 0);
    // "def" is overwritten by its own copy in place.
    EXPECT_EQ(VRALSzListSet(&s.p, 0, SzVRALSzListGet(s.p, 0) + 3), 0);
    EXPECT_EQ(items(s.p), (Strings{"def", "m"}));
}

TEST(SzList, BlockIsPositionIndependent)
{
    ListPtr l;
    ASSERT_GE(VRALSzListInsert(&l.p, 2, "two"), 0);
    ASSERT_GE(VRALSzListPush(&l.p, "three"), 0);
    auto *copy = static_cast<VRALSzList *>(malloc(static_cast<size_t>(l.p->cbAlloc)));
    ASSERT_NE(copy, nullptr);
    memcpy(copy, l.p, static_cast<size_t>(l.p->cbAlloc));
    memset(l.p, 0x5a, static_cast<size_t>(l.p->cbAlloc));
    EXPECT_TRUE(consistent(copy));
    EXPECT_EQ(items(copy), (Strings{"", "", "two", "three"}));
    EXPECT_EQ(VRALSzListFind(copy, "three"), 3);
    VRALSzListFree(l.p);
    l.p = copy;
}

TEST(SzList, ComparatorsSortStringPointers)
{
    const char *v[] = {"b", "C", "a"};
    qsort(v, 3, sizeof(v[0]), VRALSzListCmp);
    EXPECT_STREQ(v[0], "C");
    EXPECT_STREQ(v[1], "a");
    EXPECT_STREQ(v[2], "b");
    qsort(v, 3, sizeof(v[0]), VRALSzListCaseCmp);
    EXPECT_STREQ(v[0], "a");
    EXPECT_STREQ(v[1], "b");
    EXPECT_STREQ(v[2], "C");
}

TEST(SzList, ValidityOfABlockReadBack)
{
    ListPtr l;
    ASSERT_GE(VRALSzListInsert(&l.p, 1, "one"), 0);
    ASSERT_GE(VRALSzListPush(&l.p, "two"), 0);
    const int cb = l.p->cbAlloc;
    EXPECT_EQ(VRALSzListIsValid(l.p, cb), 1);
    EXPECT_EQ(VRALSzListIsValid(l.p, cb - 1), 0);
    EXPECT_EQ(VRALSzListIsValid(nullptr, cb), 0);

    std::vector<char> saved(reinterpret_cast<char *>(l.p), reinterpret_cast<char *>(l.p) + cb);
    auto restore = [&] { memcpy(l.p, saved.data(), saved.size()); };
    char *raw = reinterpret_cast<char *>(l.p);
    const std::vector<std::pair<const char *, std::function<void()>>> damage = {
        {"item offset past the end", [&] { l.p->pszItem[1] = cb; }},
        {"item offset in the item table", [&] { l.p->pszItem[0] = 8; }},
        {"negative item count", [&] { l.p->nItem = -1; }},
        {"item count past the strings", [&] { l.p->nItem = 100; }},
        {"free count beyond the gap", [&] { l.p->cbFree += 1; }},
        {"negative free count", [&] { l.p->cbFree = -4; }},
        {"top below the item table", [&] { l.p->pszTop = 20; }},
        {"top beyond the block", [&] { l.p->pszTop = cb + 1; }},
        {"empty item moved", [&] { l.p->pszEmpty = cb - 2; }},
        {"last byte not 0", [&] { raw[cb - 1] = 'x'; }},
        {"unknown sort mode", [&] { l.p->sortMode = 3; }},
        {"size word differs", [&] { l.p->cbAlloc = cb * 2; }},
    };
    for (const auto &d : damage) {
        restore();
        d.second();
        EXPECT_EQ(VRALSzListIsValid(l.p, cb), 0) << d.first;
    }
    restore();
    EXPECT_EQ(VRALSzListIsValid(l.p, cb), 1);
}

// Padding items point at the block's last byte, which lies above the string
// area once growth has left no string to copy.
TEST(SzList, ValidityOfAListOfPaddingOnly)
{
    ListPtr l;
    ASSERT_EQ(VRALSzListInsert(&l.p, 3, "x"), 3);
    ASSERT_NE(SzVRALSzListPop(l.p), nullptr);
    EXPECT_EQ(VRALSzListIsValid(l.p, l.p->cbAlloc), 1);
    VRALSzList *grown = VRALSzListExpand(l.p);
    ASSERT_NE(grown, nullptr);
    l.p = grown;
    EXPECT_EQ(l.p->pszTop, l.p->cbAlloc);
    EXPECT_EQ(l.p->nItem, 3);
    EXPECT_EQ(VRALSzListIsValid(l.p, l.p->cbAlloc), 1);
    EXPECT_TRUE(consistent(l.p));

    // An item elsewhere above the strings is still refused.
    l.p->pszItem[1] = l.p->cbAlloc - 2;
    EXPECT_EQ(VRALSzListIsValid(l.p, l.p->cbAlloc), 0);
}
