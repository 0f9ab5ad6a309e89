#include "base/err/vral_err.h"
#include "base/unicode/vral_unicode.h"

namespace {
// Opened once and kept for the life of the process.
UCollator *gpCollator = nullptr;
}

extern "C" UCollator *VRALUnicodeOpenCollator(void)
{
    if (gpCollator != nullptr)
        return gpCollator;
    const char *szLocale = nullptr;
    if (VRALUnicodeGetLocale(0, &szLocale) < 0)
        return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    // A fallback or root-built collator (a warning status) is good enough.
    gpCollator = ucol_open(szLocale, &status);
    if (gpCollator == nullptr)
        VRAL_ERR_SET(ERR_OPEN_FAILED);
    return gpCollator;
}
