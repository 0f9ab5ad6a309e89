// Scratch buffers for the ICU calls of the Unicode helpers.
#ifndef VRAL_UNICODE_SCRATCH_H
#define VRAL_UNICODE_SCRATCH_H

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include <unicode/ustring.h>

#include "base/err/vral_err.h"

namespace vral::unicode {

// Scratch text can be a password (the LAN Manager hash upper-cases one):
// it is wiped before the block goes back to the heap.
struct WipeFreeDeleter {
    void operator()(void *p) const
    {
        if (p != nullptr)
            explicit_bzero(p, malloc_usable_size(p));
        free(p);
    }
};

using UBuf = std::unique_ptr<UChar, WipeFreeDeleter>;
using CBuf = std::unique_ptr<char, WipeFreeDeleter>;

template <typename T>
inline T *allocUnits(size_t n)
{
    return static_cast<T *>(malloc(sizeof(T) * n));
}

// A scratch buffer of factor * n + 1 elements, its size stored in *pCap;
// nullptr with ERR_OUT_OF_MEMORY when that size overflows or is not there.
template <typename T>
inline T *allocScaled(size_t n, int32_t factor, int32_t *pCap)
{
    if (n > static_cast<size_t>((INT32_MAX - 1) / factor)) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    *pCap = static_cast<int32_t>(static_cast<size_t>(factor) * n + 1);
    T *p = allocUnits<T>(static_cast<size_t>(*pCap));
    if (p == nullptr)
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
    return p;
}

// UTF-8 to UTF-16 into a buffer of 2n+1 units for n bytes, which always
// suffices.  Returns the unit count, or -1 with the failure recorded.
inline int fromUTF8(const char *szSrc, UBuf &out)
{
    int32_t cap = 0;
    out.reset(allocScaled<UChar>(strlen(szSrc), 2, &cap));
    if (!out)
        return -1;
    UErrorCode status = U_ZERO_ERROR;
    int32_t cch = 0;
    u_strFromUTF8(out.get(), cap, &cch, szSrc, -1, &status);
    if (U_FAILURE(status) || cch >= cap) {
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }
    return cch;
}

// The caller's buffer gets the whole text of cb bytes (zero bytes of a wide
// encoding included) and a terminator when it fits, else an empty string.
// Returns cb.
inline int deliver(const char *pText, int cb, char *szOut, int cbOut)
{
    if (cbOut > 0) {
        if (cb < cbOut) {
            memcpy(szOut, pText, static_cast<size_t>(cb));
            szOut[cb] = '\0';
        } else {
            szOut[0] = '\0';
        }
    }
    return cb;
}

// Upper-cases UTF-8 into UTF-16 (the first step of the key form and of the
// case-insensitive comparison).  Returns the unit count, or -1.
int upperUTF16(const char *szSrc, UBuf &out);

}  // namespace vral::unicode

#endif
