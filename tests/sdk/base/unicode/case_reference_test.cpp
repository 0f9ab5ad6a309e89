// The upper-casing and the case comparison against a plain rendering of
// their algorithm straight on ICU (heap buffers sized by preflight, ICU's
// own upper-casing and collation of the whole texts), over edge cases and
// random texts: short ASCII, every script, invalid UTF-8, and texts beyond
// the stack scratch buffers.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include "base/err/vral_err.h"
#include "base/unicode/vral_unicode.h"

namespace {

// Upper-cased UTF-16 form, or false when ICU refuses the text.
bool referenceUpper(const std::string &s, std::u16string &out)
{
    UErrorCode st = U_ZERO_ERROR;
    int32_t n = 0;
    u_strFromUTF8(nullptr, 0, &n, s.c_str(), -1, &st);
    if (st != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(st))
        return false;
    std::u16string src(static_cast<size_t>(n) + 1, u'\0');
    st = U_ZERO_ERROR;
    u_strFromUTF8(src.data(), n + 1, &n, s.c_str(), -1, &st);
    if (U_FAILURE(st))
        return false;
    st = U_ZERO_ERROR;
    int32_t m = u_strToUpper(nullptr, 0, src.c_str(), -1, gszCollatorLocale, &st);
    if (st != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(st))
        return false;
    out.assign(static_cast<size_t>(m) + 1, u'\0');
    st = U_ZERO_ERROR;
    m = u_strToUpper(out.data(), m + 1, src.c_str(), -1, gszCollatorLocale, &st);
    if (U_FAILURE(st))
        return false;
    out.resize(static_cast<size_t>(m));
    return true;
}

int referenceCaseCmp(const std::string &a, const std::string &b)
{
    std::u16string ua, ub;
    if (!referenceUpper(a, ua) || !referenceUpper(b, ub))
        return -2;
    UCollationResult r = ucol_strcoll(VRALUnicodeOpenCollator(), ua.c_str(), -1, ub.c_str(), -1);
    return r == UCOL_LESS ? -1 : r == UCOL_EQUAL ? 0 : 1;
}

// Key form as UTF-8, or -1 when refused.
int referenceUpperUTF8(const std::string &s, std::string &out)
{
    std::u16string u;
    if (!referenceUpper(s, u))
        return -1;
    UErrorCode st = U_ZERO_ERROR;
    int32_t n = 0;
    u_strToUTF8(nullptr, 0, &n, u.data(), static_cast<int32_t>(u.size()), &st);
    out.assign(static_cast<size_t>(n) + 1, '\0');
    st = U_ZERO_ERROR;
    u_strToUTF8(out.data(), n + 1, &n, u.data(), static_cast<int32_t>(u.size()), &st);
    out.resize(static_cast<size_t>(n));
    return n;
}

std::string repeat(const char *piece, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += piece;
    return s;
}

std::vector<std::string> edgeCases()
{
    std::vector<std::string> v = {
        "", "a", "A", "admin", "ADMIN", "Admin_01", "a b", "a\tb", "a-b", "a.b", "a_b", "\x01", "a\x01", "a\x7F",
        "\x1F" "b", "~", "0", "9a", "stra\xC3\x9F" "e", "STRASSE", "\xC3\x9F", "ss", "SS",
        "\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", "e\xCC\x81", "\xC3\xBF", "\xC2\xB5", "\xC4\xB1", "\xC4\xB0", "i",
        "\xCE\x90", "\xCF\x82", "\xCE\xA3", "\xD0\xB6", "\xD0\x96", "\xE6\x97\xA5\xE6\x9C\xAC", "\xEF\xAC\x80",
        "\xF0\x90\x90\xA8", "\xF0\x9F\x98\x80", "a\xCC\x87", "\xD6\x87", "\xE1\xBA\x9E",
        // not valid UTF-8: stray, cut and overlong sequences, an encoded surrogate
        "\xFF", "\xC3", "a\xC3", "\xC3(", "\xE6\x97", "\xC0\xAF", "\xED\xA0\x80", "\xF8\x88\x80\x80\x80",
        "abc\x80",
    };
    // Around and beyond the stack buffers: ASCII, two-byte letters, letters
    // that upper-case to two or three characters.
    for (size_t n : {255, 256, 510, 511, 512, 513, 700})
        v.push_back(repeat("a", n));
    v.push_back(repeat("A", 511));
    v.push_back(repeat("a", 511) + "\xC3\xA9");
    v.push_back(repeat("\xC3\xA9", 300));
    v.push_back(repeat("\xC3\x9F", 200));
    v.push_back(repeat("\xC3\x9F", 300));
    v.push_back(repeat("\xCE\x90", 170));
    v.push_back(repeat("\xCE\x90", 200));
    // Upper-cased forms of 511 and 512 units: with and without room for the
    // terminator in the stack buffer.
    v.push_back("\xE6\x97\xA5" + repeat("\xCE\x90", 170));
    v.push_back("\xE6\x97\xA5\xE6\x97\xA5" + repeat("\xCE\x90", 170));
    v.push_back(repeat("\xE6\x97\xA5", 600));
    v.push_back(repeat("a", 600) + "\xFF");
    return v;
}

std::vector<std::string> randomTexts(size_t count)
{
    static const char *pieces[] = {
        "a", "b", "z", "A", "B", "Z", "0", "9", " ", "_", "-", ".", "\t", "\x01", "\x7F", "i", "I",
        "\xC3\xA9", "\xC3\x89", "\xC3\x9F", "\xC3\xBF", "\xC4\xB1", "\xC4\xB0", "\xCE\x90", "\xCF\x82", "\xCE\xA3",
        "\xD0\xB6", "\xD0\x96", "\xE6\x97\xA5", "\xEF\xAC\x80", "\xF0\x90\x90\xA8", "\xCC\x81", "\xCC\x87",
        "\xFF", "\xC3", "\xE6\x97",
    };
    std::mt19937 rng(2026);
    std::vector<std::string> v;
    for (size_t i = 0; i < count; ++i) {
        std::string s;
        // Mostly names; now and then a text beyond the stack buffers.
        size_t len = rng() % 10 == 0 ? 200 + rng() % 400 : rng() % 12;
        for (size_t k = 0; k < len; ++k) {
            // Invalid pieces are rare so that most texts are valid.
            size_t which = rng() % std::size(pieces);
            if (which >= std::size(pieces) - 3 && rng() % 8 != 0)
                which = rng() % (std::size(pieces) - 3);
            s += pieces[which];
        }
        v.push_back(s);
    }
    return v;
}

}  // namespace

