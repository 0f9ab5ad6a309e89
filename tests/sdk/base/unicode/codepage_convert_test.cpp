// Converter ids, the converter cache and UTF-8 to code-page conversion.
#include <gtest/gtest.h>

#include <unicode/ucnv.h>
#include <unicode/ucol.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "base/unicode/vral_unicode.h"
#include "codepages_data.h"

namespace {

const bool gIcuData = codepages::useTestConverters();

// Stock converter that each platform converter was built from (see
// tools/codepages).
const char *const kStock[VRAL_CONVERTOR_COUNT] = {
    "UTF-8",        "UTF-16",       "ibm-437",      "ibm-737",      "ibm-850",        "ibm-852",
    "ibm-857",      "ibm-861",      "ibm-866",      "windows-932",  "windows-936",    "windows-949",
    "windows-950",  "windows-1250", "windows-1251", "windows-1252", "windows-1253",   "windows-1254",
    "macintosh",    "x-mac-greek",  "macintosh",    "macintosh",    "x-mac-turkish",  "macintosh",
    "x-mac-cyrillic", "Shift_JIS",  "GB2312",       "EUC-KR",       "Big5",           "macintosh",
    "x-mac-cyrillic", "macintosh",  "x-mac-greek",  "x-mac-turkish",
};

const char *const kTexts[] = {
    "Hello, World 123",
    "Caf\xc3\xa9 M\xc3\xbcller \xc3\x85se",                                  // Café Müller Åse
    "\xc3\x90\xc3\xb3r \xc3\xbe\xc3\xa6r",                                   // Ðór þær
    "\xce\x91\xce\xb8\xce\xae\xce\xbd\xce\xb1",                              // Αθήνα
    "\xd0\x9c\xd0\xbe\xd1\x81\xd0\xba\xd0\xb2\xd0\xb0",                      // Москва
    "\xc4\xb0stanbul \xc4\x9f\xc3\xbc\xc5\x9f",                              // İstanbul ğüş
    "\xc5\x81\xc3\xb3\x64\xc5\xba \xc5\xbc\xc3\xb3\xc5\x82\xc4\x87",         // Łódź żółć
    "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e \xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88",  // 日本語 テスト
    "\xe7\xae\x80\xe4\xbd\x93\xe4\xb8\xad\xe6\x96\x87",                      // 简体中文
    "\xe7\xb9\x81\xe9\xab\x94\xe4\xb8\xad\xe6\x96\x87",                      // 繁體中文
    "\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4",                                  // 한국어
    "\xe2\x82\xac 5",                                                        // € 5
};

std::string stockBytes(const char *stock, const char *utf8)
{
    UErrorCode st = U_ZERO_ERROR;
    UConverter *cnv = ucnv_open(stock, &st);
    EXPECT_TRUE(U_SUCCESS(st)) << stock;
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(utf8);
    std::string out(static_cast<size_t>(u.length()) * 4 + 8, '\0');
    st = U_ZERO_ERROR;
    int32_t cb = ucnv_fromUChars(cnv, out.data(), static_cast<int32_t>(out.size()), u.getBuffer(), u.length(), &st);
    EXPECT_TRUE(U_SUCCESS(st)) << stock;
    ucnv_close(cnv);
    out.resize(static_cast<size_t>(cb));
    return out;
}

// Whether the stock converter maps every character of the text both ways.
bool mapsWhole(const char *stock, const char *utf8)
{
    UErrorCode st = U_ZERO_ERROR;
    UConverter *cnv = ucnv_open(stock, &st);
    icu::UnicodeSet set;
    ucnv_getUnicodeSet(cnv, set.toUSet(), UCNV_ROUNDTRIP_SET, &st);
    ucnv_close(cnv);
    return U_SUCCESS(st) && set.containsAll(icu::UnicodeString::fromUTF8(utf8));
}

std::string convert(int id, const char *utf8, int cbOut)
{
    std::vector<char> out(static_cast<size_t>(cbOut) + 1, '\x55');
    int cb = VRALUnicodeStrUTF8ToCP(id, utf8, out.data(), cbOut);
    if (cb < 0 || cb >= cbOut)
        return "<" + std::to_string(cb) + ">";
    EXPECT_EQ(out[static_cast<size_t>(cb)], '\0');
    return std::string(out.data(), static_cast<size_t>(cb));
}

TEST(CodepageTable, RowsAndIds)
{
    ASSERT_TRUE(gIcuData);
    for (int i = 0; i < VRAL_CONVERTOR_COUNT; ++i) {
        EXPECT_EQ(gConvertorTable[i].id, i);
        ASSERT_NE(gConvertorTable[i].szName, nullptr);
    }
    EXPECT_EQ(gConvertorTable[VRAL_CONVERTOR_COUNT].szName, nullptr);
    EXPECT_STREQ(gConvertorTable[0].szName, "UTF-8");
    EXPECT_STREQ(gConvertorTable[1].szName, "UTF-16");
    EXPECT_STREQ(gConvertorTable[15].szName, "vexa_win_westeuro_1252");
    EXPECT_STREQ(gConvertorTable[31].szName, "vexa_mac_eng_euro");
    // Mac ids 18..33 stand for 2..17: every Windows and DOS name has a Mac
    // name of the same script family.
    for (int i = 18; i < VRAL_CONVERTOR_COUNT; ++i)
        EXPECT_EQ(strncmp(gConvertorTable[i].szName, "vexa_mac_", 9), 0) << i;
    for (int i = 2; i < 18; ++i)
        EXPECT_EQ(strncmp(gConvertorTable[i].szName, "vexa_win_", 9), 0) << i;
}

TEST(CodepageOpen, RefusesIdsOutOfRange)
{
    for (int id : {VRAL_CONVERTOR_COUNT, -1, INT_MIN, INT_MAX}) {
        VRALErrSetCode(0);
        EXPECT_EQ(VRALUnicodeOpenConvertor(id), nullptr) << id;
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    }
}

TEST(CodepageOpen, EveryIdOpensOnceAndStays)
{
    for (int id = 0; id < VRAL_CONVERTOR_COUNT; ++id) {
        UConverter *c = VRALUnicodeOpenConvertor(id);
        ASSERT_NE(c, nullptr) << gConvertorTable[id].szName;
        EXPECT_EQ(VRALUnicodeOpenConvertor(id), c);
        if (id >= 2) {
            UErrorCode st = U_ZERO_ERROR;
            EXPECT_STREQ(ucnv_getName(c, &st), gConvertorTable[id].szName);
        }
    }
    // Ids sharing a name still have a converter each.
    EXPECT_NE(VRALUnicodeOpenConvertor(18), VRALUnicodeOpenConvertor(20));
}

TEST(CodepageConvert, SameBytesAsTheStockConverter)
{
    for (int id = 2; id < VRAL_CONVERTOR_COUNT; ++id) {
        int nChecked = 0;
        for (const char *text : kTexts) {
            if (!mapsWhole(kStock[id], text))
                continue;
            std::string want = stockBytes(kStock[id], text);
            EXPECT_EQ(convert(id, text, 256), want) << gConvertorTable[id].szName << ": " << text;
            EXPECT_EQ(VRALUnicodeStrUTF8ToCP(id, text, nullptr, 0), static_cast<int>(want.size()));
            ++nChecked;
        }
        // ASCII and at least one text of the code page's own script.
        EXPECT_GE(nChecked, 2) << gConvertorTable[id].szName;
    }
}

TEST(CodepageConvert, KnownBytes)
{
    struct Case {
        int id;
        const char *text;
        std::string bytes;
    } cases[] = {
        {15, "Caf\xc3\xa9 \xe2\x82\xac", "Caf\xe9 \x80"},
        {4, "Caf\xc3\xa9", "Caf\x82"},                        // DOS Latin-1
        {14, "\xd0\x9c\xd0\xb8\xd1\x80", "\xcc\xe8\xf0"},    // Мир, Windows Cyrillic
        {8, "\xd0\x9c\xd0\xb8\xd1\x80", "\x8c\xa8\xe0"},     // Мир, DOS Russian
        {9, "\xe6\x97\xa5\xe6\x9c\xac", "\x93\xfa\x96\x7b"}, // 日本, Shift-JIS
        {31, "Caf\xc3\xa9", "Caf\x8e"},                      // Mac Roman
        {0, "\xff\xfe not UTF-8", "\xff\xfe not UTF-8"},     // UTF-8 is copied unchecked
        {15, "", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(convert(c.id, c.text, 64), c.bytes) << c.id << " " << c.text;
}

TEST(CodepageConvert, FullLengthOnAShortBuffer)
{
    struct Case {
        int id;
        const char *text;
        int cb;
    } cases[] = {
        {0, "abc", 3},
        {15, "Caf\xc3\xa9", 4},
        {9, "\xe6\x97\xa5\xe6\x9c\xac", 4},
        {1, "ab", 6},   // byte-order mark and two units
    };
    for (const Case &c : cases) {
        for (int cbOut : {1, c.cb - 1, c.cb}) {
            char out[16];
            memset(out, 'x', sizeof out);
            EXPECT_EQ(VRALUnicodeStrUTF8ToCP(c.id, c.text, out, cbOut), c.cb) << c.id << " " << cbOut;
            EXPECT_EQ(out[0], '\0');
            EXPECT_EQ(out[1], 'x');   // nothing written past the empty string
        }
        EXPECT_EQ(VRALUnicodeStrUTF8ToCP(c.id, c.text, nullptr, 0), c.cb);
        char out[16];
        EXPECT_EQ(VRALUnicodeStrUTF8ToCP(c.id, c.text, out, c.cb + 1), c.cb);
    }
}

TEST(CodepageConvert, Utf16CountsAndKeepsEveryByte)
{
    for (const char *text : {"ab", "a", "\xf0\x9f\x98\x80", "M\xc3\xbcller"}) {
        std::string want = stockBytes("UTF-16", text);
        ASSERT_GE(want.size(), 4u);
        EXPECT_EQ(VRALUnicodeStrUTF8ToCP(1, text, nullptr, 0), static_cast<int>(want.size())) << text;
        // The zero bytes of the wide encoding do not cut the text short.
        EXPECT_EQ(convert(1, text, 32), want) << text;
    }
    EXPECT_EQ(convert(1, "", 8), "");
}

TEST(CodepageConvert, BadArguments)
{
    char out[8];
    struct Case {
        int id;
        const char *text;
        char *out;
        int cb;
        int code;
    } cases[] = {
        {15, nullptr, out, 8, ERR_BAD_PARAMETERS},
        {15, "a", out, -1, ERR_BAD_PARAMETERS},
        {15, "a", nullptr, 8, ERR_BAD_PARAMETERS},
        {0, nullptr, out, 8, ERR_BAD_PARAMETERS},
        {34, "a", out, 8, ERR_BAD_PARAMETERS},
        {-1, "a", out, 8, ERR_BAD_PARAMETERS},
        {15, "\xc3 broken", out, 8, ERR_CONVERSION_FAILED},
        // a character the code page lacks: no substitute byte stands in
        {15, "\xd0\x9c\xd0\xb8\xd1\x80", out, 8, ERR_CONVERSION_FAILED},
        {15, "\xd0\x9c\xd0\xb8\xd1\x80", nullptr, 0, ERR_CONVERSION_FAILED},
        {8, "Caf\xc3\xa9 \xe6\x97\xa5", out, 8, ERR_CONVERSION_FAILED},
    };
    for (const Case &c : cases) {
        VRALErrSetCode(0);
        EXPECT_EQ(VRALUnicodeStrUTF8ToCP(c.id, c.text, c.out, c.cb), -1) << c.id;
        EXPECT_EQ(VRALErrGet(), c.code) << c.id;
    }
}

TEST(CodepageIcuData, StockDataStaysAvailable)
{
    ASSERT_STREQ(getenv("ICU_DATA"), codepages::icuDataDir());
    UErrorCode st = U_ZERO_ERROR;
    UConverter *cnv = ucnv_open("windows-1252", &st);
    EXPECT_TRUE(U_SUCCESS(st));
    ucnv_close(cnv);
    st = U_ZERO_ERROR;
    UCollator *coll = ucol_open("", &st);
    EXPECT_TRUE(U_SUCCESS(st)) << u_errorName(st);
    ucol_close(coll);
    EXPECT_NE(VRALUnicodeOpenCollator(), nullptr);
    EXPECT_EQ(VRALUnicodeUTF8StrCaseCmp("stra\xc3\x9f" "e", "STRASSE"), 0);
    char up[16];
    EXPECT_EQ(VRALUnicodeUTF8StrUpper("stra\xc3\x9f" "e", up, sizeof up), 7);
    EXPECT_STREQ(up, "STRASSE");
}

}  // namespace
