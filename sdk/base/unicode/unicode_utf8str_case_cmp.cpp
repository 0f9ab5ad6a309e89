#include "base/unicode/unicode_scratch.h"
#include "base/unicode/vral_unicode.h"

using namespace vral::unicode;

extern "C" int VRALUnicodeUTF8StrCaseCmp(const char *szA, const char *szB)
{
    if (szA == nullptr || szB == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -2;
    }
    UCollator *pColl = VRALUnicodeOpenCollator();
    if (pColl == nullptr)
        return -2;

    // Both sides are upper-cased first, so case never decides the order even
    // at the collator's default strength.
    UBuf a;
    UBuf b;
    int cchA = upperUTF16(szA, a);
    if (cchA < 0)
        return -2;
    int cchB = upperUTF16(szB, b);
    if (cchB < 0)
        return -2;

    UCollationResult r = ucol_strcoll(pColl, a.get(), cchA, b.get(), cchB);
    if (r == UCOL_LESS)
        return -1;
    if (r == UCOL_EQUAL)
        return 0;
    return 1;
}
