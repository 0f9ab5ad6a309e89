#include <cstdlib>
#include <cstring>

#include "base/err/vral_err.h"
#include "base/unicode/unicode_scratch.h"
#include "base/unicode/vral_unicode.h"

namespace {

// The caller's heap block, replaced by a larger one. A fresh block rather
// than realloc, which would free the old one with its text (a password's,
// for the LAN Manager hash) still in it; the old block stays when that fails.
struct CallerBlock {
    UChar **ppOut;
    int32_t cch;

    UChar *get() const { return *ppOut; }
    int32_t cap() const { return cch; }
    UChar *reserve(size_t n)
    {
        auto *p = static_cast<UChar *>(malloc(sizeof(UChar) * n));
        if (p == nullptr) {
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            return nullptr;
        }
        explicit_bzero(*ppOut, sizeof(UChar) * static_cast<size_t>(cch));
        free(*ppOut);
        *ppOut = p;
        cch = static_cast<int32_t>(n);
        return p;
    }
};

}  // namespace

extern "C" int VRALUnicodeUTF16StrUpper(const UChar *pSrc, UChar **ppOut, int cchOut)
{
    if (pSrc == nullptr || ppOut == nullptr || *ppOut == nullptr || cchOut <= 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    CallerBlock out{ppOut, cchOut};
    bool fRefused = false;
    return vral::unicode::upperInto(pSrc, out, &fRefused);
}
