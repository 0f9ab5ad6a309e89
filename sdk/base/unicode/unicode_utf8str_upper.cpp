#include "base/unicode/unicode_scratch.h"
#include "base/unicode/vral_unicode.h"

using namespace vral::unicode;

extern "C" int VRALUnicodeUTF8StrUpper(const char *szSrc, char *szOut, int cbOut)
{
    if (szSrc == nullptr || cbOut < 0 || (szOut == nullptr && cbOut > 0)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (szSrc[0] == '\0')
        return deliver(szSrc, 0, szOut, cbOut);

    UpperText upper;
    int cchUpper = upper.set(szSrc);
    if (cchUpper < 0)
        return -1;

    // At most three UTF-8 bytes per UTF-16 unit.
    CScratch utf8;
    if (reserveScaled(utf8, static_cast<size_t>(cchUpper), 3) == nullptr)
        return -1;
    UErrorCode status = U_ZERO_ERROR;
    int32_t cb = 0;
    u_strToUTF8(utf8.get(), utf8.cap(), &cb, upper.text(), cchUpper, &status);
    if (U_FAILURE(status) || cb >= utf8.cap()) {
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }
    return deliver(utf8.get(), cb, szOut, cbOut);
}
