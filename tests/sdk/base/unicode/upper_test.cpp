#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unicode/ustring.h>

#include "base/err/vral_err.h"
#include "base/unicode/vral_unicode.h"

namespace {

// Helper: upper-case through the sized interface into a roomy buffer.
std::string upper(const std::string &s, int *pResult = nullptr)
{
    std::vector<char> buf(s.size() * 4 + 16, 'x');
    int r = VRALUnicodeUTF8StrUpper(s.c_str(), buf.data(), static_cast<int>(buf.size()));
    if (pResult != nullptr)
        *pResult = r;
    return r < 0 ? std::string("<fail>") : std::string(buf.data());
}

struct UpperCase {
    const char *src;
    const char *expected;
};

}  // namespace

TEST(UnicodeUpper, TableOfTexts)
{
    const UpperCase cases[] = {
        {"abc", "ABC"},
        {"ABC", "ABC"},
        {"admin", "ADMIN"},
        {"Mixed Case 123_-.", "MIXED CASE 123_-."},
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"},                      // été -> ÉTÉ
        {"stra\xC3\x9F" "e", "STRASSE"},                                  // sharp s becomes SS
        {"\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",             // привет
         "\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2"},
        {"\xE6\x97\xA5\xE6\x9C\xAC", "\xE6\x97\xA5\xE6\x9C\xAC"},        // CJK unchanged
        {"\xF0\x90\x90\xA8", "\xF0\x90\x90\x80"},                        // Deseret small -> capital (outside BMP)
        {"\xCE\x90", "\xCE\x99\xCC\x88\xCC\x81"},                        // iota with dialytika and tonos: three code points
        {"\xCE\x90\xCE\x90\xCE\x90", "\xCE\x99\xCC\x88\xCC\x81\xCE\x99\xCC\x88\xCC\x81\xCE\x99\xCC\x88\xCC\x81"},
    };
    for (const auto &c : cases) {
        int r = 0;
        EXPECT_EQ(upper(c.src, &r), c.expected) << c.src;
        EXPECT_EQ(r, static_cast<int>(strlen(c.expected))) << c.src;
    }
}

TEST(UnicodeUpper, FullLengthOnShortBufferAndSizeQuery)
{
    char out[8];
    memset(out, 'x', sizeof(out));
    EXPECT_EQ(VRALUnicodeUTF8StrUpper("abc", out, 3), 3);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(out[1], 'x');  // nothing but the first byte touched

    memset(out, 'x', sizeof(out));
    EXPECT_EQ(VRALUnicodeUTF8StrUpper("abc", out, 4), 3);
    EXPECT_STREQ(out, "ABC");

    EXPECT_EQ(VRALUnicodeUTF8StrUpper("abc", nullptr, 0), 3);
    EXPECT_EQ(VRALUnicodeUTF8StrUpper("stra\xC3\x9F" "e", nullptr, 0), 7);

    memset(out, 'x', sizeof(out));
    EXPECT_EQ(VRALUnicodeUTF8StrUpper("abc", out, 0), 3);
    EXPECT_EQ(out[0], 'x');

    // The lengthened text decides what fits, not the source length.
    memset(out, 'x', sizeof(out));
    EXPECT_EQ(VRALUnicodeUTF8StrUpper("stra\xC3\x9F" "e", out, 7), 7);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(VRALUnicodeUTF8StrUpper("stra\xC3\x9F" "e", out, 8), 7);
    EXPECT_STREQ(out, "STRASSE");
}