TEST(UnicodeReference, CaseCmpGivesTheSameResults)
{
    std::vector<std::string> texts = edgeCases();
    std::vector<std::string> more = randomTexts(220);
    texts.insert(texts.end(), more.begin(), more.end());
    for (const auto &a : texts) {
        for (const auto &b : texts) {
            const int expected = referenceCaseCmp(a, b);
            if (expected == -2)
                VRALErrSetCode(0);
            ASSERT_EQ(VRALUnicodeUTF8StrCaseCmp(a.c_str(), b.c_str()), expected) << a << " vs " << b;
            if (expected == -2) {
                ASSERT_EQ(VRALErrGet(), ERR_CONVERSION_FAILED) << a << " vs " << b;
            }
        }
    }
}

TEST(UnicodeReference, UpperGivesTheSameKeyForms)
{
    std::vector<std::string> texts = edgeCases();
    std::vector<std::string> more = randomTexts(400);
    texts.insert(texts.end(), more.begin(), more.end());
    for (const auto &s : texts) {
        std::string expected;
        const int cb = referenceUpperUTF8(s, expected);
        std::vector<char> out(s.size() * 9 + 8, 'x');
        VRALErrSetCode(0);
        const int r = VRALUnicodeUTF8StrUpper(s.c_str(), out.data(), static_cast<int>(out.size()));
        ASSERT_EQ(r, cb) << s;
        if (cb < 0) {
            EXPECT_EQ(VRALErrGet(), ERR_CONVERSION_FAILED) << s;
            continue;
        }
        EXPECT_EQ(std::string(out.data()), expected) << s;
        // The size query gives the same length.
        EXPECT_EQ(VRALUnicodeUTF8StrUpper(s.c_str(), nullptr, 0), cb) << s;
    }
}

std::string utf8Of(char32_t cp)
{
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

// Every code point of one and two UTF-8 bytes, alone and between letters
// whose upper-casing could depend on their neighbours (i, Greek with an
// accent, final sigma, a dot above).
TEST(UnicodeReference, EveryTwoByteCodePointInContext)
{
    for (char32_t cp = 1; cp < 0x800; ++cp) {
        const std::string c = utf8Of(cp);
        for (const std::string &s : {c, "i" + c + "\xCE\xAC" + c + "\xCF\x82", c + "\xCC\x87" + c + "I" + c}) {
            std::string expected;
            const int cb = referenceUpperUTF8(s, expected);
            char out[64];
            ASSERT_EQ(VRALUnicodeUTF8StrUpper(s.c_str(), out, sizeof out), cb) << std::hex << static_cast<unsigned>(cp);
            ASSERT_EQ(std::string(out), expected) << std::hex << static_cast<unsigned>(cp);
        }
        EXPECT_EQ(VRALUnicodeUTF8StrCaseCmp(c.c_str(), ("a" + c).c_str()), referenceCaseCmp(c, "a" + c)) << std::hex << static_cast<unsigned>(cp);
    }
}

// The UTF-16 upper-casing into a caller's heap block: grown when the text
// does not fit, with the same text as a roomy block gets.
TEST(UnicodeReference, UTF16UpperGrowsTheCallersBlock)
{
    for (const auto &s : edgeCases()) {
        std::u16string src;
        if (!referenceUpper(s, src))
            continue;
        std::u16string in(static_cast<size_t>(s.size()) + 1, u'\0');
        UErrorCode st = U_ZERO_ERROR;
        int32_t n = 0;
        u_strFromUTF8(in.data(), static_cast<int32_t>(in.size()), &n, s.c_str(), -1, &st);
        ASSERT_TRUE(U_SUCCESS(st));
        for (int cap : {1, 2, 3}) {
            auto *p = static_cast<UChar *>(malloc(sizeof(UChar) * static_cast<size_t>(cap)));
            const int r = VRALUnicodeUTF16StrUpper(in.c_str(), &p, cap);
            ASSERT_EQ(r, static_cast<int>(src.size())) << s;
            EXPECT_EQ(std::u16string(p, static_cast<size_t>(r)), src) << s;
            free(p);
        }
    }
}
