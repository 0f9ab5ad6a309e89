#include <cstring>

#include <unicode/uloc.h>

#include "base/unicode/unicode_scratch.h"
#include "base/unicode/vral_unicode.h"

namespace vral::unicode {

namespace {

// Upper-cased form of one code point, as ICU gives it for the whole text.
struct UpperOf {
    UChar u[3];
    uint8_t n;  // 0: not in the table, ask ICU
};

// Code points below U+0800: one- and two-byte UTF-8, where the names of
// the Latin, Greek and Cyrillic scripts lie.
constexpr int kTableSize = 0x800;

// ICU upper-cases each code point on its own except under the Greek rules
// (accents depend on the neighbours) and the Lithuanian ones (a dot above
// after an i): for every other locale the upper-cased text is the
// upper-cased code points one after the other, and a table filled from ICU
// one code point at a time gives exactly its result.  Built once per
// locale; nullptr when the locale's rules look at neighbours.
const UpperOf *upperTable(const char *szLocale)
{
    static UpperOf table[kTableSize];
    static char szBuilt[VRAL_COLLATOR_LOCALE_SIZE];
    static bool fBuilt = false;
    static bool fUsable = false;
    if (fBuilt && strcmp(szBuilt, szLocale) == 0)
        return fUsable ? table : nullptr;

    char szLang[ULOC_LANG_CAPACITY] = "";
    UErrorCode status = U_ZERO_ERROR;
    uloc_getLanguage(szLocale, szLang, sizeof szLang, &status);
    fUsable = U_SUCCESS(status);
    for (const char *szContext : {"el", "ell", "gre", "lt", "lit"})
        fUsable = fUsable && strcmp(szLang, szContext) != 0;
    for (int cp = 1; fUsable && cp < kTableSize; ++cp) {
        const UChar src[2] = {static_cast<UChar>(cp), 0};
        UChar out[4];
        status = U_ZERO_ERROR;
        int32_t cch = u_strToUpper(out, 4, src, -1, szLocale, &status);
        UpperOf &e = table[cp];
        e.n = U_SUCCESS(status) && cch > 0 && cch <= 3 ? static_cast<uint8_t>(cch) : 0;
        memcpy(e.u, out, sizeof e.u);
    }
    fBuilt = strlen(szLocale) < sizeof szBuilt;
    if (fBuilt)
        strcpy(szBuilt, szLocale);
    return fUsable ? table : nullptr;
}

// Upper-cases from the table a text of one- and two-byte UTF-8 whose
// upper-cased form fits cap - 1 units.  The length, or -1 when the text
// holds anything else (left to ICU, which also judges invalid bytes).
int32_t upperFromTable(const UpperOf *table, const char *szSrc, UChar *out, int32_t cap)
{
    int32_t cch = 0;
    for (auto *p = reinterpret_cast<const unsigned char *>(szSrc); *p != 0;) {
        int cp;
        if (*p < 0x80) {
            cp = *p++;
        } else if (*p >= 0xC2 && *p <= 0xDF && (p[1] & 0xC0) == 0x80) {
            cp = ((p[0] & 0x1F) << 6) | (p[1] & 0x3F);
            p += 2;
        } else {
            return -1;
        }
        const UpperOf &e = table[cp];
        if (e.n == 0 || cch + e.n >= cap)
            return -1;
        for (int i = 0; i < e.n; ++i)
            out[cch++] = e.u[i];
    }
    out[cch] = 0;
    return cch;
}

}  // namespace

int UpperText::set(const char *szSrc)
{
    cch_ = -1;
    refused_ = false;
    // Names in the Latin, Greek and Cyrillic scripts, the common case, need
    // no ICU call at all.
    const char *szLocale = nullptr;
    if (VRALUnicodeGetLocale(0, &szLocale) >= 0) {
        const UpperOf *table = upperTable(szLocale);
        if (table != nullptr) {
            int32_t cch = upperFromTable(table, szSrc, out_.reserve(kStackUnits), kStackUnits);
            if (cch >= 0)
                return cch_ = cch;
        }
    }

    int cch = fromUTF8(szSrc, src_, &refused_);
    if (cch < 0)
        return -1;
    // A name fits the stack even when upper-casing lengthens it a little;
    // a longer text starts with twice its length, which rarely needs more.
    UChar *p = cch < kStackUnits ? out_.reserve(kStackUnits) : reserveScaled(out_, static_cast<size_t>(cch), 2);
    if (p == nullptr)
        return -1;
    cch_ = upperInto(src_.get(), out_, &refused_);
    return cch_;
}

}  // namespace vral::unicode