TEST(UnicodeUpper, EmptySource)
{
    char out[4] = "zzz";
    EXPECT_EQ(VRALUnicodeUTF8StrUpper("", out, 4), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(VRALUnicodeUTF8StrUpper("", nullptr, 0), 0);
}

TEST(UnicodeUpper, BadArguments)
{
    char out[4];
    struct {
        const char *src;
        char *out;
        int size;
    } cases[] = {
        {nullptr, out, 4},
        {"abc", nullptr, 4},
        {"abc", out, -1},
        {"", out, -1},
    };
    for (const auto &c : cases) {
        VRALErrSetCode(0);
        EXPECT_EQ(VRALUnicodeUTF8StrUpper(c.src, c.out, c.size), -1);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    }
}

TEST(UnicodeUpper, InvalidUTF8IsRefused)
{
    const char *cases[] = {"\xFF", "ab\xC3", "\xC3(", "\xED\xA0\x80", "\xC0\xAF", "ok\x80ok"};
    for (const char *s : cases) {
        char out[32] = "keep";
        VRALErrSetCode(0);
        EXPECT_EQ(VRALUnicodeUTF8StrUpper(s, out, sizeof(out)), -1) << s;
        EXPECT_EQ(VRALErrGet(), ERR_CONVERSION_FAILED) << s;
        EXPECT_STREQ(out, "keep");
        EXPECT_EQ(VRALUnicodeUTF8StrCountChar(s), -1);
    }
}

TEST(UnicodeUpperUTF16, GrowsABufferThatIsTooSmall)
{
    // Three small iotas with dialytika and tonos become nine units.
    const UChar src[] = {0x0390, 0x0390, 0x0390, 0};
    auto *p = static_cast<UChar *>(malloc(sizeof(UChar) * 2));
    ASSERT_NE(p, nullptr);
    int r = VRALUnicodeUTF16StrUpper(src, &p, 2);
    EXPECT_EQ(r, 9);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[9], 0);
    EXPECT_EQ(p[0], 0x0399);
    EXPECT_EQ(p[1], 0x0308);
    EXPECT_EQ(p[2], 0x0301);
    free(p);
}

TEST(UnicodeUpperUTF16, ExactFitIsNeverReturnedUnterminated)
{
    // One iota with dialytika and tonos becomes exactly three units: a
    // three-unit buffer holds the text but not its terminator.
    const UChar src[] = {0x0390, 0};
    auto *p = static_cast<UChar *>(malloc(sizeof(UChar) * 3));
    ASSERT_NE(p, nullptr);
    int r = VRALUnicodeUTF16StrUpper(src, &p, 3);
    EXPECT_EQ(r, 3);
    EXPECT_EQ(p[3], 0);
    EXPECT_EQ(u_strlen(p), 3);
    free(p);

    // Same through the UTF-8 path, whose first buffer is 2u+1 = 3 units.
    int rr = 0;
    EXPECT_EQ(upper("\xCE\x90", &rr), "\xCE\x99\xCC\x88\xCC\x81");
    EXPECT_EQ(rr, 6);
}

TEST(UnicodeUpperUTF16, RoomyBufferKeepsItsBlock)
{
    const UChar src[] = {'a', 'b', 0};
    auto *p = static_cast<UChar *>(malloc(sizeof(UChar) * 8));
    ASSERT_NE(p, nullptr);
    UChar *before = p;
    EXPECT_EQ(VRALUnicodeUTF16StrUpper(src, &p, 8), 2);
    EXPECT_EQ(p, before);
    EXPECT_EQ(p[0], 'A');
    EXPECT_EQ(p[1], 'B');
    EXPECT_EQ(p[2], 0);
    free(p);
}

TEST(UnicodeUpperUTF16, BadArguments)
{
    const UChar src[] = {'a', 0};
    auto *p = static_cast<UChar *>(malloc(sizeof(UChar) * 4));
    ASSERT_NE(p, nullptr);
    UChar *none = nullptr;
    struct {
        const UChar *src;
        UChar **pp;
        int cap;
    } cases[] = {{nullptr, &p, 4}, {src, nullptr, 4}, {src, &none, 4}, {src, &p, 0}, {src, &p, -3}};
    for (const auto &c : cases) {
        VRALErrSetCode(0);
        EXPECT_EQ(VRALUnicodeUTF16StrUpper(c.src, c.pp, c.cap), -1);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    }
    free(p);
}

TEST(UnicodeCountChar, TableOfTexts)
{
    const struct {
        const char *s;
        int n;
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {"\xC3\xA9t\xC3\xA9", 3},
        {"\xE6\x97\xA5\xE6\x9C\xAC", 2},
        {"\xF0\x9F\x98\x80", 1},           // outside the BMP: one code point
        {"a\xF0\x9F\x98\x80z", 3},
        {"e\xCC\x81", 2},                  // combining mark counts on its own
    };
    for (const auto &c : cases)
        EXPECT_EQ(VRALUnicodeUTF8StrCountChar(c.s), c.n) << c.s;

    VRALErrSetCode(0);
    EXPECT_EQ(VRALUnicodeUTF8StrCountChar(nullptr), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
}
