#include <cstdlib>
#include <cstring>

#include <unicode/ustring.h>

#include "base/err/vral_err.h"
#include "base/unicode/vral_unicode.h"

extern "C" int VRALUnicodeUTF16StrUpper(const UChar *pSrc, UChar **ppOut, int cchOut)
{
    if (pSrc == nullptr || ppOut == nullptr || *ppOut == nullptr || cchOut <= 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const char *szLocale = nullptr;
    if (VRALUnicodeGetLocale(0, &szLocale) < 0)
        return -1;

    UErrorCode status = U_ZERO_ERROR;
    int32_t cch = u_strToUpper(*ppOut, cchOut, pSrc, -1, szLocale, &status);
    if (U_SUCCESS(status) && cch < cchOut)
        return cch;
    // ICU hands back a result that exactly fills the buffer unterminated,
    // with only a warning: that counts as too small, like an overflow.
    if (cch < cchOut || cch >= INT32_MAX) {
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }

    int cchNew = cch + 1;
    // A fresh block rather than realloc, which would free the old one with
    // its text (a password's, for the LAN Manager hash) still in it.
    auto *pNew = static_cast<UChar *>(malloc(sizeof(UChar) * static_cast<size_t>(cchNew)));
    if (pNew == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    explicit_bzero(*ppOut, sizeof(UChar) * static_cast<size_t>(cchOut));
    free(*ppOut);
    *ppOut = pNew;
    status = U_ZERO_ERROR;
    cch = u_strToUpper(*ppOut, cchNew, pSrc, -1, szLocale, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || cch >= cchNew) {
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }
    return cch;
}
