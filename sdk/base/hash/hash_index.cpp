#include <cstdint>
#include <cstring>

#include "base/hash/vral_hash.h"

extern "C" int VRALSzHashIndex(const char *szKey, int nSlot)
{
    if (szKey == nullptr || nSlot <= 0)
        return -1;
    // Sum of the key's little-endian 32-bit words, the last one zero-padded.
    uint32_t sum = 0;
    auto *p = reinterpret_cast<const unsigned char *>(szKey);
    size_t n = strlen(szKey);
    for (size_t i = 0; i < n; i += 4) {
        uint32_t word = 0;
        for (size_t j = 0; j < 4 && i + j < n; ++j)
            word |= static_cast<uint32_t>(p[i + j]) << (8 * j);
        sum += word;
    }
    return static_cast<int>(sum % static_cast<uint32_t>(nSlot));
}
