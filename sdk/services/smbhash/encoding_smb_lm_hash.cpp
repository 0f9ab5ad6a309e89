// LAN Manager hash: the upper-cased password in the configured code page,
// as two DES keys for a fixed block.
#include <cstring>

#include "base/err/vral_err.h"
#include "base/unicode/vral_unicode.h"
#include "services/smbhash/smbhash_internal.h"

namespace {

constexpr int kTextSize = 128;
constexpr int kKeyBytes = 14;
const unsigned char kMagic[8] = {'K', 'G', 'S', '!', '@', '#', '$', '%'};

// Copies of the password; wiped on return.
struct LmWork {
    char upper[kTextSize];
    char cp[kTextSize];
    unsigned char key[kKeyBytes];
    unsigned char hash[VEXA_SMB_HASH_SIZE];
    ~LmWork() { explicit_bzero(this, sizeof *this); }
};

}  // namespace

extern "C" int VEXAEncodingSmbLmHash(const char *szPassword, unsigned char *pOut, int cbOut)
{
    return vexa::smbhash::withStackWiped([&] {
        if (!vexa::smbhash::argsUsable(szPassword, pOut, cbOut))
            return -1;

        LmWork w{};
        const int cbUpper = VRALUnicodeUTF8StrUpper(szPassword, w.upper, kTextSize);
        if (cbUpper < 0 || cbUpper >= kTextSize)
            return -1;

        int id = -1;
        if (VEXAConfCodePageGet(VRAL_CODEPAGE_FIRST, &id) < 0)
            return -1;
        const int cbCp = VRALUnicodeStrUTF8ToCP(id, w.upper, w.cp, kTextSize);
        if (cbCp < 0 || cbCp >= kTextSize)
            return -1;

        // Up to the first NUL, cut or zero-padded to 14 bytes.
        memcpy(w.key, w.cp, strnlen(w.cp, kKeyBytes));
        SmbDesHash(w.hash, kMagic, w.key, 1);
        SmbDesHash(w.hash + 8, kMagic, w.key + 7, 1);
        memcpy(pOut, w.hash, sizeof w.hash);
        return 0;
    });
}
