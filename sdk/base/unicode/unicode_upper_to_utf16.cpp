#include "base/unicode/unicode_scratch.h"
#include "base/unicode/vral_unicode.h"

namespace vral::unicode {

int upperUTF16(const char *szSrc, UBuf &out)
{
    UBuf src;
    int cch = fromUTF8(szSrc, src);
    if (cch < 0)
        return -1;
    int32_t cap = 0;
    UChar *p = allocScaled<UChar>(static_cast<size_t>(cch), 2, &cap);
    if (p == nullptr)
        return -1;
    // The upper-caser may replace the block; whatever p holds is ours.
    int cchUpper = VRALUnicodeUTF16StrUpper(src.get(), &p, cap);
    out.reset(p);
    return cchUpper;
}

}  // namespace vral::unicode
