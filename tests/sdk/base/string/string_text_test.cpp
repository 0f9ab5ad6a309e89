#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "base/list/vral_list.h"
#include "base/string/vral_string.h"

using Strings = std::vector<std::string>;

namespace {

Strings listItems(VRALSzList *p)
{
    Strings v;
    for (int i = 0; i < p->nItem; ++i)
        v.emplace_back(SzVRALSzListGet(p, i));
    return v;
}

struct ListPtr {
    VRALSzList *p = PslVRALSzListAlloc(512);
    ~ListPtr() { VRALSzListFree(p); }
};

}  // namespace

TEST(StrTrimSpace, TableOfValues)
{
    const struct {
        const char *in;
        const char *out;
    } cases[] = {
        {" \t\"a value  with blanks \" \r\n", "a value  with blanks "},
        {"\"\"", ""},
        {"\"", "\""},
        {"value\"", "value\""},
        {"\"value", "\"value"},
        {" \t\r\n ", ""},
        {"", ""},
        {"plain", "plain"},
        {"\"\"\"\"", "\"\""},          // only one pair goes
        {"\v x \f", "\v x \f"},        // only tab, newline, CR and blank count
        {"  \" padded \"  ", " padded "},
        {"a b", "a b"},
    };
    for (const auto &c : cases) {
        // Into a separate buffer.
        char out[64];
        memset(out, 'x', sizeof(out));
        std::string in = c.in;
        EXPECT_EQ(VRALStrTrimSpace(in.data(), out), static_cast<int>(strlen(c.out))) << c.in;
        EXPECT_STREQ(out, c.out) << c.in;
        EXPECT_EQ(in, c.in);
        // In place, with NULL and with the input itself.
        std::vector<char> a(c.in, c.in + strlen(c.in) + 1);
        EXPECT_EQ(VRALStrTrimSpace(a.data(), nullptr), static_cast<int>(strlen(c.out)));
        EXPECT_STREQ(a.data(), c.out);
        std::vector<char> b(c.in, c.in + strlen(c.in) + 1);
        EXPECT_EQ(VRALStrTrimSpace(b.data(), b.data()), static_cast<int>(strlen(c.out)));
        EXPECT_STREQ(b.data(), c.out);
    }
}

