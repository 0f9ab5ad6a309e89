#include <crypt.h>
#include <syslog.h>

#include <cstring>

#include "services/netbkp/vexa_netbkp.h"

namespace {

// crypt() takes its DES-based path for this salt and uses "tu" of it.
constexpr char kSalt[] = "tuvb";

}  // namespace

extern "C" int VEXANetBkpCryptPass(const char *szPassword, char *szOut, int cbOut)
{
    if (szPassword == nullptr || szOut == nullptr || cbOut < 0)
        return -1;
    const char *szHash = crypt(szPassword, kSalt);
    // A failed call may also answer with a text that starts with "*".
    if (szHash == nullptr || szHash[0] == '*') {
        syslog(LOG_ERR, "%s(%d): crypt() failed!!", __func__, __LINE__);
        return -1;
    }
    if (cbOut == 0)
        return 0;
    memset(szOut, 0, static_cast<size_t>(cbOut));
    strncpy(szOut, szHash, static_cast<size_t>(cbOut) - 1);
    return 0;
}
