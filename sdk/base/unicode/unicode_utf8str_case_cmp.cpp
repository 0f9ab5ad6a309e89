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
    UpperText a;
    if (a.set(szA) < 0)
        return -2;
    UpperText b;
    if (b.set(szB) < 0)
        return -2;
    return collate(pColl, a, b);
}
