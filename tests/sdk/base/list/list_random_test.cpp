// Randomized tables: sorted inserts and searches against std::sort, and a
// mixed sequence of operations against a vector model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/list/vral_list.h"
#include "base/unicode/vral_unicode.h"
#include "list_check.h"

using listtest::consistent;
using listtest::items;
using Strings = std::vector<std::string>;

namespace {

std::string randomName(std::mt19937 &rng, size_t maxLen)
{
    static const char *pieces[] = {"a", "b", "c", "A", "B", "C", "x", "Z", "0", "9", "_", " ",
                                   "\xC3\xA9", "\xC3\x89", "\xC3\x9F", "\xE6\x97\xA5"};
    std::string s;
    size_t len = rng() % (maxLen + 1);
    for (size_t i = 0; i < len; ++i)
        s += pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))];
    return s;
}

bool caseLess(const std::string &a, const std::string &b)
{
    return VRALUnicodeUTF8StrCaseCmp(a.c_str(), b.c_str()) < 0;
}

}  // namespace

TEST(SzListRandom, ByteOrderMatchesStdSortAndSearch)
{
    std::mt19937 rng(42);
    for (int round = 0; round < 20; ++round) {
        VRALSzList *p = PslVRALSzListAlloc(512);
        ASSERT_NE(p, nullptr);
        p->sortMode = VRAL_SZLIST_SORT_BYTE;
        Strings model;
        int n = static_cast<int>(rng() % 200);
        for (int i = 0; i < n; ++i) {
            std::string s = randomName(rng, 6);
            int at = VRALSzListPush(&p, s.c_str());
            ASSERT_GE(at, 0);
            // In front of the equal item found, so within the run of equals.
            EXPECT_GE(at, std::lower_bound(model.begin(), model.end(), s) - model.begin());
            EXPECT_LE(at, std::upper_bound(model.begin(), model.end(), s) - model.begin());
            model.insert(model.begin() + at, s);
        }
        Strings sorted = model;
        std::sort(sorted.begin(), sorted.end());
        ASSERT_EQ(items(p), sorted);
        ASSERT_TRUE(consistent(p));
        for (int q = 0; q < 100; ++q) {
            std::string s = randomName(rng, 6);
            int r = VRALSzListBinarySearch(p, p->nItem - 1, 0, s.c_str(), 0);
            bool present = std::binary_search(sorted.begin(), sorted.end(), s);
            if (present) {
                ASSERT_GE(r, 0);
                EXPECT_EQ(sorted[static_cast<size_t>(r)], s);
                EXPECT_EQ(VRALSzListFind(p, s.c_str()) >= 0, true);
            } else {
                ASSERT_LT(r, 0);
                EXPECT_EQ(-r - 1, std::lower_bound(sorted.begin(), sorted.end(), s) - sorted.begin());
                EXPECT_EQ(VRALSzListFind(p, s.c_str()), -1);
            }
        }
        VRALSzListFree(p);
    }
}

TEST(SzListRandom, CaseOrderMatchesStdSortAndSearch)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 8; ++round) {
        VRALSzList *p = PslVRALSzListAlloc(512);
        ASSERT_NE(p, nullptr);
        p->sortMode = VRAL_SZLIST_SORT_CASE;
        Strings all;
        int n = static_cast<int>(rng() % 120);
        for (int i = 0; i < n; ++i) {
            std::string s = randomName(rng, 5);
            ASSERT_GE(VRALSzListPush(&p, s.c_str()), 0);
            all.push_back(s);
        }
        Strings got = items(p);
        ASSERT_TRUE(consistent(p));
        // Same strings, in an order std::sort agrees with (equal keys may
        // stand in any order among themselves).
        Strings a = got, b = all;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        ASSERT_EQ(a, b);
        EXPECT_TRUE(std::is_sorted(got.begin(), got.end(), caseLess));
        Strings expect = all;
        std::stable_sort(expect.begin(), expect.end(), caseLess);
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(VRALUnicodeUTF8StrCaseCmp(got[i].c_str(), expect[i].c_str()), 0) << i;

        for (int q = 0; q < 60; ++q) {
            std::string s = randomName(rng, 5);
            int r = VRALSzListBinarySearch(p, p->nItem - 1, 0, s.c_str(), 1);
            auto lb = std::lower_bound(got.begin(), got.end(), s, caseLess);
            bool present = lb != got.end() && !caseLess(s, *lb);
            if (present) {
                ASSERT_GE(r, 0);
                EXPECT_EQ(VRALUnicodeUTF8StrCaseCmp(got[static_cast<size_t>(r)].c_str(), s.c_str()), 0);
                EXPECT_GE(VRALSzListCaseFind(p, s.c_str()), 0);
            } else {
                ASSERT_LT(r, 0);
                EXPECT_EQ(-r - 1, lb - got.begin());
                EXPECT_EQ(VRALSzListCaseFind(p, s.c_str()), -1);
            }
        }
        VRALSzListFree(p);
    }
}

