#include <cstring>

#include <unicode/ucnv.h>

#include "base/unicode/unicode_scratch.h"
#include "base/unicode/vral_unicode.h"

using namespace vral::unicode;

extern "C" int VRALUnicodeStrUTF8ToCP(int id, const char *szSrc, char *szOut, int cbOut)
{
    if (szSrc == nullptr || cbOut < 0 || (szOut == nullptr && cbOut > 0)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (id == VRAL_CONVERTOR_UTF8) {
        size_t cb = strlen(szSrc);
        if (cb > INT32_MAX) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        return deliver(szSrc, static_cast<int>(cb), szOut, cbOut);
    }

    UConverter *pConv = VRALUnicodeOpenConvertor(id);
    if (pConv == nullptr)
        return -1;

    UScratch utf16;
    int cch = fromUTF8(szSrc, utf16);
    if (cch < 0)
        return -1;

    // Measure first: a byte-order mark or a stateful encoding's shifts come
    // on top of the per-character bytes.
    UErrorCode status = U_ZERO_ERROR;
    int32_t cbNeed = ucnv_fromUChars(pConv, nullptr, 0, utf16.get(), cch, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }
    if (cbNeed < 0 || cbNeed == INT32_MAX) {
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }
    CScratch out;
    if (out.reserve(static_cast<size_t>(cbNeed) + 1) == nullptr)
        return -1;
    status = U_ZERO_ERROR;
    int32_t cb = ucnv_fromUChars(pConv, out.get(), cbNeed + 1, utf16.get(), cch, &status);
    if (U_FAILURE(status) || cb > cbNeed) {
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }
    return deliver(out.get(), cb, szOut, cbOut);
}
