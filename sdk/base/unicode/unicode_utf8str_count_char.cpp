#include "base/unicode/unicode_scratch.h"
#include "base/unicode/vral_unicode.h"

using namespace vral::unicode;

extern "C" int VRALUnicodeUTF8StrCountChar(const char *szSrc)
{
    if (szSrc == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    UScratch text;
    int cch = fromUTF8(szSrc, text);
    if (cch < 0)
        return -1;
    return u_countChar32(text.get(), cch);
}
