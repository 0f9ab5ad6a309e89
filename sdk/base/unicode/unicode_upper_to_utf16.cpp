#include <cstring>

#include "base/unicode/unicode_scratch.h"
#include "base/unicode/vral_unicode.h"

namespace vral::unicode {

namespace {

UChar plainUpper(UChar c)
{
    return c >= u'a' && c <= u'z' ? static_cast<UChar>(c - u'a' + u'A') : c;
}

// Whether the locale upper-cases ASCII as the plain a-z map does, asked of
// ICU once per locale.  Its context rules (Greek, Lithuanian) all involve
// characters beyond ASCII, so for an ASCII text the upper-casing is then
// the plain map character by character.
bool asciiUpperIsPlain(const char *szLocale)
{
    static char szChecked[VRAL_COLLATOR_LOCALE_SIZE];
    static bool fChecked = false;
    static bool fPlain = false;
    if (fChecked && strcmp(szChecked, szLocale) == 0)
        return fPlain;
    UChar src[128];
    for (int i = 1; i < 128; ++i)
        src[i - 1] = static_cast<UChar>(i);
    src[127] = 0;
    UChar out[3 * 127 + 1];
    UErrorCode status = U_ZERO_ERROR;
    int32_t cch = u_strToUpper(out, 3 * 127 + 1, src, -1, szLocale, &status);
    fPlain = U_SUCCESS(status) && cch == 127;
    for (int i = 0; fPlain && i < 127; ++i)
        fPlain = out[i] == plainUpper(src[i]);
    strncpy(szChecked, szLocale, sizeof szChecked - 1);
    fChecked = strlen(szLocale) < sizeof szChecked;
    return fPlain;
}

}  // namespace

int UpperText::set(const char *szSrc)
{
    cch_ = -1;
    refused_ = false;
    // Short ASCII names, the common case, need neither ICU conversion.
    size_t n = 0;
    while (n < kStackUnits && szSrc[n] != '\0' && static_cast<unsigned char>(szSrc[n]) < 0x80)
        ++n;
    if (szSrc[n] == '\0' && n < kStackUnits) {
        const char *szLocale = nullptr;
        if (VRALUnicodeGetLocale(0, &szLocale) < 0)
            return -1;
        if (asciiUpperIsPlain(szLocale)) {
            UChar *p = out_.reserve(kStackUnits);
            for (size_t i = 0; i < n; ++i)
                p[i] = plainUpper(static_cast<UChar>(szSrc[i]));
            p[n] = 0;
            return cch_ = static_cast<int32_t>(n);
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
