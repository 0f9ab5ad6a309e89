#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "base/unicode/vral_unicode.h"

TEST(UnicodeCaseCmp, TableOfPairs)
{
    const struct {
        const char *a;
        const char *b;
        int r;
    } cases[] = {
        {"admin", "ADMIN", 0},
        {"a", "B", -1},        // byte order would put B first
        {"B", "a", 1},
        {"", "", 0},
        {"", "a", -1},
        {"abc", "ab", 1},
        {"stra\xC3\x9F" "e", "STRASSE", 0},
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", 0},
        {"e", "\xC3\xA9", -1},   // accents still count after case is gone
        {"user10", "user9", -1}, // collation, not numeric order
        {"Zoe", "zoe", 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(VRALUnicodeUTF8StrCaseCmp(c.a, c.b), c.r) << c.a << " vs " << c.b;
        EXPECT_EQ(VRALUnicodeUTF8StrCaseCmp(c.b, c.a), -c.r) << c.b << " vs " << c.a;
    }
}

TEST(UnicodeCaseCmp, Failures)
{
    VRALErrSetCode(0);
    EXPECT_EQ(VRALUnicodeUTF8StrCaseCmp(nullptr, "a"), -2);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    VRALErrSetCode(0);
    EXPECT_EQ(VRALUnicodeUTF8StrCaseCmp("a", nullptr), -2);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    VRALErrSetCode(0);
    EXPECT_EQ(VRALUnicodeUTF8StrCaseCmp("\xFF", "a"), -2);
    EXPECT_EQ(VRALErrGet(), ERR_CONVERSION_FAILED);
    VRALErrSetCode(0);
    EXPECT_EQ(VRALUnicodeUTF8StrCaseCmp("a", "b\xC3"), -2);
    EXPECT_EQ(VRALErrGet(), ERR_CONVERSION_FAILED);
}

TEST(UnicodeCaseCmp, RandomNamesGiveAConsistentOrder)
{
    std::mt19937 rng(1234);
    const char *pieces[] = {"a", "A", "b", "B", "z", "Z", "0", "_", "\xC3\xA9", "\xC3\x89", "\xC3\x9F", "ss"};
    std::vector<std::string> names;
    for (int i = 0; i < 60; ++i) {
        std::string s;
        int len = static_cast<int>(rng() % 5);
        for (int k = 0; k < len; ++k)
            s += pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))];
        names.push_back(s);
    }
    for (const auto &a : names) {
        for (const auto &b : names) {
            int ab = VRALUnicodeUTF8StrCaseCmp(a.c_str(), b.c_str());
            ASSERT_GE(ab, -1);
            EXPECT_EQ(ab, -VRALUnicodeUTF8StrCaseCmp(b.c_str(), a.c_str()));
            // Equal ignoring case exactly when the key forms collate equal.
            char ka[64];
            char kb[64];
            ASSERT_GE(VRALUnicodeUTF8StrUpper(a.c_str(), ka, sizeof(ka)), 0);
            ASSERT_GE(VRALUnicodeUTF8StrUpper(b.c_str(), kb, sizeof(kb)), 0);
            if (strcmp(ka, kb) == 0) {
                EXPECT_EQ(ab, 0) << a << " vs " << b;
            }
        }
    }
}

TEST(UnicodeLocale, RootLocaleIsCheckedAndCollatorKept)
{
    const char *szLocale = nullptr;
    EXPECT_EQ(VRALUnicodeGetLocale(0, &szLocale), 1);
    EXPECT_EQ(szLocale, gszCollatorLocale);
    EXPECT_STREQ(szLocale, "");
    EXPECT_EQ(VRALUnicodeGetLocale(1, &szLocale), 1);

    UCollator *p = VRALUnicodeOpenCollator();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(VRALUnicodeOpenCollator(), p);

    VRALErrSetCode(0);
    EXPECT_EQ(VRALUnicodeGetLocale(0, nullptr), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
}

TEST(UnicodeLocale, ListOfSupportedLocales)
{
    const char *expected[] = {"",      "de_DE", "en_US", "es_ES",      "fr_FR",       "it_IT",
                              "ja_JP", "ko_KR", "pt_BR", "zh__PINYIN", "zh_TW_STROKE"};
    size_t n = 0;
    while (gLocaleList[n] != nullptr)
        ++n;
    ASSERT_EQ(n, sizeof(expected) / sizeof(expected[0]));
    for (size_t i = 0; i < n; ++i)
        EXPECT_STREQ(gLocaleList[i], expected[i]);
}

// The locale state is process-wide and set once, so these run in a fresh
// process of their own.
TEST(UnicodeLocaleDeathTest, UnsupportedLocaleFailsEverythingButEmptyText)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            strcpy(gszCollatorLocale, "xx_YY");
            const char *sz = nullptr;
            bool ok = VRALUnicodeGetLocale(0, &sz) == -1 && VRALErrGet() == ERR_NOT_FOUND && sz == gszCollatorLocale;
            ok = ok && VRALUnicodeOpenCollator() == nullptr && VRALErrGet() == ERR_NOT_FOUND;
            ok = ok && VRALUnicodeUTF8StrCaseCmp("a", "b") == -2;
            char out[8] = "zz";
            ok = ok && VRALUnicodeUTF8StrUpper("abc", out, sizeof(out)) == -1 && strcmp(out, "zz") == 0;
            ok = ok && VRALUnicodeUTF8StrUpper("", out, sizeof(out)) == 0 && out[0] == '\0';
            // Counting needs no locale.
            ok = ok && VRALUnicodeUTF8StrCountChar("abc") == 3;
            // A failed check is not remembered: fixing the locale helps.
            strcpy(gszCollatorLocale, "de_DE");
            ok = ok && VRALUnicodeGetLocale(0, &sz) == 1 && VRALUnicodeOpenCollator() != nullptr;
            ok = ok && VRALUnicodeUTF8StrCaseCmp("a", "A") == 0;
            exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
