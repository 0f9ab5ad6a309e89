// Writes the platform's vexa_win_* and vexa_mac_* converters for the tests:
// each one is a copy of the nearest stock ICU converter, dumped as a .ucm
// mapping file and compiled with makeconv into <out>/<ICU data name>/.
//
//   codepages_gen <makeconv> <out dir>
#include <unicode/ucnv.h>
#include <unicode/uniset.h>
#include <unicode/uset.h>
#include <unicode/utf16.h>
#include <unicode/utypes.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

struct Pair {
    const char *name;   // platform converter
    const char *stock;  // stock ICU converter it stands for
};

// Windows code pages for the converters of the first ids, DOS code pages
// for those of the second ids, Mac encodings for the Mac ids.
const Pair kPairs[] = {
    {"vexa_win_english", "ibm-437"},         // DOS United States
    {"vexa_win_greek", "ibm-737"},           // DOS Greek
    {"vexa_win_westeuro", "ibm-850"},        // DOS Latin-1
    {"vexa_win_latin2", "ibm-852"},          // DOS Latin-2
    {"vexa_win_turkish", "ibm-857"},         // DOS Turkish
    {"vexa_win_icelandic", "ibm-861"},       // DOS Icelandic
    {"vexa_win_cyrillic", "ibm-866"},        // DOS Russian
    {"vexa_win_japanese", "windows-932"},    // Shift-JIS, Windows flavour
    {"vexa_win_chinsimp", "windows-936"},    // GBK
    {"vexa_win_korean", "windows-949"},      // Unified Hangul
    {"vexa_win_chintrad", "windows-950"},    // Big5, Windows flavour
    {"vexa_win_easteuro_1250", "windows-1250"},
    {"vexa_win_cyrillic_1251", "windows-1251"},
    {"vexa_win_westeuro_1252", "windows-1252"},
    {"vexa_win_greek_1253", "windows-1253"},
    {"vexa_win_turkish_1254", "windows-1254"},
    {"vexa_mac_eng_euro", "macintosh"},      // Mac Roman
    {"vexa_mac_greek", "x-mac-greek"},
    {"vexa_mac_turkish", "x-mac-turkish"},
    {"vexa_mac_cyrillic", "x-mac-cyrillic"},
    // No stock Mac converters for the CJK scripts: the nearest stock
    // encodings they are built on.
    {"vexa_mac_japanese", "Shift_JIS"},      // nearest to Mac Japanese
    {"vexa_mac_chinsimp", "GB2312"},         // EUC-CN, nearest to Mac Simplified Chinese
    {"vexa_mac_korean", "EUC-KR"},           // nearest to Mac Korean
    {"vexa_mac_chintrad", "Big5"},           // nearest to Mac Traditional Chinese
};

std::string hexBytes(const std::string &b)
{
    std::string out;
    char buf[8];
    for (unsigned char c : b) {
        snprintf(buf, sizeof buf, "\\x%02X", c);
        out += buf;
    }
    return out;
}

// Byte ranges "a-b" of the set bits, each with the given suffix.
void addRanges(std::vector<std::string> &out, const std::vector<bool> &bits, const char *suffix)
{
    char buf[32];
    for (int i = 0; i < 256;) {
        if (!bits[i]) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 < 256 && bits[j + 1])
            ++j;
        if (i == j)
            snprintf(buf, sizeof buf, "%x%s", i, suffix);
        else
            snprintf(buf, sizeof buf, "%x-%x%s", i, j, suffix);
        out.push_back(buf);
        i = j + 1;
    }
}

std::string join(const std::vector<std::string> &v)
{
    std::string s;
    for (const auto &e : v) {
        if (!s.empty())
            s += ", ";
        s += e;
    }
    return s;
}

// The stock converter's bytes for one code point, empty when unmapped.
std::string encode(UConverter *cnv, UChar32 c)
{
    UChar u[2];
    int32_t n = 0;
    U16_APPEND_UNSAFE(u, n, c);
    char out[16];
    UErrorCode st = U_ZERO_ERROR;
    int32_t cb = ucnv_fromUChars(cnv, out, sizeof out, u, n, &st);
    if (U_FAILURE(st) || cb <= 0)
        return {};
    return std::string(out, static_cast<size_t>(cb));
}

