// MD4 of a whole message: full blocks, then the padded tail with the
// message length in bits.
#include <cstring>

#include "services/smbhash/smbhash_internal.h"

namespace {

// The block buffer holds message bytes (password text for the NT hash).
struct Md4Work {
    unsigned char block[64];
    uint32_t words[16];
    ~Md4Work()
    {
        explicit_bzero(this, sizeof *this);
        explicit_bzero(gMd4State, sizeof gMd4State);
    }
};

}  // namespace

extern "C" void Md4Digest(const unsigned char *pMsg, size_t cbMsg, unsigned char *pOut)
{
    Md4Work w{};
    gMd4State[0] = 0x67452301u;
    gMd4State[1] = 0xEFCDAB89u;
    gMd4State[2] = 0x98BADCFEu;
    gMd4State[3] = 0x10325476u;

    size_t off = 0;
    for (; cbMsg - off >= 64; off += 64) {
        Md4LoadBlock(w.words, pMsg + off);
        Md4Transform(w.words);
    }

    const size_t rest = cbMsg - off;
    memset(w.block, 0, sizeof w.block);
    if (rest > 0)
        memcpy(w.block, pMsg + off, rest);
    w.block[rest] = 0x80;
    if (rest > 55) {
        Md4LoadBlock(w.words, w.block);
        Md4Transform(w.words);
        memset(w.block, 0, sizeof w.block);
    }
    const uint64_t bits = static_cast<uint64_t>(cbMsg) * 8;
    Md4StoreLE32(w.block + 56, static_cast<uint32_t>(bits));
    Md4StoreLE32(w.block + 60, static_cast<uint32_t>(bits >> 32));
    Md4LoadBlock(w.words, w.block);
    Md4Transform(w.words);

    for (int i = 0; i < 4; ++i)
        Md4StoreLE32(pOut + 4 * i, gMd4State[i]);
}
