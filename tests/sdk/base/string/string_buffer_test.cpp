#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/err/vral_err.h"
#include "base/string/vral_string.h"

TEST(ReallocOrFree, SizesAndNull)
{
    void *p = VRALReallocOrFree(nullptr, 16);
    ASSERT_NE(p, nullptr);
    memcpy(p, "0123456789abcdef", 16);
    p = VRALReallocOrFree(p, 4096);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(memcmp(p, "0123456789abcdef", 16), 0);
    EXPECT_EQ(VRALReallocOrFree(p, 0), nullptr);  // freed (ASan would tell)
    EXPECT_EQ(VRALReallocOrFree(nullptr, 0), nullptr);
}

TEST(CheckAndRealloc, NewGrowKeepAndRefuse)
{
    char *buf = nullptr;
    int cb = 12345;  // ignored while there is no buffer
    ASSERT_EQ(VEXACheckAndRealloc(&buf, &cb, 10), 0);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(cb, 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(buf[i], 0) << "new block is cleared";
    strcpy(buf, "keep");

    char *before = buf;
    EXPECT_EQ(VEXACheckAndRealloc(&buf, &cb, 10), 0);
    EXPECT_EQ(VEXACheckAndRealloc(&buf, &cb, 3), 0);
    EXPECT_EQ(buf, before);
    EXPECT_EQ(cb, 10);

    EXPECT_EQ(VEXACheckAndRealloc(&buf, &cb, 5000), 0);
    EXPECT_EQ(cb, 5000);
    EXPECT_STREQ(buf, "keep");

    const struct {
        bool nullData;
        bool nullSize;
        int recorded;
        unsigned need;
    } bad[] = {
        {false, false, 5000, 0},   // nothing needed
        {false, true, 0, 10},      // no size variable
        {true, false, 0, 10},      // no buffer variable
        {false, false, 0, 10},     // a block of size 0
        {false, false, -4, 10},    // a block of negative size
        {false, false, 5000, 0x80000000u},
    };
    for (const auto &c : bad) {
        int recorded = c.recorded;
        char *p = buf;
        VRALErrSetCode(0);
        EXPECT_EQ(VEXACheckAndRealloc(c.nullData ? nullptr : &p, c.nullSize ? nullptr : &recorded, c.need), -1);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
        EXPECT_EQ(p, buf);
    }
    free(buf);
}

TEST(StrJoin, TableOfJoins)
{
    const char *abc[] = {"a", nullptr, "b"};
    const char *empties[] = {"", ""};
    const char *one[] = {"only"};
    const char *nullFirst[] = {nullptr, "x", "y"};
    const struct {
        const char **items;
        int n;
        const char *sep;
        const char *expected;
    } cases[] = {
        {abc, 3, ", ", "a, b"},
        {empties, 2, ",", ","},
        {one, 1, ":", "only"},
        {nullFirst, 3, "", "xy"},
        {nullFirst, 3, "--", "x--y"},
    };
    for (const auto &c : cases) {
        char *buf = nullptr;
        int cb = 0;
        ASSERT_EQ(VRALStrJoin(c.items, c.n, c.sep, &buf, &cb), 0) << c.expected;
        EXPECT_STREQ(buf, c.expected);
        EXPECT_GE(cb, static_cast<int>(strlen(c.expected)) + 1);
        free(buf);
    }
}

TEST(StrJoin, ReusesAndGrowsTheBuffer)
{
    const char *items[] = {"alpha", "beta", "gamma"};
    char *buf = static_cast<char *>(malloc(64));
    ASSERT_NE(buf, nullptr);
    memset(buf, 'x', 64);
    int cb = 64;
    char *before = buf;
    ASSERT_EQ(VRALStrJoin(items, 3, "/", &buf, &cb), 0);
    EXPECT_EQ(buf, before);
    EXPECT_EQ(cb, 64);
    EXPECT_STREQ(buf, "alpha/beta/gamma");
    EXPECT_EQ(buf[63], 0);  // the whole recorded size is cleared

    int cbSmall = 4;
    char *small = static_cast<char *>(malloc(4));
    ASSERT_NE(small, nullptr);
    ASSERT_EQ(VRALStrJoin(items, 3, " + ", &small, &cbSmall), 0);
    EXPECT_STREQ(small, "alpha + beta + gamma");
    // Room for the text with its last separator, and the terminator.
    EXPECT_EQ(cbSmall, static_cast<int>(strlen("alpha + beta + gamma + ")) + 1);
    free(small);
    free(buf);
}

TEST(StrJoin, Refusals)
{
    const char *items[] = {"a"};
    const char *nulls[] = {nullptr, nullptr};
    const char *empty[] = {""};
    char *buf = nullptr;
    int cb = 0;
    char *given = static_cast<char *>(malloc(8));
    int cbZero = 0;
    struct {
        const char **items;
        int n;
        const char *sep;
        char **pp;
        int *pcb;
    } cases[] = {
        {nullptr, 1, ",", &buf, &cb}, {items, 0, ",", &buf, &cb},  {items, -1, ",", &buf, &cb},
        {items, 1, nullptr, &buf, &cb}, {items, 1, ",", nullptr, &cb}, {items, 1, ",", &buf, nullptr},
        {items, 1, ",", &given, &cbZero}, {nulls, 2, ",", &buf, &cb}, {empty, 1, "", &buf, &cb},
    };
    for (const auto &c : cases) {
        VRALErrSetCode(0);
        EXPECT_EQ(VRALStrJoin(c.items, c.n, c.sep, c.pp, c.pcb), -1);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    }
    EXPECT_EQ(buf, nullptr);
    free(given);
}

TEST(TempName, PidAndCounter)
{
    char a[64];
    char b[64];
    ASSERT_EQ(VRALFileTempNameGet("/x/file.", a, sizeof(a)), 0);
    ASSERT_EQ(VRALFileTempNameGet("/x/file.", b, sizeof(b)), 0);
    std::string prefix = "/x/file." + std::to_string(getpid()) + "-";
    ASSERT_EQ(std::string(a).rfind(prefix, 0), 0u) << a;
    ASSERT_EQ(std::string(b).rfind(prefix, 0), 0u) << b;
    int na = atoi(a + prefix.size());
    int nb = atoi(b + prefix.size());
    EXPECT_EQ(nb, na + 1);

    // Too small: fails, and the counter still advances.
    std::string fit = prefix + std::to_string(nb + 1);
    std::vector<char> exact(fit.size());
    EXPECT_EQ(VRALFileTempNameGet("/x/file.", exact.data(), static_cast<int>(exact.size())), -1);
    char c[64];
    ASSERT_EQ(VRALFileTempNameGet("/x/file.", c, sizeof(c)), 0);
    EXPECT_EQ(atoi(c + prefix.size()), nb + 2);

    EXPECT_EQ(VRALFileTempNameGet(nullptr, c, sizeof(c)), -1);
    EXPECT_EQ(VRALFileTempNameGet("a", nullptr, 4), -1);
    EXPECT_EQ(VRALFileTempNameGet("a", c, -1), -1);
}

TEST(TempNameDeathTest, FirstNamesOfAProcessEndInZeroAndOne)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            char a[64];
            char b[64];
            bool ok = VRALFileTempNameGet("n", a, sizeof(a)) == 0 && VRALFileTempNameGet("n", b, sizeof(b)) == 0;
            std::string pa = "n" + std::to_string(getpid()) + "-0";
            std::string pb = "n" + std::to_string(getpid()) + "-1";
            exit(ok && pa == a && pb == b ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
