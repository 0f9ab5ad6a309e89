#include <cstdint>
#include <cstdlib>

#include "base/err/vral_err.h"
#include "base/string/vral_string.h"

namespace {

// The encoder's own result buffer: kept for the process and grown to fit
// the input, so no length overruns it.
char *gszResult = nullptr;
size_t gcbResult = 0;

bool reserve(size_t cb)
{
    if (cb <= gcbResult)
        return true;
    size_t cbNew = gcbResult == 0 ? 2048 : gcbResult;
    while (cbNew < cb)
        cbNew = cbNew > SIZE_MAX / 2 ? cb : cbNew * 2;
    auto *p = static_cast<char *>(realloc(gszResult, cbNew));
    if (p == nullptr)
        return false;
    gszResult = p;
    gcbResult = cbNew;
    return true;
}

// Base64 of cbData bytes; with fStopAtNul a NUL that begins a group of
// three ends the text.
char *encode(const unsigned char *pData, unsigned int cbData, bool fStopAtNul)
{
    if (pData == nullptr)
        return nullptr;
    uint64_t cbNeed = (static_cast<uint64_t>(cbData) + 2) / 3 * 4 + 1;
    if (cbNeed > SIZE_MAX || !reserve(static_cast<size_t>(cbNeed))) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    char *out = gszResult;
    size_t at = 0;
    for (unsigned int i = 0; i < cbData && !(fStopAtNul && pData[i] == 0); i += 3) {
        unsigned int n = cbData - i < 3 ? cbData - i : 3;
        unsigned int b0 = pData[i];
        unsigned int b1 = n > 1 ? pData[i + 1] : 0;
        unsigned int b2 = n > 2 ? pData[i + 2] : 0;
        out[at++] = Base64ValueToChar(static_cast<int>(b0 >> 2));
        out[at++] = Base64ValueToChar(static_cast<int>((b0 << 4) | (b1 >> 4)));
        out[at++] = n > 1 ? Base64ValueToChar(static_cast<int>((b1 << 2) | (b2 >> 6))) : '=';
        out[at++] = n > 2 ? Base64ValueToChar(static_cast<int>(b2)) : '=';
        if (n < 3)
            break;
    }
    out[at] = '\0';
    return out;
}

}  // namespace

// Callers pass a string's length plus one or a whole buffer and get the
// text's encoding.
extern "C" char *SzBase64EncodeOneLine(const unsigned char *pData, unsigned int cbData)
{
    return encode(pData, cbData, true);
}

extern "C" char *SzBase64EncodeBytes(const unsigned char *pData, unsigned int cbData)
{
    return encode(pData, cbData, false);
}
