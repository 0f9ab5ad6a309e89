// Language codes of the codepage keys to converter ids, and the keys read
// from "/etc/vexainfo.conf" inside the appliance root.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "approot.h"
#include "base/err/vral_err.h"
#include "base/unicode/vral_unicode.h"
#include "root_probe.h"

namespace {

using vexatest::probe::hex;
using vexatest::probe::num;
using vexatest::probe::say;

// "get <kind>": VEXAConfCodePageGet; "parse <kind> <value>".
int probe(std::vector<std::string> ops)
{
    for (size_t i = 0; i < ops.size();) {
        const std::string op = ops[i++];
        if (op == "get" && i < ops.size()) {
            int kind = num(ops[i++]);
            int id = -99;
            VRALErrSetCode(0);
            int r = VEXAConfCodePageGet(kind, &id);
            say("get " + std::to_string(kind) + " " + std::to_string(r) + " " + std::to_string(id) + " " +
                hex(VRALErrGet()));
        } else if (op == "parse" && i + 1 < ops.size()) {
            int kind = num(ops[i++]);
            const std::string value = ops[i++];
            VRALErrSetCode(0);
            int r = VRALUnicodeCodepageValueParse(kind, value.c_str());
            say("parse " + std::to_string(r) + " " + hex(VRALErrGet()));
        } else {
            say("bad op " + op);
            return 2;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

// Expected ids by kind 1, 2, 3 and 4 for every language code.
struct Lang {
    const char *code;
    int first, second, mac, media;
} const kLangs[] = {
    {"utf8", 0, 0, 0, 0},    {"enu", 15, 2, 31, 15},  {"fre", 15, 4, 31, 15}, {"ger", 15, 4, 31, 15},
    {"ita", 15, 4, 31, 15},  {"spn", 15, 4, 31, 15},  {"cht", 12, 12, 28, 12}, {"chs", 10, 10, 26, 10},
    {"jpn", 9, 9, 25, 9},    {"krn", 11, 11, 27, 11}, {"ptb", 15, 4, 31, 15}, {"rus", 14, 8, 30, 14},
    {"dan", 15, 4, 31, 15},  {"nor", 15, 4, 31, 15},  {"sve", 15, 4, 31, 15}, {"nld", 15, 4, 31, 15},
    {"plk", 13, 5, 29, 13},  {"ptg", 15, 4, 31, 15},  {"hun", 13, 5, 29, 13}, {"trk", 17, 6, 33, 17},
};

std::string upper(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

TEST(CodepageParse, EveryLanguageAndKind)
{
    int n = 0;
    for (const VRALCODEPAGELANG *p = gCodepageLangTable; p->szLang != nullptr; ++p)
        ++n;
    EXPECT_EQ(n, static_cast<int>(std::size(kLangs)));
    for (const Lang &l : kLangs) {
        for (const std::string &code : {std::string(l.code), upper(l.code)}) {
            EXPECT_EQ(VRALUnicodeCodepageValueParse(1, code.c_str()), l.first) << code;
            EXPECT_EQ(VRALUnicodeCodepageValueParse(2, code.c_str()), l.second) << code;
            EXPECT_EQ(VRALUnicodeCodepageValueParse(3, code.c_str()), l.mac) << code;
            EXPECT_EQ(VRALUnicodeCodepageValueParse(4, code.c_str()), l.media) << code;
        }
    }
    EXPECT_EQ(VRALUnicodeCodepageValueParse(3, "Enu"), 31);
    // Every id a lookup yields names a converter of the table.
    for (const Lang &l : kLangs) {
        for (int id : {l.first, l.second, l.mac})
            EXPECT_LT(id, VRAL_CONVERTOR_COUNT);
    }
}

TEST(CodepageParse, UnknownCodesRecordNothing)
{
    for (const char *v : {"xyz", "", "en", "enus", "utf-8", " enu"}) {
        VRALErrSetCode(0x4200);
        EXPECT_EQ(VRALUnicodeCodepageValueParse(1, v), -1) << v;
        EXPECT_EQ(VRALErrGet(), 0x4200);
    }
    EXPECT_EQ(VRALUnicodeCodepageValueParse(1, nullptr), -1);
}

TEST(CodepageConf, NullAddressIsRefused)
{
    VRALErrSetCode(0);
    EXPECT_EQ(VEXAConfCodePageGet(1, nullptr), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
}

TEST(CodepageConf, KeysReadFromTheSystemFile)
{
    approot::Appliance app("codepage");
    app.writeFile("/etc/vexainfo.conf",
                  "hostname=\"box\"\n"
                  "codepage=\"Rus\"\n"
                  "codepage_mediaservice=\"enu\"\n"
                  "codepage=\"jpn\"\n");
    auto r = app.run(vexatest::probe::argv({"get", "1", "get", "2", "get", "3", "get", "4"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(vexatest::probe::said(r.out),
              (std::vector<std::string>{"get 1 0 14 0x0000", "get 2 0 8 0x0000", "get 3 0 30 0x0000",
                                        "get 4 0 15 0x0000"}));
    EXPECT_TRUE(app.syslog().empty());
}

TEST(CodepageConf, Failures)
{
    struct Case {
        const char *conf;   // nullptr: no file
        int kind;
        std::string said;
    } cases[] = {
        {"codepage=\"utf8\"\n", 4, "get 4 -1 -99 " + hex(ERR_NOT_FOUND)},
        {"codepage=\"abcdefgh\"\n", 1, "get 1 -1 -99 " + hex(ERR_BUFFER_TOO_SMALL)},
        {"codepage=\"xyz\"\n", 1, "get 1 -1 -99 0x0000"},
        {"codepage=\"\"\n", 2, "get 2 -1 -99 0x0000"},
    };
    for (const Case &c : cases) {
        approot::Appliance app("codepage");
        app.writeFile("/etc/vexainfo.conf", c.conf);
        auto r = app.run(vexatest::probe::argv({"get", std::to_string(c.kind)}));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(vexatest::probe::said(r.out), std::vector<std::string>{c.said}) << c.conf;
    }
}

TEST(CodepageConf, UnknownKindLogsOnce)
{
    approot::Appliance app("codepage");
    app.writeFile("/etc/vexainfo.conf", "codepage=\"enu\"\n");
    auto r = app.run(vexatest::probe::argv({"get", "5", "parse", "0", "utf8", "parse", "5", "xyz"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(vexatest::probe::said(r.out),
              (std::vector<std::string>{"get 5 -1 -99 0x0000", "parse -1 0x0000", "parse -1 0x0000"}));
    auto log = app.syslog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].rfind("<11>", 0), 0u) << log[0];
    EXPECT_NE(log[0].find("unicode_codepage_value_parse.cpp ("), std::string::npos) << log[0];
    EXPECT_NE(log[0].find(") Bad parameter (5)."), std::string::npos) << log[0];
    EXPECT_NE(log[1].find(") Bad parameter (0)."), std::string::npos) << log[1];
}

}  // namespace
