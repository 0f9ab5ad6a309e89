#include <crypt.h>
#include <syslog.h>

#include <cstdint>
#include <cstring>

#include "services/crypt/vexa_crypt.h"

unsigned char gStrCryptRotor[256];
unsigned char gStrCryptInvRotor[256];
unsigned char gStrCryptReflector[256];
char gStrCryptKey[VEXA_STRCRYPT_KEY_SIZE];

namespace {

constexpr char kKey[] = "KQRTZ_5.3";
constexpr char kSalt[] = "JX";

void clearTables()
{
    memset(gStrCryptRotor, 0, sizeof gStrCryptRotor);
    memset(gStrCryptInvRotor, 0, sizeof gStrCryptInvRotor);
    memset(gStrCryptReflector, 0, sizeof gStrCryptReflector);
    memset(gStrCryptKey, 0, sizeof gStrCryptKey);
}

}  // namespace

extern "C" int VEXAStrCryptInitTables(void)
{
    clearTables();
    // libcrypt reports a failure as a short "*0"-style text rather than
    // NULL; tables built from that would not be the appliance's.
    const char *szCrypt = crypt(kKey, kSalt);
    if (szCrypt == nullptr || strlen(szCrypt) != 13 || szCrypt[0] == '*') {
        syslog(LOG_ERR, "%s %s(%d): crypt failed", "crypt_str_crypt", __func__, __LINE__);
        return -1;
    }
    // The first 12 characters only; the thirteenth is not kept.
    memcpy(gStrCryptKey, szCrypt, VEXA_STRCRYPT_KEY_SIZE - 1);
    const auto *key = reinterpret_cast<const unsigned char *>(gStrCryptKey);

    // The seed is a wrapping signed 32-bit int: unsigned arithmetic, read
    // back as signed where its sign matters.
    uint32_t seed = 824;
    for (uint32_t i = 0; i < VEXA_STRCRYPT_KEY_SIZE; ++i)
        seed = seed * key[i] + i;

    for (int i = 0; i < 256; ++i)
        gStrCryptRotor[i] = static_cast<unsigned char>(i);

    for (int i = 0; i < 256; ++i) {
        const int k = 255 - i;
        seed = seed * 5u + key[i % VEXA_STRCRYPT_KEY_SIZE];
        const int32_t r = static_cast<int32_t>(seed) % 65521;
        const auto bits = static_cast<uint32_t>(r);
        int ic = static_cast<int>((bits & 0xffu) % static_cast<uint32_t>(k + 1));
        const unsigned char t = gStrCryptRotor[k];
        gStrCryptRotor[k] = gStrCryptRotor[ic];
        gStrCryptRotor[ic] = t;
        if (gStrCryptReflector[k] != 0)
            continue;
        // Pairs are made from the top down, so position 0 is always taken
        // by the time k reaches 0.
        ic = static_cast<int>(((bits >> 8) & 0xffu) % static_cast<uint32_t>(k));
        while (gStrCryptReflector[ic] != 0)
            ic = (ic + 1) % k;
        gStrCryptReflector[k] = static_cast<unsigned char>(ic);
        gStrCryptReflector[ic] = static_cast<unsigned char>(k);
    }

    for (int i = 0; i < 256; ++i)
        gStrCryptInvRotor[gStrCryptRotor[i]] = static_cast<unsigned char>(i);
    return 0;
}
