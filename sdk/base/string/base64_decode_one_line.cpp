#include "base/err/vral_err.h"
#include "base/string/vral_string.h"

namespace {

int decodeChar(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

struct Sink {
    unsigned char *dst;
    unsigned int cap;
    unsigned int n = 0;
    // Once full, decoding goes on validating but drops the bytes.
    void put(int b)
    {
        if (n < cap)
            dst[n++] = static_cast<unsigned char>(b);
    }
};

}  // namespace

extern "C" int Base64DecodeOneLine(const char *szSrc, unsigned int cchSrc, unsigned char *pDst, unsigned int *pcbDst)
{
    if (szSrc == nullptr || pDst == nullptr || pcbDst == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return 0;
    }
    Sink out{pDst, *pcbDst};
    const auto *s = reinterpret_cast<const unsigned char *>(szSrc);
    unsigned int rem = cchSrc;
    while (rem > 1) {
        int v1 = decodeChar(s[0]);
        int v2 = decodeChar(s[1]);
        if (v1 < 0 || v2 < 0)
            break;
        out.put((v1 << 2) | (v2 >> 4));
        if (rem == 2)
            break;

        if (s[2] == '=') {
            if (rem == 4 && s[3] == '=')
                rem = 0;
            break;
        }
        int v3 = decodeChar(s[2]);
        if (v3 < 0)
            break;
        out.put(((v2 & 15) << 4) | (v3 >> 2));
        if (rem == 3)
            break;

        if (s[3] == '=') {
            if (rem == 4)
                rem = 0;
            break;
        }
        int v4 = decodeChar(s[3]);
        if (v4 < 0)
            break;
        out.put(((v3 & 3) << 6) | v4);
        s += 4;
        rem -= 4;
    }
    *pcbDst = out.n;
    return rem == 0 ? 1 : 0;
}
