// NT hash: MD4 over the password as UCS-2 little-endian.
#include <climits>
#include <cstring>

#include "base/err/err_log.h"
#include "base/err/vral_err.h"
#include "services/smbhash/smbhash_internal.h"

namespace {

// Characters that count; the rest of a longer password is ignored.
constexpr int kMaxChars = 127;

// The password as UCS-2 text and as the message bytes; wiped on return.
struct NtWork {
    uint16_t units[kMaxChars];
    unsigned char msg[2 * kMaxChars];
    unsigned char hash[VEXA_SMB_HASH_SIZE];
    ~NtWork() { explicit_bzero(this, sizeof *this); }
};

bool isCont(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Decodes one character of strict UTF-8 inside the Basic Multilingual Plane
// at p into *pUnit; the number of bytes used, or 0 when there is none
// (stray continuation byte, four-byte or longer form, missing continuation,
// overlong form, surrogate).
int decodeOne(const unsigned char *p, uint16_t *pUnit)
{
    const unsigned char c = p[0];
    if (c < 0x80) {
        *pUnit = c;
        return 1;
    }
    if ((c & 0xE0) == 0xC0) {
        if (!isCont(p[1]))
            return 0;
        const uint16_t u = static_cast<uint16_t>((c & 0x1F) << 6 | (p[1] & 0x3F));
        if (u < 0x80)
            return 0;
        *pUnit = u;
        return 2;
    }
    if ((c & 0xF0) == 0xE0) {
        if (!isCont(p[1]) || !isCont(p[2]))
            return 0;
        const uint16_t u = static_cast<uint16_t>((c & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
        if (u < 0x800 || (u >= 0xD800 && u <= 0xDFFF))
            return 0;
        *pUnit = u;
        return 3;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAEncodingSmbMd4Hash(const char *szPassword, unsigned char *pOut, int cbOut)
{
    return vexa::smbhash::withStackWiped([&] {
        if (!vexa::smbhash::argsUsable(szPassword, pOut, cbOut))
            return -1;

        NtWork w{};
        // The whole password is checked, also past the characters that count:
        // hashing only the part before a bad sequence could give a weak hash
        // (the empty password's) for a password the user believes strong.
        const unsigned char *p = reinterpret_cast<const unsigned char *>(szPassword);
        int nChars = 0;
        while (*p != 0) {
            uint16_t unit = 0;
            const int cb = decodeOne(p, &unit);
            if (cb == 0) {
                VRAL_LOG_ERR("Bad UTF-8 character after [%d]-th character of the password", nChars);
                VRAL_ERR_SET(ERR_CONVERSION_FAILED);
                return -1;
            }
            if (nChars < kMaxChars)
                w.units[nChars] = unit;
            if (nChars < INT_MAX)
                ++nChars;
            p += cb;
        }

        const int nUsed = nChars < kMaxChars ? nChars : kMaxChars;
        for (int i = 0; i < nUsed; ++i) {
            w.msg[2 * i] = static_cast<unsigned char>(w.units[i]);
            w.msg[2 * i + 1] = static_cast<unsigned char>(w.units[i] >> 8);
        }
        Md4Digest(w.msg, static_cast<size_t>(2 * nUsed), w.hash);
        memcpy(pOut, w.hash, sizeof w.hash);
        return 0;
    });
}
