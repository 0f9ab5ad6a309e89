// Scratch buffers for the ICU calls of the Unicode helpers.
#ifndef VRAL_UNICODE_SCRATCH_H
#define VRAL_UNICODE_SCRATCH_H

#include <cstdlib>
#include <cstring>
#include <memory>

#include <unicode/ustring.h>

#include "base/err/vral_err.h"

namespace vral::unicode {

struct FreeDeleter {
    void operator()(void *p) const { free(p); }
};
using UBuf = std::unique_ptr<UChar, FreeDeleter>;
using CBuf = std::unique_ptr<char, FreeDeleter>;

template <typename T>
inline T *allocUnits(size_t n)
{
    return static_cast<T *>(malloc(sizeof(T) * n));
}

// UTF-8 to UTF-16 into a buffer of 2n+1 units for n bytes, which always
// suffices.  Returns the unit count, or -1 with the failure recorded.
inline int fromUTF8(const char *szSrc, UBuf &out)
{
    size_t cb = strlen(szSrc);
    if (cb > (INT32_MAX - 1) / 2) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    int32_t cap = static_cast<int32_t>(2 * cb + 1);
    out.reset(allocUnits<UChar>(static_cast<size_t>(cap)));
    if (!out) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    UErrorCode status = U_ZERO_ERROR;
    int32_t cch = 0;
    u_strFromUTF8(out.get(), cap, &cch, szSrc, -1, &status);
    if (U_FAILURE(status) || cch >= cap) {
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }
    return cch;
}

// Upper-cases UTF-8 into UTF-16 (the first step of the key form and of the
// case-insensitive comparison).  Returns the unit count, or -1.
int upperUTF16(const char *szSrc, UBuf &out);

}  // namespace vral::unicode

#endif
