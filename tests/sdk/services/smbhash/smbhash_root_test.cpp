// The LAN Manager hash with the code page of "/etc/vexainfo.conf", and what
// both hashes leave in the system log, inside the appliance root.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "approot.h"
#include "base/err/vral_err.h"
#include "codepages_data.h"
#include "hash_reference.h"
#include "root_probe.h"
#include "services/smbhash/vexa_smbhash.h"

namespace {

using hashref::hex;
using hashref::unhex;
using vexatest::probe::say;

using HashFn = int (*)(const char *, unsigned char *, int);

// "<result> <hash or -> <error code>".
std::string hashLine(HashFn fn, const std::string &pw)
{
    unsigned char out[16];
    memset(out, 0x55, sizeof out);
    VRALErrSetCode(0);
    const int r = fn(pw.c_str(), out, sizeof out);
    const std::string h = std::string(reinterpret_cast<char *>(out), 16);
    return std::to_string(r) + " " +
           (r == 0                         ? hex(h)
            : h == std::string(16, '\x55') ? "-"
                                           : "written") +
           " " + vexatest::probe::hex(VRALErrGet());
}

// Stack below the caller after a hash: whether it still holds the text.
__attribute__((noinline)) bool stackHolds(const std::string &text)
{
    volatile unsigned char area[32768];
    std::string seen(sizeof area, '\0');
    for (size_t i = 0; i < sizeof area; ++i)
        seen[i] = static_cast<char>(area[i]);
    return seen.find(text) != std::string::npos;
}

// A copy that is not wiped, to show the scan finds one.
__attribute__((noinline)) void leaveCopy(const std::string &text)
{
    volatile unsigned char copy[256];
    for (size_t i = 0; i < text.size() && i < sizeof copy; ++i)
        copy[i] = static_cast<unsigned char>(text[i]);
}

// Freed heap blocks, as malloc hands them out again: whether one holds the
// text.  The first 16 bytes of a free block hold the allocator's links, so
// the text is looked for past them.
bool heapHolds(std::string_view text)
{
    // Nothing else is allocated while the blocks are taken.
    static void *blocks[128 * 8];
    static char seen[2048];
    size_t n = 0;
    bool found = false;
    for (size_t size = 16; size <= sizeof seen; size += 16) {
        for (int i = 0; i < 8; ++i) {
            auto *p = static_cast<volatile unsigned char *>(malloc(size));
            for (size_t j = 0; j < size; ++j)
                seen[j] = static_cast<char>(p[j]);
            found = found || memmem(seen, size, text.data(), text.size()) != nullptr;
            blocks[n++] = const_cast<unsigned char *>(p);
        }
    }
    for (size_t i = 0; i < n; ++i)
        free(blocks[i]);
    return found;
}

std::string ucs2(const std::string &ascii)
{
    std::string s;
    for (char c : ascii) {
        s += c;
        s += '\0';
    }
    return s;
}

// "lm HEX", "nt HEX": one hash; "lm-file PATH", "nt-file PATH": one line
// each for the hex passwords of a file; "stack-lm TEXT", "stack-nt TEXT":
// whether a copy of the password outlives the hash on the stack; "heap-lm
// TEXT": in freed heap blocks.
int probe(std::vector<std::string> ops)
{
    codepages::useTestConverters();
    for (size_t i = 0; i + 1 < ops.size(); i += 2) {
        const std::string &op = ops[i];
        const std::string &arg = ops[i + 1];
        HashFn fn = op.find("lm") != std::string::npos ? VEXAEncodingSmbLmHash : VEXAEncodingSmbMd4Hash;
        if (op == "lm" || op == "nt") {
            say(hashLine(fn, unhex(arg)));
        } else if (op == "lm-file" || op == "nt-file") {
            std::ifstream in(arg);
            for (std::string line; std::getline(in, line);)
                say(hashLine(fn, unhex(line)));
        } else if (op == "stack-lm" || op == "stack-nt") {
            // ASCII text: its upper-cased form (the LAN Manager key) and its
            // UCS-2 form (the NT message) are what the hashes copy.
            std::string upper = arg;
            for (char &c : upper)
                c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            const std::string copy = op == "stack-lm" ? upper.substr(0, 14) : ucs2(arg);
            leaveCopy(copy);
            const bool control = stackHolds(copy);
            leaveCopy(std::string(copy.size(), 'x'));
            unsigned char out[16];
            const int r = fn(arg.c_str(), out, sizeof out);
            say(std::to_string(r) + (control ? " control-found " : " control-missing ") +
                (stackHolds(copy) ? "left" : "clean"));
        } else if (op == "heap-lm") {
            // The upper-cased text passes through the Unicode helpers'
            // scratch blocks as UTF-16 and as UTF-8.  The patterns stay off
            // the heap, and the planted block comes after the hash, so only
            // the hash's own blocks can hold the text when it is looked for.
            static char upper[256], wide[512];
            const size_t n = std::min(arg.size(), sizeof upper);
            for (size_t j = 0; j < n; ++j) {
                upper[j] = static_cast<char>(toupper(static_cast<unsigned char>(arg[j])));
                wide[2 * j] = upper[j];
                wide[2 * j + 1] = '\0';
            }
            unsigned char out[16];
            const int r = fn(arg.c_str(), out, sizeof out);
            const std::string_view wideTail(wide + 16, 2 * n - 16), upperTail(upper + 16, n - 16);
            const bool left = heapHolds(wideTail) || heapHolds(upperTail);
            // volatile: the compiler may not drop the unused block.
            auto *planted = static_cast<volatile char *>(malloc(2 * n + 64));
            for (size_t j = 0; j < wideTail.size(); ++j)
                planted[32 + j] = wideTail[j];
            free(const_cast<char *>(planted));
            const bool control = heapHolds(wideTail);
            say(std::to_string(r) + (control ? " control-found " : " control-missing ") + (left ? "left" : "clean"));
        } else {
            say("bad op " + op);
            return 2;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

std::string conf(const std::string &codepage)
{
    std::string text = "hostname=\"box\"\n";
    if (!codepage.empty())
        text += "codepage=\"" + codepage + "\"\n";
    return text;
}

std::vector<std::string> runHashes(approot::Appliance &app, const std::vector<std::pair<std::string, std::string>> &ops)
{
    std::vector<std::string> argv;
    for (const auto &[op, pw] : ops) {
        argv.push_back(op);
        argv.push_back(hex(pw));
    }
    return vexatest::probe::run(app, argv);
}

constexpr const char *kPasswordLm = "0 E52CAC67419A9A224A3B108F3FA6CB6D 0x0000";

TEST(LmHash, KnownValuesAndCases)
{
    struct Case {
        const char *name;
        std::string pw;
        std::string result;
        std::string enu = "";  // under "enu", when it differs
    };
    const std::string lm14 = "0 " + hex(hashref::lm("ABCDEFGHIJKLMN", nullptr)) + " 0x0000";
    const std::string a127 = "0 " + hex(hashref::lm(std::string(14, 'A'), nullptr)) + " 0x0000";
    const std::vector<Case> cases = {
        {.name = "empty", .pw = "", .result = "0 AAD3B435B51404EEAAD3B435B51404EE 0x0000"},
        {.name = "password", .pw = "password", .result = kPasswordLm},
        {.name = "PASSWORD", .pw = "PASSWORD", .result = kPasswordLm},
        {.name = "PassWord", .pw = "PassWord", .result = kPasswordLm},
        {.name = "fourteen", .pw = "abcdefghijklmn", .result = lm14},
        {.name = "cut_at_14", .pw = "abcdefghijklmnopq", .result = lm14},
        {.name = "a_127", .pw = std::string(127, 'a'), .result = a127},
        {.name = "upper_128_bytes", .pw = std::string(128, 'a'), .result = "-1 - 0x0000"},
        // U+0149 (two bytes) upper-cases to U+02BC and N (three): 127 bytes
        // become 128.
        {.name = "upper_grows_past_128", .pw = std::string(125, 'a') + "\xc5\x89", .result = "-1 - 0x0000"},
        // U+02BC is no character of the Western code page
        {.name = "upper_grows_to_127",
         .pw = std::string(124, 'a') + "\xc5\x89",
         .result = a127,
         .enu = "-1 - 0x8000"},
        {.name = "bad_utf8", .pw = "pass\xff", .result = "-1 - 0x8000"},
    };
    for (const char *codepage : {"enu", "utf8"}) {
        approot::Appliance app("lmhash");
        app.writeFile("/etc/vexainfo.conf", conf(codepage));
        std::vector<std::pair<std::string, std::string>> ops;
        for (const Case &c : cases)
            ops.emplace_back("lm", c.pw);
        const std::vector<std::string> said = runHashes(app, ops);
        ASSERT_EQ(said.size(), cases.size()) << codepage;
        for (size_t i = 0; i < cases.size(); ++i)
            EXPECT_EQ(said[i], std::string(codepage) == "enu" && !cases[i].enu.empty() ? cases[i].enu
                                                                                       : cases[i].result)
                << codepage << " " << cases[i].name;
        EXPECT_TRUE(app.syslog().empty());
    }
}

TEST(LmHash, UnicodeCaseAndCodePage)
{
    // Upper-cased with Unicode rules, then converted: e acute is one byte in
    // the Western code page and two in UTF-8, so the hashes differ.
    approot::Appliance enu("lmcase");
    enu.writeFile("/etc/vexainfo.conf", conf("ENU"));
    const std::vector<std::string> a = runHashes(enu, {{"lm", "caf\xc3\xa9"},
                                                       {"lm", "CAF\xc3\x89"},
                                                       {"lm", "stra\xc3\x9f"
                                                              "e"},
                                                       {"lm", "STRASSE"}});
    ASSERT_EQ(a.size(), 4u);
    EXPECT_EQ(a[0], a[1]);
    EXPECT_EQ(a[0], "0 " + hex(hashref::lm("CAF\xc3\x89", "windows-1252")) + " 0x0000");
    EXPECT_EQ(a[2], a[3]);

    approot::Appliance utf8("lmcase8");
    utf8.writeFile("/etc/vexainfo.conf", conf("utf8"));
    const std::vector<std::string> b = runHashes(utf8, {{"lm", "caf\xc3\xa9"}});
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0], "0 " + hex(hashref::lm("CAF\xc3\x89", nullptr)) + " 0x0000");
    EXPECT_NE(a[0], b[0]);
}

TEST(LmHash, WithoutCodePageOnlyNtWorks)
{
    approot::Appliance app("lmnocp");
    app.writeFile("/etc/vexainfo.conf", conf(""));
    EXPECT_EQ(runHashes(app, {{"lm", "password"}, {"nt", "password"}}),
              (std::vector<std::string>{"-1 - 0x2000", "0 8846F7EAEE8FB117AD06BDD830B7586C 0x0000"}));
}

TEST(LmHash, RandomPasswordsAgainstNettle)
{
    struct {
        const char *codepage;
        const char *converter;  // nullptr: the text stays UTF-8
    } const kPages[] = {{"utf8", nullptr}, {"enu", "windows-1252"}, {"rus", "windows-1251"}};
    for (const auto &page : kPages) {
        approot::Appliance app("lmrandom");
        app.writeFile("/etc/vexainfo.conf", conf(page.codepage));
        std::mt19937 rng(2114);
        std::vector<std::string> pws = hashref::randomPasswords(rng, false, 100);
        for (const std::string &pw : hashref::randomPasswords(rng, true, 100))
            pws.push_back(pw);
        std::string file;
        for (const std::string &pw : pws)
            file += hex(pw) + "\n";
        app.writeFile("/pw.hex", file);
        const std::vector<std::string> said = vexatest::probe::run(app, {"lm-file", "/pw.hex"});
        ASSERT_EQ(said.size(), pws.size());
        int failed = 0;
        int unmappable = 0;
        for (size_t i = 0; i < pws.size(); ++i) {
            const std::string want = hashref::lm(pws[i], page.converter);
            failed += want.empty();
            unmappable += want == hashref::kUnmappable;
            EXPECT_EQ(said[i], want.empty()                       ? "-1 - 0x0000"
                               : want == hashref::kUnmappable     ? "-1 - 0x8000"
                                                                  : "0 " + hex(want) + " 0x0000")
                << page.codepage << " " << hex(pws[i]);
        }
        // Every outcome was met; only a code page can lack a character.
        EXPECT_GT(failed, 0);
        EXPECT_LT(failed + unmappable, static_cast<int>(pws.size()));
        EXPECT_EQ(unmappable > 0, page.converter != nullptr) << page.codepage;
    }
}

// A character the code page lacks fails the hash: with a substitute byte
// these two passwords would share one hash.
TEST(LmHash, CharacterTheCodePageLacksFails)
{
    approot::Appliance app("lmlack");
    app.writeFile("/etc/vexainfo.conf", conf("enu"));
    EXPECT_EQ(runHashes(app, {{"lm", "\xd0\x9f\xd0\xb0\xd1\x80\xd0\xbe\xd0\xbb\xd1\x8c-1"},
                              {"lm", "\xd0\x90\xd0\xb1\xd0\xb2\xd0\xb3\xd0\xb4\xd0\xb5-1"},
                              {"lm", "caf\xc3\xa9\xe2\x82\xac"},
                              {"nt", "\xd0\x9f\xd0\xb0\xd1\x80\xd0\xbe\xd0\xbb\xd1\x8c-1"}}),
              (std::vector<std::string>{"-1 - 0x8000", "-1 - 0x8000",
                                        "0 " + hex(hashref::lm("caf\xc3\xa9\xe2\x82\xac", "windows-1252")) +
                                            " 0x0000",
                                        "0 " + hex(hashref::nt("\xd0\x9f\xd0\xb0\xd1\x80\xd0\xbe\xd0\xbb\xd1\x8c-1")) +
                                            " 0x0000"}));
    // the same letters in the Cyrillic code page have hashes of their own
    approot::Appliance rus("lmrus");
    rus.writeFile("/etc/vexainfo.conf", conf("rus"));
    const std::vector<std::string> r = runHashes(rus, {{"lm", "\xd0\x9f\xd0\xb0\xd1\x80\xd0\xbe\xd0\xbb\xd1\x8c-1"},
                                                       {"lm", "\xd0\x90\xd0\xb1\xd0\xb2\xd0\xb3\xd0\xb4\xd0\xb5-1"}});
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].substr(0, 2), "0 ");
    EXPECT_NE(r[0], r[1]);
}

