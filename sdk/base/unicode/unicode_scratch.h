// Scratch buffers for the ICU calls of the Unicode helpers.  Names and key
// forms fit on the stack, so the frequent calls (every comparison of a
// case-sorted list) allocate nothing; longer texts go to the heap.
#ifndef VRAL_UNICODE_SCRATCH_H
#define VRAL_UNICODE_SCRATCH_H

#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <unicode/ustring.h>

#include "base/err/vral_err.h"
#include "base/unicode/vral_unicode.h"

namespace vral::unicode {

// Scratch text can be a password (the LAN Manager hash upper-cases one):
// it is wiped before a heap block is freed or a stack scratch goes out of
// scope.
struct WipeFreeDeleter {
    void operator()(void *p) const
    {
        if (p != nullptr)
            explicit_bzero(p, malloc_usable_size(p));
        free(p);
    }
};

template <typename T>
using WipedHeapPtr = std::unique_ptr<T, WipeFreeDeleter>;

template <typename T>
inline T *allocUnits(size_t n)
{
    return static_cast<T *>(malloc(sizeof(T) * n));
}

// Room for N elements on the stack, or a heap block when more are asked.
template <typename T, int32_t N>
class Scratch {
public:
    Scratch() = default;
    ~Scratch() { explicit_bzero(stack_, sizeof(T) * stackUsed_); }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;

    // Room for n elements (what was there before is dropped): nullptr with
    // ERR_OUT_OF_MEMORY when that cannot be had.
    T *reserve(size_t n)
    {
        if (n <= static_cast<size_t>(N)) {
            heap_.reset();
            cap_ = N;
            if (n > stackUsed_)
                stackUsed_ = n;
            return p_ = stack_;
        }
        T *p = n <= INT32_MAX ? allocUnits<T>(n) : nullptr;
        if (p == nullptr) {
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            return nullptr;
        }
        heap_.reset(p);
        cap_ = static_cast<int32_t>(n);
        return p_ = p;
    }

    T *get() const { return p_; }
    int32_t cap() const { return cap_; }

private:
    T stack_[N];
    WipedHeapPtr<T> heap_;
    T *p_ = stack_;
    size_t stackUsed_ = 0;
    int32_t cap_ = N;
};

// Enough for a name and its key form (at most 492 bytes) in every step.
constexpr int32_t kStackUnits = 512;
using UScratch = Scratch<UChar, kStackUnits>;
using CScratch = Scratch<char, 3 * kStackUnits + 1>;

// A scratch of factor * n + 1 elements, the sizes that always suffice;
// nullptr with ERR_OUT_OF_MEMORY when that size overflows or is not there.
template <typename S>
inline auto *reserveScaled(S &s, size_t n, int32_t factor)
{
    if (n > static_cast<size_t>((INT32_MAX - 1) / factor)) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return static_cast<decltype(s.get())>(nullptr);
    }
    return s.reserve(static_cast<size_t>(factor) * n + 1);
}

// UTF-8 to UTF-16; n bytes never give more than n units.  Returns the unit
// count, or -1 with the failure recorded; *pRefused (when given) tells a
// text that is not valid UTF-8 (ERR_CONVERSION_FAILED).
inline int fromUTF8(const char *szSrc, UScratch &out, bool *pRefused = nullptr)
{
    if (pRefused != nullptr)
        *pRefused = false;
    UChar *p = reserveScaled(out, strlen(szSrc), 1);
    if (p == nullptr)
        return -1;
    UErrorCode status = U_ZERO_ERROR;
    int32_t cch = 0;
    u_strFromUTF8(p, out.cap(), &cch, szSrc, -1, &status);
    if (U_FAILURE(status) || cch >= out.cap()) {
        if (pRefused != nullptr)
            *pRefused = true;
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }
    return cch;
}

// Upper-cases the terminated UTF-16 text src under the collation locale
// into out: first into what out holds, and when the text grows beyond that
// once more into out.reserve(the length reported + 1).  Out offers UChar
// *get(), int32_t cap() and UChar *reserve(size_t) (nullptr with the
// failure recorded).  Returns the length, or -1 with the failure recorded; *pRefused
// tells that ICU refused the text itself (ERR_CONVERSION_FAILED).
template <typename Out>
int upperInto(const UChar *src, Out &out, bool *pRefused)
{
    *pRefused = false;
    const char *szLocale = nullptr;
    if (VRALUnicodeGetLocale(0, &szLocale) < 0)
        return -1;

    UErrorCode status = U_ZERO_ERROR;
    int32_t cch = u_strToUpper(out.get(), out.cap(), src, -1, szLocale, &status);
    if (U_SUCCESS(status) && cch < out.cap())
        return cch;
    // ICU hands back a result that exactly fills the buffer unterminated,
    // with only a warning: that counts as too small, like an overflow.
    if (cch < out.cap() || cch >= INT32_MAX) {
        *pRefused = true;
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }

    int32_t cchNew = cch + 1;
    UChar *p = out.reserve(static_cast<size_t>(cchNew));
    if (p == nullptr)
        return -1;
    status = U_ZERO_ERROR;
    cch = u_strToUpper(p, cchNew, src, -1, szLocale, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || cch >= cchNew) {
        *pRefused = true;
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }
    return cch;
}

// The upper-cased UTF-16 form of a UTF-8 string: the first step of the key
// form and of the case-insensitive comparison.
class UpperText {
public:
    // Returns the unit count, or -1 with the failure recorded.
    int set(const char *szSrc);

    const UChar *text() const { return out_.get(); }
    int32_t length() const { return cch_; }
    // The last set() failed on the text itself (not valid UTF-8, or refused
    // by the upper-casing), not for want of memory or locale.
    bool refused() const { return refused_; }

private:
    UScratch src_;
    UScratch out_;
    int32_t cch_ = -1;
    bool refused_ = false;
};

// -1, 0 or 1 as the upper-cased text a collates before, with or after b.
inline int collate(UCollator *pColl, const UpperText &a, const UpperText &b)
{
    UCollationResult r = ucol_strcoll(pColl, a.text(), a.length(), b.text(), b.length());
    if (r == UCOL_LESS)
        return -1;
    return r == UCOL_EQUAL ? 0 : 1;
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

}  // namespace vral::unicode

#endif
