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

    // One conversion into room for the worst case (a byte-order mark or a
    // stateful encoding's shifts included): measuring first would let ICU
    // convert into a buffer of its own on the stack, and the text can be a
    // password (the LAN Manager hash).
    const size_t cbMax = UCNV_GET_MAX_BYTES_FOR_STRING(static_cast<size_t>(cch), ucnv_getMaxCharSize(pConv));
    if (cbMax >= INT32_MAX) {
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }
    CScratch out;
    if (out.reserve(cbMax + 1) == nullptr)
        return -1;
    UErrorCode status = U_ZERO_ERROR;
    // A character the code page lacks fails the conversion: a substitute
    // byte would give texts that differ the same bytes (and passwords one
    // LAN Manager hash).
    ucnv_setFromUCallBack(pConv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) {
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }
    int32_t cb = ucnv_fromUChars(pConv, out.get(), static_cast<int32_t>(cbMax) + 1, utf16.get(), cch, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || cb > static_cast<int32_t>(cbMax)) {
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }
    return deliver(out.get(), cb, szOut, cbOut);
}
