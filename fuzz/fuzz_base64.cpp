// Base64 decoding of arbitrary text, and encode-decode round trips.
// Input: one byte for the output size, then the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/string/vral_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    unsigned int cbDst = data[0];
    const char *src = reinterpret_cast<const char *>(data + 1);
    unsigned int cch = static_cast<unsigned int>(size - 1);

    std::vector<unsigned char> dst(cbDst + 1, 0xAA);
    unsigned int cb = cbDst;
    int r = Base64DecodeOneLine(src, cch, dst.data(), &cb);
    if ((r != 0 && r != 1) || cb > cbDst || dst[cbDst] != 0xAA)
        abort();

    // Bytes without NUL encode and decode back to themselves.
    size_t n = size - 1 < 1533 ? size - 1 : 1533;
    if (n > 0 && memchr(src, 0, n) == nullptr) {
        const char *enc = SzBase64EncodeOneLine(reinterpret_cast<const unsigned char *>(src), static_cast<unsigned>(n));
        if (enc == nullptr)
            abort();
        std::vector<unsigned char> back(n + 3);
        unsigned int cbBack = static_cast<unsigned int>(back.size());
        if (Base64DecodeOneLine(enc, static_cast<unsigned>(strlen(enc)), back.data(), &cbBack) != 1 || cbBack != n ||
            memcmp(back.data(), src, n) != 0)
            abort();
    }
    return 0;
}
