// MD4 compression of RFC 1320 over the static chaining state.
#include <cstring>

#include "services/smbhash/smbhash_internal.h"

extern "C" {
uint32_t gMd4State[4];
}

extern "C" uint32_t Md4F(uint32_t x, uint32_t y, uint32_t z)
{
    return (x & y) | (~x & z);
}

extern "C" uint32_t Md4G(uint32_t x, uint32_t y, uint32_t z)
{
    return (x & y) | (x & z) | (y & z);
}

extern "C" uint32_t Md4H(uint32_t x, uint32_t y, uint32_t z)
{
    return x ^ y ^ z;
}

extern "C" uint32_t Md4RotateLeft(uint32_t word, int count)
{
    count &= 31;
    return count == 0 ? word : (word << count) | (word >> (32 - count));
}

extern "C" void Md4LoadBlock(uint32_t *pWords, const unsigned char *pBytes)
{
    for (int i = 0; i < 16; ++i) {
        const unsigned char *b = pBytes + 4 * i;
        pWords[i] = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
                    static_cast<uint32_t>(b[3]) << 24;
    }
}

extern "C" void Md4StoreLE32(unsigned char *pBytes, uint32_t word)
{
    for (int i = 0; i < 4; ++i)
        pBytes[i] = static_cast<unsigned char>(word >> (8 * i));
}

namespace {

using RoundFn = uint32_t (*)(uint32_t, uint32_t, uint32_t);

struct Round {
    RoundFn fn;
    uint32_t add;
    unsigned char order[16];
    int shifts[4];
};

const Round kRounds[3] = {
    {Md4F, 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {3, 7, 11, 19}},
    {Md4G, 0x5A827999u, {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15}, {3, 5, 9, 13}},
    {Md4H, 0x6ED9EBA1u, {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15}, {3, 9, 11, 15}},
};

}  // namespace

extern "C" void Md4Transform(const uint32_t *pWords)
{
    uint32_t v[4];
    memcpy(v, gMd4State, sizeof v);
    for (const Round &round : kRounds) {
        // Each step updates a, d, c, b in turn: word (4 - step) mod 4.
        for (int step = 0; step < 16; ++step) {
            const int i = (4 - step % 4) % 4;
            uint32_t &a = v[i];
            const uint32_t b = v[(i + 1) % 4], c = v[(i + 2) % 4], d = v[(i + 3) % 4];
            a = Md4RotateLeft(a + round.fn(b, c, d) + pWords[round.order[step]] + round.add, round.shifts[step % 4]);
        }
    }
    for (int i = 0; i < 4; ++i)
        gMd4State[i] += v[i];
    explicit_bzero(v, sizeof v);
}