TEST(StrTrimSpace, OverlappingOutput)
{
    char buf[32] = "xx  \"ab\"  ";
    // Below the input, overlapping: allowed.
    EXPECT_EQ(VRALStrTrimSpace(buf + 2, buf), 2);
    EXPECT_STREQ(buf, "ab");

    char buf2[32] = "  value  ";
    VRALErrSetCode(0);
    EXPECT_EQ(VRALStrTrimSpace(buf2, buf2 + 1), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALStrTrimSpace(buf2, buf2 + strlen(buf2)), -1);  // on the terminator
    EXPECT_STREQ(buf2, "  value  ");
    VRALErrSetCode(0);
    EXPECT_EQ(VRALStrTrimSpace(nullptr, buf2), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
}

TEST(StrReplace, TableOfReplacements)
{
    const struct {
        const char *str;
        const char *from;
        const char *to;
        int result;
        const char *expected;  // the text afterwards (out, or str in place)
    } cases[] = {
        {"hello world", "world", "there", 1, "hello there"},
        {"aaa", "a", "bb", 1, "bbaa"},               // first occurrence only
        {"abc", "b", "", 1, "ac"},
        {"abc", "", "X", 1, "Xabc"},                 // empty old matches at the start
        {"abc", "zz", "y", 0, "abc"},
        {"path/old/file", "old", "a-much-longer-name", 1, "path/a-much-longer-name/file"},
        {"", "", "", 1, ""},
    };
    for (const auto &c : cases) {
        char out[64];
        strcpy(out, "untouched");
        std::string str = c.str;
        EXPECT_EQ(VRALStrReplace(str.data(), c.from, c.to, out, sizeof(out)), c.result) << c.str;
        EXPECT_STREQ(out, c.result == 1 ? c.expected : "untouched") << c.str;
        EXPECT_EQ(str, c.str);

        char inPlace[64];
        strcpy(inPlace, c.str);
        EXPECT_EQ(VRALStrReplace(inPlace, c.from, c.to, nullptr, sizeof(inPlace)), c.result);
        EXPECT_STREQ(inPlace, c.expected) << c.str;
    }
}

TEST(StrReplace, CapacityAndArguments)
{
    char str[16] = "abc";
    char out[16];
    // Needs len - old + new + 1 = 3 - 1 + 3 + 1 = 6 bytes.
    VRALErrSetCode(0);
    EXPECT_EQ(VRALStrReplace(str, "b", "xyz", out, 5), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(VRALStrReplace(str, "b", "xyz", out, 6), 1);
    EXPECT_STREQ(out, "axyzc");
    // The size test comes first, even when old is absent.
    VRALErrSetCode(0);
    EXPECT_EQ(VRALStrReplace(str, "q", "xyz", out, 5), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(VRALStrReplace(str, "q", "xyz", out, -1), -1);

    struct {
        char *s;
        const char *o;
        const char *n;
    } nulls[] = {{nullptr, "a", "b"}, {str, nullptr, "b"}, {str, "a", nullptr}};
    for (const auto &c : nulls) {
        VRALErrSetCode(0);
        EXPECT_EQ(VRALStrReplace(c.s, c.o, c.n, out, sizeof(out)), -1);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    }
    // An output that overlaps the text is refused.
    char both[32] = "abcdef";
    VRALErrSetCode(0);
    EXPECT_EQ(VRALStrReplace(both, "b", "X", both + 2, 20), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_STREQ(both, "abcdef");
}

TEST(StrReplace, InPlaceWithReplacementFromTheSameText)
{
    char buf[32] = "ab-cdef";
    EXPECT_EQ(VRALStrReplace(buf, "ab", buf + 3, nullptr, sizeof(buf)), 1);
    EXPECT_STREQ(buf, "cdef-cdef");
}

TEST(StrSepAndTok, TableOfSplits)
{
    const struct {
        const char *str;
        const char *delims;
        Strings sep;
        Strings tok;
    } cases[] = {
        {"a,,b,", ",", {"a", "", "b", ""}, {"a", "b"}},
        {"", ",", {""}, {}},
        {",", ",", {"", ""}, {}},
        {"one", ",", {"one"}, {"one"}},
        {"k1=v1;k2 = v2", ";=", {"k1", "v1", "k2 ", " v2"}, {"k1", "v1", "k2 ", " v2"}},
        {"  a  b ", " ", {"", "", "a", "", "b", ""}, {"a", "b"}},
        {"x:y", "", {"x:y"}, {"x:y"}},
    };
    for (const auto &c : cases) {
        ListPtr a;
        EXPECT_EQ(VRALStrSep(c.str, c.delims, &a.p), static_cast<int>(c.sep.size())) << c.str;
        EXPECT_EQ(listItems(a.p), c.sep) << c.str;
        ListPtr b;
        EXPECT_EQ(VRALStrTok(c.str, c.delims, &b.p), static_cast<int>(c.tok.size())) << c.str;
        EXPECT_EQ(listItems(b.p), c.tok) << c.str;
    }
}

TEST(StrSepAndTok, PushesOntoWhatIsThereAndGrows)
{
    ListPtr l;
    ASSERT_EQ(VRALSzListPush(&l.p, "before"), 0);
    std::string many;
    for (int i = 0; i < 300; ++i)
        many += "token" + std::to_string(i) + ",";
    EXPECT_EQ(VRALStrTok(many.c_str(), ",", &l.p), 300);
    EXPECT_EQ(l.p->nItem, 301);
    EXPECT_STREQ(SzVRALSzListGet(l.p, 0), "before");
    EXPECT_STREQ(SzVRALSzListGet(l.p, 300), "token299");
    EXPECT_GT(l.p->cbAlloc, 512);
}

TEST(StrSepAndTok, Refusals)
{
    ListPtr l;
    VRALSzList *none = nullptr;
    auto bad = [](int r) {
        EXPECT_EQ(r, -1);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
        VRALErrSetCode(0);
    };
    bad(VRALStrSep(nullptr, ",", &l.p));
    bad(VRALStrSep("a", nullptr, &l.p));
    bad(VRALStrSep("a", ",", nullptr));
    bad(VRALStrSep("a", ",", &none));
    bad(VRALStrTok(nullptr, ",", &l.p));
    bad(VRALStrTok("a", nullptr, &l.p));
    bad(VRALStrTok("a", ",", nullptr));
    bad(VRALStrTok("a", ",", &none));
    EXPECT_EQ(l.p->nItem, 0);
}

TEST(StrTokNext, WalksNonEmptyTokens)
{
    char text[] = ",,alpha,,beta,";
    char *cursor = text;
    EXPECT_STREQ(VRALStrTokNext(&cursor, ","), "alpha");
    EXPECT_STREQ(VRALStrTokNext(&cursor, ","), "beta");
    EXPECT_EQ(VRALStrTokNext(&cursor, ","), nullptr);
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(VRALStrTokNext(&cursor, ","), nullptr);
    EXPECT_EQ(VRALStrTokNext(nullptr, ","), nullptr);
    char other[] = "a";
    cursor = other;
    EXPECT_EQ(VRALStrTokNext(&cursor, nullptr), nullptr);
}

TEST(StrSepPair, TableOfPairs)
{
    const struct {
        const char *str;
        int result;
        Strings pushed;
    } cases[] = {
        {"  key  = \"a=b c\" ", 0, {"key", "a=b c"}},
        {"key=", 0, {"key", ""}},
        {"k=v=w", 0, {"k", "v=w"}},
        {"\tname\t=\tvalue\r\n", 0, {"name", "value"}},
        {"=value", -1, {}},
        {"  =value", -1, {}},
        {"", -1, {}},
        {"no equals sign", -1, {"no equals sign"}},
    };
    for (const auto &c : cases) {
        ListPtr l;
        VRALErrSetCode(0);
        EXPECT_EQ(VRALStrSepPair(c.str, &l.p), c.result) << c.str;
        EXPECT_EQ(listItems(l.p), c.pushed) << c.str;
        if (c.result < 0) {
            EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
        }
    }
    ListPtr l;
    EXPECT_EQ(VRALStrSepPair(nullptr, &l.p), -1);
    EXPECT_EQ(VRALStrSepPair("a=b", nullptr), -1);
}

TEST(StrColon, TableOfEncodings)
{
    const struct {
        const char *plain;
        const char *encoded;
    } cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"a:b", "a;,b"},
        {"a;b", "a;;b"},
        {"::;;", ";,;,;;;;"},
        {"x;,y", "x;;,y"},
        {"C:\\dir;1", "C;,\\dir;;1"},
    };
    for (const auto &c : cases) {
        char enc[64];
        char dec[64];
        EXPECT_EQ(VRALStrEncodeColon(c.plain, enc, sizeof(enc)), static_cast<int>(strlen(c.encoded)));
        EXPECT_STREQ(enc, c.encoded);
        EXPECT_EQ(VRALStrDecodeColon(enc, dec, sizeof(dec)), static_cast<int>(strlen(c.plain)));
        EXPECT_STREQ(dec, c.plain);
    }
}

TEST(StrColon, DecodeStopsAtALoneSemicolon)
{
    const struct {
        const char *in;
        const char *out;
    } cases[] = {{"abc;", "abc"}, {"ab;xcd", "ab"}, {";", ""}, {"a;,b;", "a:b"}, {";;;", ";"}};
    for (const auto &c : cases) {
        char out[16];
        EXPECT_EQ(VRALStrDecodeColon(c.in, out, sizeof(out)), static_cast<int>(strlen(c.out))) << c.in;
        EXPECT_STREQ(out, c.out) << c.in;
    }
}

TEST(StrColon, CapacityAndArguments)
{
    char out[8];
    // "a:b" needs "a;,b" and its terminator: 5 bytes.
    EXPECT_EQ(VRALStrEncodeColon("a:b", out, 5), 4);
    strcpy(out, "zzzzzzz");
    VRALErrSetCode(0);
    EXPECT_EQ(VRALStrEncodeColon("a:b", out, 4), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BUFFER_TOO_SMALL);
    EXPECT_STREQ(out, "");  // no half-written text left behind
    EXPECT_EQ(VRALStrEncodeColon("", out, 0), -1);
    EXPECT_EQ(VRALStrEncodeColon("", out, 1), 0);

    // Decoding wants len(in) + 1 whatever the result.
    EXPECT_EQ(VRALStrDecodeColon("a;,b", out, 5), 3);
    VRALErrSetCode(0);
    EXPECT_EQ(VRALStrDecodeColon("a;,b", out, 4), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BUFFER_TOO_SMALL);

    const char *in = "x";
    auto bad = [](int r) {
        EXPECT_EQ(r, -1);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
        VRALErrSetCode(0);
    };
    bad(VRALStrEncodeColon(nullptr, out, 8));
    bad(VRALStrEncodeColon(in, nullptr, 8));
    bad(VRALStrEncodeColon(out, out, 8));
    bad(VRALStrDecodeColon(nullptr, out, 8));
    bad(VRALStrDecodeColon(in, nullptr, 8));
    bad(VRALStrDecodeColon(out, out, 8));
}
