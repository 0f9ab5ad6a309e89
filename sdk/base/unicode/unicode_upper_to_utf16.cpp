#include "base/unicode/unicode_scratch.h"
#include "base/unicode/vral_unicode.h"

namespace vral::unicode {

int upperUTF16(const char *szSrc, UBuf &out)
{
    UBuf src;
    int cch = fromUTF8(szSrc, src);
    if (cch < 0)
        return -1;
    if (cch > (INT32_MAX - 1) / 2) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    int cap = 2 * cch + 1;
    UChar *p = allocUnits<UChar>(static_cast<size_t>(cap));
    if (p == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    // The upper-caser may replace the block; whatever p holds is ours.
    int cchUpper = VRALUnicodeUTF16StrUpper(src.get(), &p, cap);
    out.reset(p);
    return cchUpper;
}

}  // namespace vral::unicode
