// Comparison of dotted version texts such as "2.0.1" or "1.2.beta".
#include <strings.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "updt_analysis.h"

namespace {

// A part's rank: its number, or for a part whose number is 0 the rank of
// its word.
long partValue(std::string_view part)
{
    const std::string text(part);
    const long v = strtol(text.c_str(), nullptr, 10);
    if (v != 0)
        return v;
    if (strcasecmp(text.c_str(), "alpha") == 0)
        return -30;
    if (strcasecmp(text.c_str(), "beta") == 0)
        return -20;
    if (strcasecmp(text.c_str(), "rc") == 0)
        return -10;
    return 0;
}

// Splits off the first part; true when another part follows it.
bool nextPart(std::string_view &rest, std::string_view &part)
{
    const size_t dot = rest.find('.');
    if (dot == std::string_view::npos) {
        part = rest;
        rest = {};
        return false;
    }
    part = rest.substr(0, dot);
    rest = rest.substr(dot + 1);
    return !rest.empty();
}

}  // namespace

// Works on the whole texts, of any length.
extern "C" int UPDTCompareVersion(const char *a, const char *b)
{
    if (a == nullptr || b == nullptr)
        return 0;
    std::string_view ra = a;
    std::string_view rb = b;
    if (ra.empty() && !rb.empty())
        return -1;
    if (!ra.empty() && rb.empty())
        return 1;
    for (;;) {
        std::string_view pa, pb;
        const bool moreA = nextPart(ra, pa);
        const bool moreB = nextPart(rb, pb);
        const long va = partValue(pa);
        const long vb = partValue(pb);
        if (va > vb)
            return 1;
        if (va < vb)
            return -1;
        if (moreA != moreB)
            return moreA ? 1 : -1;
        if (!moreA)
            return 0;
    }
}
