// The string scrambler written plainly on the test side: its tables from
// the 12 characters of the key buffer, and the byte mapping.  The mapping
// is its own inverse, so it also turns scrambled bytes back into the text.
#ifndef VEXA_TEST_SCRAMBLER_REFERENCE_H
#define VEXA_TEST_SCRAMBLER_REFERENCE_H

#include <cstdint>
#include <string>
#include <utility>

namespace vexatest::scrambler {

// The key buffer's text: the first 12 characters of the DES crypt of the
// fixed key and salt.
inline constexpr char kKey12[] = "JXZOanL.B.wr";

struct Tables {
    unsigned char rotor[256] = {};
    unsigned char inverse[256] = {};
    unsigned char reflector[256] = {};
};

// The derivation written out step by step, the seed kept in 64 bits and
// wrapped to a signed 32-bit value after every step.
inline int32_t wrap32(int64_t v)
{
    v &= 0xffffffffLL;
    return static_cast<int32_t>(v >= 0x80000000LL ? v - 0x100000000LL : v);
}

inline Tables referenceTables(const char *key12)
{
    unsigned char buffer[13] = {};
    for (int i = 0; i < 12; ++i)
        buffer[i] = static_cast<unsigned char>(key12[i]);
    Tables t;
    int32_t seed = 824;
    for (int i = 0; i <= 12; ++i)
        seed = wrap32(static_cast<int64_t>(seed) * buffer[i] + i);
    for (int i = 0; i < 256; ++i)
        t.rotor[i] = static_cast<unsigned char>(i);
    for (int i = 0; i < 256; ++i) {
        const int k = 255 - i;
        seed = wrap32(static_cast<int64_t>(seed) * 5 + buffer[i % 13]);
        const int32_t r = seed % 65521;
        const unsigned low = static_cast<unsigned>(r) & 0xff;
        const unsigned mid = (static_cast<unsigned>(r) >> 8) & 0xff;
        const int ic = static_cast<int>(low % static_cast<unsigned>(k + 1));
        std::swap(t.rotor[k], t.rotor[ic]);
        if (t.reflector[k] != 0)
            continue;
        int jc = static_cast<int>(mid % static_cast<unsigned>(k));
        while (t.reflector[jc] != 0)
            jc = (jc + 1) % k;
        t.reflector[k] = static_cast<unsigned char>(jc);
        t.reflector[jc] = static_cast<unsigned char>(k);
    }
    for (int i = 0; i < 256; ++i)
        t.inverse[t.rotor[i]] = static_cast<unsigned char>(i);
    return t;
}

inline std::string referenceScramble(const Tables &t, const std::string &in)
{
    std::string out;
    int step = 0;
    int turn = 0;
    for (unsigned char c : in) {
        const int x = t.rotor[(c + step) % 256];
        const int y = t.reflector[(x + turn) % 256];
        const int z = t.inverse[((y - turn) % 256 + 256) % 256];
        out += static_cast<char>(((z - step) % 256 + 256) % 256);
        if (++step == 256) {
            step = 0;
            turn = (turn + 1) % 256;
        }
    }
    return out;
}

}  // namespace vexatest::scrambler

#endif