bool writeUcm(const Pair &p, const std::string &path)
{
    UErrorCode st = U_ZERO_ERROR;
    UConverter *cnv = ucnv_open(p.stock, &st);
    if (U_FAILURE(st)) {
        std::cerr << p.stock << ": " << u_errorName(st) << "\n";
        return false;
    }
    st = U_ZERO_ERROR;
    ucnv_setFromUCallBack(cnv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &st);
    ucnv_setFallback(cnv, true);

    icu::UnicodeSet roundtrip, all;
    st = U_ZERO_ERROR;
    ucnv_getUnicodeSet(cnv, roundtrip.toUSet(), UCNV_ROUNDTRIP_SET, &st);
    ucnv_getUnicodeSet(cnv, all.toUSet(), UCNV_ROUNDTRIP_AND_FALLBACK_SET, &st);
    if (U_FAILURE(st)) {
        std::cerr << p.stock << ": " << u_errorName(st) << "\n";
        ucnv_close(cnv);
        return false;
    }

    std::map<UChar32, std::pair<std::string, int>> maps;
    size_t cbMax = 1, cbMin = 4;
    std::vector<bool> single(256), lead(256), trail(256);
    for (int32_t r = 0; r < all.getRangeCount(); ++r) {
        for (UChar32 c = all.getRangeStart(r); c <= all.getRangeEnd(r); ++c) {
            std::string b = encode(cnv, c);
            if (b.empty())
                continue;
            if (b.size() > 2) {
                std::cerr << p.stock << ": sequences of more than two bytes\n";
                ucnv_close(cnv);
                return false;
            }
            maps[c] = {b, roundtrip.contains(c) ? 0 : 1};
            cbMax = std::max(cbMax, b.size());
            cbMin = std::min(cbMin, b.size());
            if (b.size() == 1) {
                single[static_cast<unsigned char>(b[0])] = true;
            } else {
                lead[static_cast<unsigned char>(b[0])] = true;
                trail[static_cast<unsigned char>(b[1])] = true;
            }
        }
    }
    char sub[8];
    int8_t cbSub = sizeof sub;
    st = U_ZERO_ERROR;
    ucnv_getSubstChars(cnv, sub, &cbSub, &st);
    ucnv_close(cnv);
    // The substitution bytes must be a valid sequence of the state table.
    if (U_SUCCESS(st) && cbSub == 2) {
        lead[static_cast<unsigned char>(sub[0])] = true;
        trail[static_cast<unsigned char>(sub[1])] = true;
    }

    for (int i = 0; i < 256; ++i) {
        if (single[i] && lead[i]) {
            std::cerr << p.stock << ": byte " << i << " is both single and lead\n";
            return false;
        }
    }

    std::ofstream f(path);
    f << "# " << p.name << ": a copy of the stock converter " << p.stock << "\n";
    f << "<code_set_name>               \"" << p.name << "\"\n";
    f << "<mb_cur_max>                  " << cbMax << "\n";
    f << "<mb_cur_min>                  " << cbMin << "\n";
    f << "<uconv_class>                 \"" << (cbMax == 1 ? "SBCS" : "MBCS") << "\"\n";
    if (U_SUCCESS(st) && cbSub > 0)
        f << "<subchar>                     " << hexBytes(std::string(sub, static_cast<size_t>(cbSub))) << "\n";
    if (cbMax > 1) {
        std::vector<std::string> s0, s1;
        std::vector<bool> rest(256);
        for (int i = 0; i < 256; ++i)
            rest[i] = !lead[i];
        addRanges(s0, rest, "");
        addRanges(s0, lead, ":1");
        addRanges(s1, trail, "");
        f << "<icu:state>                   " << join(s0) << "\n";
        f << "<icu:state>                   " << join(s1) << "\n";
    }
    f << "CHARMAP\n";
    char buf[16];
    for (const auto &[c, m] : maps) {
        snprintf(buf, sizeof buf, "<U%04X>", static_cast<unsigned>(c));
        f << buf << " " << hexBytes(m.first) << " |" << m.second << "\n";
    }
    f << "END CHARMAP\n";
    return static_cast<bool>(f);
}

int run(const std::vector<std::string> &argv)
{
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        std::vector<char *> a;
        for (const auto &s : argv)
            a.push_back(const_cast<char *>(s.c_str()));
        a.push_back(nullptr);
        execv(a[0], a.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::cerr << "usage: codepages_gen <makeconv> <out dir>\n";
        return 2;
    }
    std::string makeconv = argv[1];
    std::string out = argv[2];
    std::string ucmDir = out + "/ucm";
    std::string cnvDir = out + "/" U_ICUDATA_NAME;
    for (const std::string &d : {out, ucmDir, cnvDir})
        mkdir(d.c_str(), 0755);

    for (const Pair &p : kPairs) {
        std::string ucm = ucmDir + "/" + p.name + ".ucm";
        if (!writeUcm(p, ucm)) {
            std::cerr << "cannot write " << ucm << "\n";
            return 1;
        }
        if (run({makeconv, "-d", cnvDir, ucm}) != 0) {
            std::cerr << "makeconv failed for " << ucm << "\n";
            return 1;
        }
    }
    return 0;
}