TEST(NtHash, BadUtf8LogsThePositionNotThePassword)
{
    approot::Appliance app("ntlog");
    app.writeFile("/etc/vexainfo.conf", conf("enu"));
    EXPECT_EQ(runHashes(app, {{"nt", "Secret\xff"},
                              {"nt", "Tiger\xf0\x9f\x90\xaf"
                                     "Claw"},
                              {"lm", "Secret\xff"}}),
              (std::vector<std::string>{"-1 - 0x8000", "-1 - 0x8000", "-1 - 0x8000"}));
    const std::vector<std::string> log = app.syslog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].find("Bad UTF-8 character after [6]-th character"), std::string::npos) << log[0];
    EXPECT_NE(log[1].find("after [5]-th"), std::string::npos) << log[1];
    for (const std::string &line : log) {
        for (const char *secret : {"Secret", "ecret", "Tiger", "Claw"})
            EXPECT_EQ(line.find(secret), std::string::npos) << line;
    }
}

TEST(BothHashes, NoCopyOfThePasswordLeftOnTheStack)
{
    approot::Appliance app("hashwipe");
    app.writeFile("/etc/vexainfo.conf", conf("enu"));
    const std::vector<std::string> said =
        vexatest::probe::run(app, {"stack-nt", "Correct-Horse-Battery", "stack-lm", "Staple-Word"});
    ASSERT_EQ(said.size(), 2u);
    for (const std::string &line : said) {
        if (line.find("control-missing") != std::string::npos)
            GTEST_SKIP() << "the stack scan does not reach the hash's frames here";
        EXPECT_EQ(line, "0 control-found clean");
    }
}

TEST(LmHash, NoCopyOfThePasswordLeftInFreedBlocks)
{
    approot::Appliance app("hashheap");
    app.writeFile("/etc/vexainfo.conf", conf("enu"));
    const std::vector<std::string> said =
        vexatest::probe::run(app, {"heap-lm", "correct-horse-battery-staple-and-more-words"});
    ASSERT_EQ(said.size(), 1u);
    if (said[0].find("control-missing") != std::string::npos)
        GTEST_SKIP() << "freed blocks are not handed out again here";
    EXPECT_EQ(said[0], "0 control-found clean");
}

}  // namespace