// With strings that are not valid UTF-8 among them: those stand after all
// valid ones, in byte order among themselves, and every string pushed is
// found again.
TEST(SzListRandom, CaseOrderWithInvalidUTF8KeepsEveryItemFindable)
{
    auto valid = [](const std::string &s) { return VRALUnicodeUTF8StrCaseCmp(s.c_str(), "") != -2; };
    auto order = [&](const std::string &a, const std::string &b) {
        if (valid(a) && valid(b))
            return VRALUnicodeUTF8StrCaseCmp(a.c_str(), b.c_str());
        if (valid(a) != valid(b))
            return valid(a) ? -1 : 1;
        return a.compare(b) < 0 ? -1 : a == b ? 0 : 1;
    };
    // Names pushed in random order, one in four with a stray byte.
    Strings all;
    std::mt19937 rng(11);
    for (int i = 0; i < 300; ++i) {
        std::string s = randomName(rng, 4);
        if (rng() % 4 == 0)
            s.insert(rng() % (s.size() + 1), rng() % 2 ? "\xFF" : "\xC3");
        all.push_back(s);
    }
    VRALSzList *p = PslVRALSzListAlloc(512);
    ASSERT_NE(p, nullptr);
    p->sortMode = VRAL_SZLIST_SORT_CASE;
    for (const auto &s : all)
        ASSERT_GE(VRALSzListPush(&p, s.c_str()), 0);
    Strings got = items(p);
    for (size_t i = 1; i < got.size(); ++i)
        ASSERT_LE(order(got[i - 1], got[i]), 0) << i;
    for (const auto &s : all) {
        int r = VRALSzListCaseFind(p, s.c_str());
        ASSERT_GE(r, 0) << s;
        EXPECT_EQ(order(got[static_cast<size_t>(r)], s), 0) << s;
    }
    ASSERT_TRUE(consistent(p));
    VRALSzListFree(p);
}

TEST(SzListRandom, MixedOperationsKeepTheBlockConsistent)
{
    std::mt19937 rng(99);
    VRALSzList *p = PslVRALSzListAlloc(512);
    ASSERT_NE(p, nullptr);
    Strings model;
    int grew = 0;
    for (int step = 0; step < 3000; ++step) {
        int op = static_cast<int>(rng() % 100);
        int cbBefore = p->cbAlloc;
        std::string s = randomName(rng, 40);
        if (op < 40) {
            ASSERT_EQ(VRALSzListPush(&p, s.c_str()), static_cast<int>(model.size()));
            model.push_back(s);
        } else if (op < 55) {
            int at = static_cast<int>(rng() % (model.size() + 3));
            ASSERT_EQ(VRALSzListInsert(&p, at, s.c_str()), at);
            if (static_cast<size_t>(at) > model.size())
                model.resize(static_cast<size_t>(at));
            model.insert(model.begin() + at, s);
        } else if (op < 75 && !model.empty()) {
            int at = static_cast<int>(rng() % model.size());
            char *r = SzVRALSzListRemove(p, at);
            ASSERT_NE(r, nullptr);
            EXPECT_EQ(std::string(r), model[static_cast<size_t>(at)]);
            model.erase(model.begin() + at);
        } else if (op < 95 && !model.empty()) {
            int at = static_cast<int>(rng() % model.size());
            ASSERT_EQ(VRALSzListSet(&p, at, s.c_str()), at);
            model[static_cast<size_t>(at)] = s;
        } else if (op < 97 && !model.empty()) {
            // Re-push an item of the list itself.
            int at = static_cast<int>(rng() % model.size());
            ASSERT_GE(VRALSzListPush(&p, SzVRALSzListGet(p, at)), 0);
            model.push_back(model[static_cast<size_t>(at)]);
        } else if (op == 99) {
            VRALSzListClear(p);
            model.clear();
        }
        if (p->cbAlloc != cbBefore)
            ++grew;
        ASSERT_TRUE(consistent(p)) << "step " << step;
        ASSERT_EQ(items(p), model) << "step " << step;
    }
    EXPECT_GT(grew, 0);
    VRALSzListFree(p);
}

TEST(SzListRandom, SetKeepsSortedListsSorted)
{
    std::mt19937 rng(3);
    for (int mode : {VRAL_SZLIST_SORT_BYTE, VRAL_SZLIST_SORT_CASE}) {
        VRALSzList *p = PslVRALSzListAlloc(512);
        ASSERT_NE(p, nullptr);
        p->sortMode = mode;
        Strings model;
        for (int i = 0; i < 40; ++i) {
            std::string s = randomName(rng, 6);
            ASSERT_GE(VRALSzListPush(&p, s.c_str()), 0);
            model.push_back(s);
        }
        for (int step = 0; step < 200; ++step) {
            int at = static_cast<int>(rng() % model.size());
            std::string old = SzVRALSzListGet(p, at);
            std::string s = randomName(rng, 12);
            int r = VRALSzListSet(&p, at, s.c_str());
            ASSERT_GE(r, 0);
            // The index returned holds a string equal to the new one.
            if (mode == VRAL_SZLIST_SORT_BYTE) {
                EXPECT_EQ(std::string(SzVRALSzListGet(p, r)), s);
            } else {
                EXPECT_EQ(VRALUnicodeUTF8StrCaseCmp(SzVRALSzListGet(p, r), s.c_str()), 0);
            }
            *std::find(model.begin(), model.end(), old) = s;
            Strings got = items(p);
            if (mode == VRAL_SZLIST_SORT_BYTE) {
                ASSERT_TRUE(std::is_sorted(got.begin(), got.end()));
            } else {
                ASSERT_TRUE(std::is_sorted(got.begin(), got.end(), caseLess));
            }
            Strings a = got, b = model;
            std::sort(a.begin(), a.end());
            std::sort(b.begin(), b.end());
            ASSERT_EQ(a, b);
            ASSERT_TRUE(consistent(p));
        }
        VRALSzListFree(p);
    }
}
